#pragma once
// A child process whose files may not grow past a limit: a full disk that
// needs no file system of its own.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace sigilon::test {

/// Runs `body` in a child process that may write files of at most `bytes`
/// and returns the child's wait status (its exit code is what `body`
/// returns). A longer write fails with "File too large", or, with
/// `killedByLimit`, the limit's signal ends the child there and then.
inline int RunUnderFileSizeLimit(rlim_t bytes, const std::function<int()>& body,
                                 bool killedByLimit = false) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    ::signal(SIGXFSZ, killedByLimit ? SIG_DFL : SIG_IGN);
    const rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(body());
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child ? status : -1;
}

}  // namespace sigilon::test
