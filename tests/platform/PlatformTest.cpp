#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/Platform.h"

#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

/// What a shell command prints, less the final line break; the command must succeed.
std::string CommandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  EXPECT_EQ(::pclose(pipe), 0) << command;
  if (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

/// The probe's two lines (start directory, user name) when started in
/// `directory`. PWD is made wrong: what counts is the process's own directory.
std::string RunProbeIn(const std::string& directory) {
  return CommandOutput("cd '" + directory +
                       "' && PWD=/sigilon-elsewhere exec '" SIGILON_PLATFORM_PROBE "'");
}

bool WaitFor(const std::string& path) {
  for (int i = 0; i < 100; ++i) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

// The probe changes its working directory before it asks.
TEST(NewProcess, SeesItsStartDirectoryWithOneSlashAndTheUserName) {
  const std::string name = CurrentUserName();
  EXPECT_EQ(name, CommandOutput("id -un"));
  test::TempDirectory temp;
  EXPECT_EQ(RunProbeIn(temp.Path()), temp.Path() + "/\n" + name);
  EXPECT_EQ(RunProbeIn("/"), "//\n" + name);
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

  for (const char* web : {"https://www.example.com/", "git+ssh://host/repo"}) {
    EXPECT_TRUE(IsWebAddress(web)) << web;
  }
  for (const char* other :
       {"mailto:someone@example.com", "://x", "1http://x", "/usr/bin/x http://x"}) {
    EXPECT_FALSE(IsWebAddress(other)) << other;
  }
}

TEST(RunProgram, FalseWhenNothingCanBeStarted) {
  for (const char* commandLine : {"", "   ", "sigilon-no-such-program-anywhere",
                                  "/nonexistent/directory/program --flag", "\"\" x"}) {
    EXPECT_FALSE(RunProgram(commandLine, 3)) << commandLine;
  }
  RunProgram("sigilon-no-such-program-anywhere");  // reports nothing
}

TEST(RunProgram, StartsDetachedWithQuotedArguments) {
  test::TempDirectory temp;
  const std::string target = temp / "with blank.txt";
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
  test::TempDirectory temp;
  const std::string target = temp / std::string(200, 'n');
  const std::string commandLine = "touch " + target + " " + target + "-second";
  ASSERT_GT(commandLine.size(), 255u);
  ASSERT_TRUE(RunProgram(commandLine, 3));
  EXPECT_TRUE(WaitFor(target + "-second"));
}

// A program it starts does not keep it either.
TEST(NamedMutex, ExistsWhileItsOwnerLives) {
  const std::string name = "Kestro_Sigilon_Test_" + std::to_string(::getpid());
  {
    TNamedMutex first(name);
    EXPECT_TRUE(first.Owned());
    TNamedMutex second(name);
    EXPECT_FALSE(second.Owned());
    ASSERT_TRUE(RunProgram("sleep 2", 3));
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

}  // namespace
}  // namespace sigilon
