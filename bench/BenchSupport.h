#pragma once
// Timing whole sigilon-brand processes from a benchmark.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace sigilon::bench {

/// A scratch folder with empty "source/" and "target/" folders in it, named
/// for the benchmark and this process; removed with everything in it.
struct TScratchFolders {
  std::filesystem::path root;
  std::string source, target;  ///< each ends with "/"
  /// Where the baselines write: a file the program just wrote is still being
  /// written back, and rewriting it costs more than writing a new one.
  std::string baseline;

  explicit TScratchFolders(const std::string& name)
      : root(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))),
        source((root / "source").string() + "/"),
        target((root / "target").string() + "/"),
        baseline((root / "baseline").string() + "/") {
    std::filesystem::create_directories(source);
    std::filesystem::create_directories(target);
    std::filesystem::create_directories(baseline);
  }
  ~TScratchFolders() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  TScratchFolders(const TScratchFolders&) = delete;
  TScratchFolders& operator=(const TScratchFolders&) = delete;
};

/// The sigilon-brand built into the same folder as the running benchmark.
inline std::string BrandProgram() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "sigilon-brand").string();
}

/// Runs a program with its output thrown away; its exit status, or -1 when
/// it could not start or did not exit.
inline int RunQuietly(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace sigilon::bench
