#include "platform/Processes.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/PosixSupport.h"

extern char** environ;

namespace sigilon {

using posix::TFileDescriptor;

bool IsWebAddress(const std::string& commandLine) {
  // A URI scheme: a letter, then letters, digits, "+", "-" or ".", then "://".
  const auto colon = commandLine.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!isAlpha(commandLine[0])) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = commandLine[i];
    if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> arguments;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (const char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      inArgument = true;  // "" is an empty argument
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
      if (inArgument) arguments.push_back(current);
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) arguments.push_back(current);
  return arguments;
}

bool RunProgram(const std::string& commandLine, std::uint16_t /*showState*/) {
  // The show state has no meaning for a process started on Linux; the
  // started program decides how its windows appear.
  std::vector<std::string> arguments;
  if (IsWebAddress(commandLine)) {
    arguments = {"xdg-open", commandLine};
  } else {
    arguments = SplitCommandLine(commandLine);
  }
  if (arguments.empty() || arguments[0].empty()) return false;

  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (::posix_spawn_file_actions_init(&actions) != 0) return false;
  // The started program must not read the program's own standard input.
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attributes;
  if (::posix_spawnattr_init(&attributes) != 0) {
    ::posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  // Its own session: closing the program's terminal does not end it.
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

  pid_t child = 0;
  // glibc reports a program that cannot be executed as an error here.
  const int error = ::posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return false;

  // Reap the child whenever it ends so it never lingers as a zombie; the
  // program does not wait for it.
  try {
    std::thread([child] {
      int status = 0;
      while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread the child still runs; it is reaped when we exit.
  }
  return true;
}

void RunProgram(const std::string& commandLine) { RunProgram(commandLine, 3); }

// A socket bound to a name in the abstract namespace: the kernel removes the
// name with the last descriptor, so it vanishes also when the process is killed.
struct TNamedMutex::Impl {
  TFileDescriptor socket;
  bool owned = false;
};

TNamedMutex::TNamedMutex(const std::string& name) : impl_(std::make_unique<Impl>()) {
  // Close-on-exec: a program started with RunProgram must not keep it alive.
  TFileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // sun_path[0] stays zero: the abstract namespace. Longer names are cut.
  const std::size_t length = std::min(name.size(), sizeof(address.sun_path) - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), size) != 0) return;
  impl_->socket = std::move(fd);
  impl_->owned = true;
}

TNamedMutex::~TNamedMutex() = default;

bool TNamedMutex::Owned() const { return impl_->owned; }

}  // namespace sigilon
