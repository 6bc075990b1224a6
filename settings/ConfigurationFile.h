#pragma once
/// TConfigurationFile: the per-user store of named text values, kept
/// scrambled in "<application title>.cfg" in the start directory.

#include <cstdint>
#include <string>
#include <vector>

namespace sigilon {

/// Largest configuration file that is read. One user's settings scramble to
/// about a kilobyte, so this holds hundreds of users; a bigger file (anyone
/// who shares the start directory can write one) is not read at all and
/// loads as an unreadable file does.
inline constexpr std::uint64_t kMaxConfigurationFileBytes = std::uint64_t{1} << 20;

/// The application title: the caption of every message box and the stem of
/// the configuration file name. The program entry sets it to "Sigilon".
void SetApplicationTitle(const std::string& title);
std::string ApplicationTitle();

class TConfigurationFile {
 public:
  /// Fixes the file name from the application title; does not touch the file.
  TConfigurationFile();
  /// A store kept in the file at `path` (a script names the window's file).
  explicit TConfigurationFile(std::string path);
  /// Does not save.
  ~TConfigurationFile();

  /// Reads and unscrambles the file; true when it is valid for the current
  /// user. False for a file over kMaxConfigurationFileBytes. Never raises.
  bool Load();
  /// Adds the current user's header entry when missing, scrambles and writes
  /// the file; true when it was written. Never raises.
  bool Save();

  bool HasValue(const std::string& name) const;
  /// The value of the current user's entry, or the empty text.
  std::string ReadValue(const std::string& name) const;
  /// Sets the current user's entry, in memory; the entry moves to the end.
  void WriteValue(const std::string& name, const std::string& value);
  /// Drops the current user's entry, in memory; nothing when there is none.
  void RemoveValue(const std::string& name);
  /// The names of the current user's entries, in the file's order.
  std::vector<std::string> Names() const;

  /// The file name without directory ("Sigilon.cfg").
  const std::string& FileName() const { return fileName_; }
  /// The entry lines as they stand (for tests and diagnostics).
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::string Path() const;

  std::string fileName_;
  /// Empty: the file name in the start directory.
  std::string path_;
  std::vector<std::string> lines_;
};

}  // namespace sigilon
