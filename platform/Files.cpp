#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/PosixSupport.h"

namespace sigilon {

using posix::BaseNameOf;
using posix::DirectoryOf;
using posix::TFileDescriptor;
using posix::ThrowPlatformError;
using posix::WriteAll;

namespace {

// Opens a file that is only ever read; a directory is refused.
TFileDescriptor OpenForReading(const std::string& path, struct stat& info) {
  TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) ThrowPlatformError("Cannot open file", path, errno);
  if (::fstat(fd.Get(), &info) != 0) ThrowPlatformError("Cannot examine file", path, errno);
  if (S_ISDIR(info.st_mode)) ThrowPlatformError("Cannot read file", path, EISDIR);
  return fd;
}

}  // namespace

TFileReader::TFileReader(const std::string& path) : path_(path) {
  struct stat info {};
  TFileDescriptor fd = OpenForReading(path, info);
  if (S_ISREG(info.st_mode) && info.st_size > 0) size_ = static_cast<std::uint64_t>(info.st_size);
  fd_ = fd.Release();
}

TFileReader::~TFileReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t TFileReader::Read(std::span<std::byte> buffer) {
  return ReadAt(static_cast<std::uint64_t>(posix::kAtPosition), buffer);
}

std::size_t TFileReader::ReadAt(std::uint64_t offset, std::span<std::byte> buffer) const {
  std::size_t filled = 0;
  int error = 0;
  if (!posix::ReadAll(fd_, buffer, static_cast<std::int64_t>(offset), filled, error)) {
    ThrowPlatformError("Cannot read file", path_, error);
  }
  return filled;
}

std::vector<std::byte> ReadWholeFile(const std::string& path, std::uint64_t maxBytes) {
  struct stat info {};
  TFileDescriptor fd = OpenForReading(path, info);
  const auto tooLarge = [&] {
    throw PlatformError("Cannot read file \"" + path + "\": expected at most " +
                        std::to_string(maxBytes) + " bytes, found more");
  };
  if (S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) > maxBytes) tooLarge();

  // The size is only a hint: the file may grow or shrink while it is read,
  // and a device or pipe has none, so the limit is checked as bytes arrive.
  std::vector<std::byte> data;
  data.reserve(S_ISREG(info.st_mode) && info.st_size > 0 ? static_cast<std::size_t>(info.st_size)
                                                         : 0);
  std::byte chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowPlatformError("Cannot read file", path, errno);
    }
    if (n == 0) break;
    if (static_cast<std::uint64_t>(n) > maxBytes - data.size()) tooLarge();
    data.insert(data.end(), chunk, chunk + n);
  }
  return data;
}

bool IsReadOnlyFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

void WriteWholeFile(const std::string& path, std::span<const std::byte> data) {
  if (IsReadOnlyFile(path)) ThrowPlatformError("Cannot write file", path, EACCES);
  TFileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.Get() < 0) ThrowPlatformError("Cannot create file", path, errno);
  int error = 0;
  if (!WriteAll(fd.Get(), data, error)) ThrowPlatformError("Cannot write file", path, error);
  if (fd.Close() != 0) ThrowPlatformError("Cannot write file", path, errno);
}

void ReplaceFileAtomically(const std::string& path, std::span<const std::byte> data) {
  if (IsReadOnlyFile(path)) ThrowPlatformError("Cannot write file", path, EACCES);

  // Through a link, replace the file it leads to, not the link itself.
  std::string finalPath = path;
  struct stat linkInfo {};
  if (::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      finalPath = resolved;
      std::free(resolved);
    }
  }
  struct stat oldInfo {};
  const bool existed = ::stat(finalPath.c_str(), &oldInfo) == 0;
  if (existed && S_ISDIR(oldInfo.st_mode)) ThrowPlatformError("Cannot write file", path, EISDIR);

  // The temporary file must lie in the same directory: rename is atomic only
  // within one file system.
  static std::atomic<unsigned> counter{0};
  const std::string stem = DirectoryOf(finalPath) + "/." + BaseNameOf(finalPath) + "." +
                           std::to_string(::getpid()) + ".";
  std::string temporary;
  TFileDescriptor fd;
  for (int attempt = 0; attempt < 100 && fd.Get() < 0; ++attempt) {
    temporary = stem + std::to_string(counter++) + ".tmp";
    fd = TFileDescriptor(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.Get() < 0 && errno != EEXIST) ThrowPlatformError("Cannot create file", temporary, errno);
  }
  if (fd.Get() < 0) ThrowPlatformError("Cannot create file", temporary, EEXIST);

  int error = 0;
  bool ok = WriteAll(fd.Get(), data, error);
  if (ok && existed) {
    // Keep the old file's permissions and, where allowed, its owner.
    if (::fchmod(fd.Get(), oldInfo.st_mode & 07777) != 0) {
      ok = false;
      error = errno;
    } else if (::fchown(fd.Get(), oldInfo.st_uid, oldInfo.st_gid) != 0) {
      // Not being allowed to give the file away is fine.
    }
  }
  if (ok && ::fsync(fd.Get()) != 0) {
    ok = false;
    error = errno;
  }
  if (fd.Close() != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(temporary.c_str(), finalPath.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    ThrowPlatformError("Cannot write file", path, error);
  }
  // Make the rename itself durable; a failure here loses nothing already written.
  TFileDescriptor directory(
      ::open(DirectoryOf(finalPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() >= 0) ::fsync(directory.Get());
}

}  // namespace sigilon
