#pragma once
/// What the platform helpers share among themselves and nothing else
/// includes: errno turned into PlatformError, an owned file descriptor,
/// complete writes, and the parts of a path.

#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace sigilon::posix {

/// Throws PlatformError(what, path, the system's text for `error`).
[[noreturn]] void ThrowPlatformError(const std::string& what, const std::string& path, int error);

/// Closes a file descriptor when it leaves scope.
class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd = -1) : fd_(fd) {}
  ~TFileDescriptor() { Reset(); }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  TFileDescriptor(TFileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  TFileDescriptor& operator=(TFileDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int Get() const { return fd_; }
  /// Closes now and reports close's own error (for files just written).
  int Close();
  void Reset();
  /// Hands the descriptor over to a new owner.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

/// Writes all of `data`, going on after interruptions; false with the
/// system's error in `error` when it cannot.
bool WriteAll(int fd, std::span<const std::byte> data, int& error);

/// Where ReadAll and WriteAllAt read or write: the descriptor's position
/// (which then moves on), or an offset from the file's start.
inline constexpr std::int64_t kAtPosition = -1;

/// Fills `buffer` from `offset` (or kAtPosition) as far as the file goes,
/// going on after interruptions; the bytes read in `filled`. False with the
/// system's error in `error` when it cannot.
bool ReadAll(int fd, std::span<std::byte> buffer, std::int64_t offset, std::size_t& filled,
             int& error);

/// Writes all of `data` at `offset` from the file's start, as WriteAll.
bool WriteAllAt(int fd, std::span<const std::byte> data, std::int64_t offset, int& error);

/// The directory part of a path ("." when the path has no "/", "/" for a
/// name directly under the root).
std::string DirectoryOf(const std::string& path);

/// The part of a path after its last "/" (the whole path when it has none).
std::string BaseNameOf(const std::string& path);

}  // namespace sigilon::posix
