#pragma once
// Files that may not grow past a limit, in a child process or for a while in
// this one: a full disk that needs no file system of its own.

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

/// While it lives, files of this whole process may grow to at most `bytes`
/// (a longer write fails with "File too large"); for checks that must run in
/// the test's own process, such as the leak check at its exit.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    savedSignal_ = ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, saved_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~TFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, savedSignal_);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t savedSignal_ = SIG_DFL;
};

}  // namespace sigilon::test
