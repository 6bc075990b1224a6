// Reports the start directory and user name as a new process records them,
// after moving away from the directory it was started in.
#include <unistd.h>

#include <cstdio>

#include "platform/Platform.h"

int main() {
  if (::chdir("/tmp") != 0) return 2;
  std::printf("%s\n%s\n", sigilon::StartDirectory().c_str(), sigilon::CurrentUserName().c_str());
  return 0;
}
