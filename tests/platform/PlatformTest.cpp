#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/PathText.h"
#include "platform/ProcessEnvironment.h"
#include "platform/Processes.h"

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

// How long a started program may take on a machine busy with other work.
constexpr auto kGenerousTimeout = 60s;

/// Waits until `condition` holds; false when it still does not after the timeout.
template <typename Condition>
bool WaitUntil(const Condition& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kGenerousTimeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

bool WaitFor(const std::string& path) {
  return WaitUntil([&] { return fs::exists(path); });
}

/// Waits until this process has no child left, running or ended and not yet
/// collected. It only looks (WNOWAIT): collecting is RunProgram's own job.
bool AllChildrenReaped() {
  return WaitUntil([] {
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno == ECHILD;
  });
}

/// A named pipe that holds a started program until the test opens it, so
/// that the program is known to be still running, whatever the machine's pace.
class TGate {
 public:
  explicit TGate(std::string path) : path_(std::move(path)) {
    if (::mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    // Held open both ways, so the program's open never blocks and its read
    // waits for the line Open writes, also when that line comes first.
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path_);
  }
  ~TGate() {
    Open();
    ::close(fd_);
  }
  TGate(const TGate&) = delete;
  TGate& operator=(const TGate&) = delete;
  /// A shell command that ends only once the gate is opened.
  std::string WaitCommand() const { return "read line < " + path_; }
  void Open() {
    if (!opened_) opened_ = ::write(fd_, "\n", 1) == 1;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool opened_ = false;
};

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
  TGate gate(temp / "gate");
  const std::string target = temp / "with blank.txt";
  // An empty IFS keeps the blank inside $0 without quotes in the script.
  auto started = std::async(std::launch::async, [&] {
    return RunProgram("sh -c \"IFS=; " + gate.WaitCommand() + "; touch $0\" \"" + target + "\"", 1);
  });
  // It does not wait for the program, which cannot end before the gate opens.
  const bool returned = started.wait_for(kGenerousTimeout) == std::future_status::ready;
  EXPECT_FALSE(fs::exists(target));
  gate.Open();
  ASSERT_TRUE(returned) << "RunProgram waited for the program";
  ASSERT_TRUE(started.get());
  ASSERT_TRUE(WaitFor(target));

  // The ended program is reaped: no child of ours is left to collect.
  EXPECT_TRUE(AllChildrenReaped());
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
  test::TempDirectory temp;
  TGate gate(temp / "gate");
  const std::string name = "Kestro_Sigilon_Test_" + std::to_string(::getpid());
  {
    TNamedMutex first(name);
    EXPECT_TRUE(first.Owned());
    TNamedMutex second(name);
    EXPECT_FALSE(second.Owned());
    // Still running at the gate when the owner lets go.
    ASSERT_TRUE(RunProgram("sh -c \"" + gate.WaitCommand() + "\"", 3));
  }
  // The started program's copy closes when it executes, which the kernel may
  // finish a moment after RunProgram has returned: wait for it, while the
  // program itself still waits at the gate.
  EXPECT_TRUE(WaitUntil([&] { return TNamedMutex(name).Owned(); }));
  gate.Open();
  EXPECT_TRUE(AllChildrenReaped());
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

// Names compare with only a-z folded, whatever the locale; a directory text
// gets exactly one slash and no directory stays none.
TEST(PathText, TrailingSlashAndAsciiUpperCase) {
  EXPECT_EQ(WithTrailingSlash(""), "");
  EXPECT_EQ(WithTrailingSlash("/"), "/");
  EXPECT_EQ(WithTrailingSlash("photos"), "photos/");
  EXPECT_EQ(WithTrailingSlash("/srv/photos/"), "/srv/photos/");
  EXPECT_EQ(AsciiUpper("azAZ09.jpg"), "AZAZ09.JPG");
  EXPECT_EQ(AsciiUpper("\xc3\xa4\xc3\xbf.\xb5mp"), "\xc3\xa4\xc3\xbf.\xb5MP");
  EXPECT_EQ(AsciiUpper('{'), '{');
  EXPECT_EQ(AsciiUpper('`'), '`');
}

}  // namespace
}  // namespace sigilon
