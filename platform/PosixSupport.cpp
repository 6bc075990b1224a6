#include "platform/PosixSupport.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/PlatformError.h"

namespace sigilon::posix {

void ThrowPlatformError(const std::string& what, const std::string& path, int error) {
  throw PlatformError(what, path, std::generic_category().message(error));
}

int TFileDescriptor::Close() {
  const int result = fd_ >= 0 ? ::close(fd_) : 0;
  fd_ = -1;
  return result;
}

void TFileDescriptor::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool WriteAll(int fd, std::span<const std::byte> data, int& error) {
  return WriteAllAt(fd, data, kAtPosition, error);
}

bool WriteAllAt(int fd, std::span<const std::byte> data, std::int64_t offset, int& error) {
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n =
        offset == kAtPosition
            ? ::write(fd, data.data() + written, data.size() - written)
            : ::pwrite(fd, data.data() + written, data.size() - written,
                       static_cast<off_t>(offset + static_cast<std::int64_t>(written)));
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    if (n == 0) {
      error = EIO;
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, std::span<std::byte> buffer, std::int64_t offset, std::size_t& filled,
             int& error) {
  filled = 0;
  while (filled < buffer.size()) {
    const ssize_t n = offset == kAtPosition
                          ? ::read(fd, buffer.data() + filled, buffer.size() - filled)
                          : ::pread(fd, buffer.data() + filled, buffer.size() - filled,
                                    static_cast<off_t>(offset + static_cast<std::int64_t>(filled)));
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace sigilon::posix
