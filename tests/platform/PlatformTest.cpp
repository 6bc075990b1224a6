#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "settings/PlatformDependence_Unit.h"

extern char** environ;

namespace sigilon {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

/// Runs the probe program with the given working directory; its output.
std::string RunProbeIn(const std::string& directory) {
  int pipeEnds[2];
  EXPECT_EQ(::pipe(pipeEnds), 0);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  char program[] = SIGILON_PLATFORM_PROBE;
  char* argv[] = {program, nullptr};
  pid_t child = 0;
  const int error = ::posix_spawn(&child, program, &actions, nullptr, argv, environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  std::string output;
  char buffer[256];
  ssize_t n = 0;
  while ((n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) output.append(buffer, n);
  ::close(pipeEnds[0]);
  EXPECT_EQ(error, 0);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return output;
}

std::string CommandOutput(const char* command) {
  std::string output;
  if (FILE* pipe = ::popen(command, "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    ::pclose(pipe);
  }
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

class TempDirectory {
 public:
  TempDirectory() {
    std::string pattern = (fs::temp_directory_path() / "sigilon-platform-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDirectory() { fs::remove_all(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

bool WaitFor(const std::string& path) {
  for (int i = 0; i < 100; ++i) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

TEST(StartDirectory, IsTheWorkingDirectoryAtStartWithOneSlash) {
  TempDirectory temp;
  // The probe changes its working directory before it asks.
  const std::string output = RunProbeIn(temp.Path());
  EXPECT_EQ(output.substr(0, output.find('\n')), temp.Path() + "/");
  const std::string fromRoot = RunProbeIn("/");
  EXPECT_EQ(fromRoot.substr(0, fromRoot.find('\n')), "//");
}

TEST(CurrentUserName, IsTheEffectiveUsersLogOnName) {
  const std::string name = CurrentUserName();
  EXPECT_EQ(name, CommandOutput("id -un"));
  EXPECT_EQ(name.find('\0'), std::string::npos);
  const std::string probe = RunProbeIn("/");
  EXPECT_EQ(probe.substr(probe.find('\n') + 1), name + "\n");
}

TEST(RunProgram, SplitsCommandLinesWithoutAShell) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine("prog  a\tb "), (Args{"prog", "a", "b"}));
  EXPECT_EQ(SplitCommandLine("\"/opt/My Programs/x\" \"a b\" c"),
            (Args{"/opt/My Programs/x", "a b", "c"}));
  EXPECT_EQ(SplitCommandLine("x \"\" y"), (Args{"x", "", "y"}));
  EXPECT_EQ(SplitCommandLine("a\"b c\"d"), (Args{"ab cd"}));
  EXPECT_EQ(SplitCommandLine("x \"open end"), (Args{"x", "open end"}));
  EXPECT_EQ(SplitCommandLine("C:\\dir\\x $HOME;ls"), (Args{"C:\\dir\\x", "$HOME;ls"}));
  EXPECT_TRUE(SplitCommandLine("   ").empty());

  EXPECT_TRUE(IsWebAddress("https://www.example.com/"));
  EXPECT_TRUE(IsWebAddress("git+ssh://host/repo"));
  EXPECT_FALSE(IsWebAddress("mailto:someone@example.com"));
  EXPECT_FALSE(IsWebAddress("://x"));
  EXPECT_FALSE(IsWebAddress("1http://x"));
  EXPECT_FALSE(IsWebAddress("/usr/bin/x http://x"));
}

TEST(RunProgram, FalseWhenNothingCanBeStarted) {
  EXPECT_FALSE(RunProgram("", 3));
  EXPECT_FALSE(RunProgram("   ", 3));
  EXPECT_FALSE(RunProgram("sigilon-no-such-program-anywhere", 3));
  EXPECT_FALSE(RunProgram("/nonexistent/directory/program --flag", 3));
  EXPECT_FALSE(RunProgram("\"\" x", 3));
  RunProgram("sigilon-no-such-program-anywhere");  // reports nothing
}

TEST(RunProgram, StartsDetachedWithQuotedArguments) {
  TempDirectory temp;
  const std::string target = temp.Path() + "/with blank.txt";
  const auto started = std::chrono::steady_clock::now();
  // An empty IFS keeps the blank inside $0 without quotes in the script.
  ASSERT_TRUE(RunProgram("sh -c \"sleep 1; IFS=; touch $0\" \"" + target + "\"", 1));
  // It does not wait for the program.
  EXPECT_LT(std::chrono::steady_clock::now() - started, 900ms);
  EXPECT_FALSE(fs::exists(target));
  ASSERT_TRUE(WaitFor(target));

  // The ended program is reaped: no child of ours is left to collect.
  std::this_thread::sleep_for(300ms);
  int status = 0;
  errno = 0;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(RunProgram, LongCommandLinesArePassedWhole) {
  TempDirectory temp;
  const std::string target = temp.Path() + "/" + std::string(200, 'n');
  const std::string commandLine = "touch " + target + " " + target + "-second";
  ASSERT_GT(commandLine.size(), 255u);
  ASSERT_TRUE(RunProgram(commandLine, 3));
  EXPECT_TRUE(WaitFor(target + "-second"));
}

TEST(NamedMutex, ExistsWhileItsOwnerLives) {
  const std::string name = "Kestro_Sigilon_Test_" + std::to_string(::getpid());
  {
    TNamedMutex first(name);
    EXPECT_TRUE(first.Owned());
    TNamedMutex second(name);
    EXPECT_FALSE(second.Owned());
  }
  TNamedMutex afterRelease(name);
  EXPECT_TRUE(afterRelease.Owned());
}

TEST(NamedMutex, VanishesWhenTheOwnerIsKilled) {
  const std::string name = "Kestro_Sigilon_Kill_" + std::to_string(::getpid());
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    TNamedMutex held(name);
    const char owned = held.Owned() ? '1' : '0';
    (void)!::write(pipeEnds[1], &owned, 1);
    for (;;) ::pause();
  }
  char owned = 0;
  ASSERT_EQ(::read(pipeEnds[0], &owned, 1), 1);
  EXPECT_EQ(owned, '1');
  {
    TNamedMutex whileHeld(name);
    EXPECT_FALSE(whileHeld.Owned());
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  TNamedMutex afterKill(name);
  EXPECT_TRUE(afterKill.Owned());
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
}

TEST(NamedMutex, StartedProgramsDoNotKeepIt) {
  const std::string name = "Kestro_Sigilon_Spawn_" + std::to_string(::getpid());
  {
    TNamedMutex held(name);
    ASSERT_TRUE(held.Owned());
    ASSERT_TRUE(RunProgram("sleep 2", 3));
  }
  TNamedMutex again(name);
  EXPECT_TRUE(again.Owned());
}

}  // namespace
}  // namespace sigilon
