#pragma once
/// Other processes: starting a program or a web address detached, without a
/// shell, and the named object by which a first copy of the program tells
/// itself from a second one.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sigilon {

/// Starts a command line detached, without a shell and without waiting. A
/// command line that is a web address ("scheme://...") is handed to the
/// desktop's URL opener. True when the process was started. Other command
/// lines are split by SplitCommandLine and the program is looked up on the
/// search path. The show state has no meaning on Linux and is ignored.
/// Command lines of any length are passed whole (no 255-character cut: a cut
/// would start a different command); the system's own limit gives false.
bool RunProgram(const std::string& commandLine, std::uint16_t showState);
/// The one-argument form: show state 3 (maximised), result discarded.
void RunProgram(const std::string& commandLine);

/// True when the text begins with a URI scheme followed by "://".
bool IsWebAddress(const std::string& commandLine);

/// Splits a command line into program and arguments: blanks, tabs and line
/// breaks separate; a double-quoted stretch keeps its blanks and loses the
/// quotes ("" alone is an empty argument); there is no escape character, so
/// backslashes are kept as they stand.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

/// A named system-wide object that exists while its owner lives and vanishes
/// when the process ends, also when it is killed. Creation never fails
/// visibly: a second copy of the program simply goes on.
class TNamedMutex {
 public:
  explicit TNamedMutex(const std::string& name);
  ~TNamedMutex();
  TNamedMutex(const TNamedMutex&) = delete;
  TNamedMutex& operator=(const TNamedMutex&) = delete;
  /// True when this process holds the object (the first copy of the program).
  bool Owned() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sigilon
