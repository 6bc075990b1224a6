#pragma once
/// Branded pictures written under their final names only when complete: a
/// hidden temporary file beside the target that a commit renames into place,
/// and the clean-up of temporaries that a killed run left behind.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/PlatformError.h"

namespace sigilon {

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
  /// Rewrites bytes already written, `offset` bytes from the start (for a
  /// file whose header points ahead to what follows it). Throws
  /// PlatformError.
  void WriteAt(std::uint64_t offset, std::span<const std::byte> data);
  /// Reads back bytes already written from `offset` on; returns how many.
  /// Throws PlatformError.
  std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) const;
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

/// Writes a whole target file through TTargetFile.
void WriteTargetFile(const std::string& path, std::span<const std::byte> data);

/// True when `name` is the name TTargetFile gives a file until it is complete.
bool IsTargetTemporaryName(const std::string& name);

/// Removes the temporary files of TTargetFile that a killed process of this
/// user left in `directory`: those of an ended process of this machine, and
/// those of any machine not written to for a day (a writer elsewhere cannot
/// be asked whether it runs). Files of this process, of running processes
/// written to within the day, of other users, and anything that is not a
/// plain file are left alone. Returns how many were removed.
int RemoveStaleTargetFiles(const std::string& directory);

}  // namespace sigilon
