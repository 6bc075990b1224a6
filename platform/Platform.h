#pragma once
/// Platform helpers: every operating-system call of the program goes through
/// this module, so a port to another system is this one module's work.
/// It does not depend on Qt: the engine and the settings storage both use it.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace sigilon {

/// A failed operating-system call; the message names the path and the reason.
class PlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  /// "WHAT \"PATH\": REASON", keeping the path and the reason apart for
  /// callers that report them their own way.
  PlatformError(const std::string& what, std::string path, std::string reason)
      : std::runtime_error(what + " \"" + path + "\": " + reason),
        path_(std::move(path)),
        reason_(std::move(reason)) {}
  /// The path the call failed on; empty when not known.
  const std::string& Path() const { return path_; }
  /// The system's text for the error ("Permission denied"); empty when not known.
  const std::string& Reason() const { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

/// The working directory as it stood when the program started, followed by
/// one "/" (appended whatever the text ends with: started in "/" gives "//").
/// Recorded during static initialisation, before any other code runs.
std::string StartDirectory();

/// Replaces the recorded start directory. Only tests call this, to keep the
/// configuration file in a directory of their own.
void SetStartDirectoryForTesting(const std::string& directory);

/// The log-on name of the effective user, asked of the user database at every
/// call; the empty text when the system has no name for the user.
std::string CurrentUserName();

/// The effective user's home directory as the user database gives it,
/// followed by "/"; empty when the system has no entry for the user.
std::string HomeDirectory();

/// The directory of the running program's file (links resolved), followed by
/// "/"; empty when the system cannot say.
std::string ProgramDirectory();
/// Replaces what ProgramDirectory reports (nothing: the real one again). Only
/// tests call this, so that files beside the test programs do not count.
void SetProgramDirectoryForTesting(const std::optional<std::string>& directory);

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

// ---- Memory ----------------------------------------------------------------

/// Memory for a whole picture. Blocks of several megabytes are backed by huge
/// pages where the system offers them: a 12-megapixel photo otherwise costs
/// some ten thousand page faults each time its pixels are touched afresh.
/// Throws std::bad_alloc. Free with FreeLargeBlock and the same size.
void* AllocateLargeBlock(std::size_t bytes);
void FreeLargeBlock(void* block, std::size_t bytes) noexcept;

// ---- Files -----------------------------------------------------------------

/// Reads a whole file. The file is only ever opened for reading. A file of
/// more than `maxBytes` bytes (also a device or pipe that keeps giving) fails
/// without being read further. Throws PlatformError naming the path.
std::vector<std::byte> ReadWholeFile(
    const std::string& path, std::uint64_t maxBytes = std::numeric_limits<std::uint64_t>::max());

/// True when `path` is an existing file that has no write permission bit at
/// all (what the user meant by read-only, also for root, who ignores bits).
bool IsReadOnlyFile(const std::string& path);

/// Creates the file, or empties and rewrites it if it exists. Refuses a
/// read-only file (IsReadOnlyFile). Throws PlatformError naming the path.
void WriteWholeFile(const std::string& path, std::span<const std::byte> data);

/// Writes the complete data to a temporary file in the same directory and
/// renames it into place, so a failure never destroys the old file. Refuses a
/// read-only file. Leaves no temporary file behind. Throws PlatformError.
void ReplaceFileAtomically(const std::string& path, std::span<const std::byte> data);

/// A branded picture on its way to its final name. The bytes go to a hidden
/// temporary file beside the target, created afresh (never an existing file,
/// never through a link), which Commit renames over the target; unless
/// committed, the temporary file is removed again, so no partial picture ever
/// stands under the final name. A target that is a symbolic link is replaced
/// by the picture, not written through; an existing target without any write
/// permission bit is refused (also for root) and left as it is.
class TTargetFile {
 public:
  /// Opens the temporary file. Throws PlatformError naming the path.
  explicit TTargetFile(const std::string& path);
  ~TTargetFile();
  TTargetFile(const TTargetFile&) = delete;
  TTargetFile& operator=(const TTargetFile&) = delete;
  /// Appends bytes. Throws PlatformError (a full disk, any write error).
  void Write(std::span<const std::byte> data);
  /// Puts the complete file under its final name. Throws PlatformError.
  void Commit();
  /// The hidden name the bytes go to until Commit.
  const std::string& TemporaryPath() const { return temporary_; }

 private:
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  bool committed_ = false;
  // An existing file is being replaced: its successor is handed to the disk
  // as it is written (see Write).
  bool replacing_ = false;
  std::uint64_t written_ = 0;
  std::uint64_t handedToDisk_ = 0;
};

/// A file read from start to end in pieces, for data too big to hold whole.
/// The file is only ever opened for reading.
class TFileReader {
 public:
  /// Opens the file. Throws PlatformError naming the path.
  explicit TFileReader(const std::string& path);
  ~TFileReader();
  TFileReader(const TFileReader&) = delete;
  TFileReader& operator=(const TFileReader&) = delete;
  /// Fills `buffer` as far as the file goes; returns the bytes read, 0 at
  /// the end. Throws PlatformError naming the path.
  std::size_t Read(std::span<std::byte> buffer);
  /// The file's size when it was opened (0 for what is not a plain file).
  std::uint64_t Size() const { return size_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

/// Writes a whole target file through TTargetFile.
void WriteTargetFile(const std::string& path, std::span<const std::byte> data);

/// True when `name` is the name TTargetFile gives a file until it is complete.
bool IsTargetTemporaryName(const std::string& name);

/// Removes the temporary files of TTargetFile that a process of this user on
/// this machine left in `directory` when it was killed. Files of processes
/// still running, of other users or other machines, and anything that is not
/// a plain file are left alone. Returns how many were removed.
int RemoveStaleTargetFiles(const std::string& directory);

// ---- Processors and signals ------------------------------------------------

/// Processors online now (at least 1).
int OnlineProcessors();

/// From now on the first SIGINT or SIGTERM only sets StopRequested(); a second
/// one has its usual effect, so a stuck program can still be stopped.
void CatchStopSignals();

/// True once a signal caught by CatchStopSignals has arrived.
bool StopRequested();

// ---- Directories -----------------------------------------------------------

/// Identity of a file system object (device and inode), following links.
struct TFileIdentity {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

/// Identity of the object at `path` (links followed); nothing when it does
/// not exist or cannot be examined.
std::optional<TFileIdentity> FileIdentity(const std::string& path);

/// True when `path` names an existing directory (links followed).
bool DirectoryExists(const std::string& path);

/// True when something exists at `path`: a file, a directory, or a link,
/// even one that leads nowhere.
bool PathExists(const std::string& path);

/// True when both paths name the same existing directory, whatever their
/// texts (other spelling, symbolic links, bind mounts of the same inode).
bool SameDirectory(const std::string& a, const std::string& b);

/// True when writing `targetPath` could change a file in the directory of
/// `sourcePath` or the source file itself: the target's directory is the
/// source's directory, or the target exists and is (a link to, or a hard link
/// of) a file in the source's directory.
bool TargetReachesSource(const std::string& sourcePath, const std::string& targetPath);

/// One entry of a directory listing.
struct TDirectoryEntry {
  std::string Name;
  /// A directory, or a symbolic link that leads to one.
  bool IsDirectory = false;
};

/// A live listing of one directory in the system's order, not sorted and not
/// recursive; "." and ".." are not reported.
class TDirectoryListing {
 public:
  /// Opens the listing; Valid() is false when the directory cannot be read.
  explicit TDirectoryListing(const std::string& directory);
  ~TDirectoryListing();
  TDirectoryListing(const TDirectoryListing&) = delete;
  TDirectoryListing& operator=(const TDirectoryListing&) = delete;
  bool Valid() const;
  /// The next entry, or nothing at the end.
  std::optional<TDirectoryEntry> Next();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sigilon
