#pragma once
/// Whole files read and written: reading that never opens for writing and
/// stops at a size limit, plain rewriting, and atomic replacement that never
/// destroys the old file. Every failure throws PlatformError naming the path.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "platform/PlatformError.h"

namespace sigilon {

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
  /// Fills `buffer` from `offset` bytes into the file, as far as the file
  /// goes, leaving the position Read goes on from alone; returns the bytes
  /// read. Throws PlatformError naming the path.
  std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) const;
  /// The file's size when it was opened (0 for what is not a plain file).
  std::uint64_t Size() const { return size_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

}  // namespace sigilon
