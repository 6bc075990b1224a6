#include "platform/TargetFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <ctime>

#include "platform/Directories.h"
#include "platform/PosixSupport.h"

namespace sigilon {

using posix::BaseNameOf;
using posix::DirectoryOf;
using posix::ThrowPlatformError;
using posix::WriteAll;

namespace {

// Bytes of a replacing target handed to the disk at a time: a few of the
// encoder's output buffers, few enough calls to cost nothing.
constexpr std::uint64_t kWriteOutChunk = 4 << 20;

// ".sigilon-partial.HOST.PID.COUNTER.NAME": hidden, says what it is, and
// names its writer so a later run can tell a dead writer's file from a live one.
constexpr const char* kPartialPrefix = ".sigilon-partial.";

// A temporary not written to for this long is a dead writer's, also when the
// writer ran on another machine of a shared folder and cannot be asked.
constexpr std::time_t kStaleTemporaryAge = 24 * 60 * 60;

std::string HostTag() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  std::string tag;
  for (const char* c = name; *c != '\0'; ++c) {
    const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                       (*c >= '0' && *c <= '9') || *c == '-';
    tag += plain ? *c : '-';
  }
  return tag.empty() ? "localhost" : tag;
}

const std::string& OwnHostTag() {
  static const std::string tag = HostTag();
  return tag;
}

// The part of a temporary name that identifies its writer: "HOST.PID.".
std::string WriterTag(pid_t pid) { return OwnHostTag() + "." + std::to_string(pid) + "."; }

// Whether the process of this machine whose number follows `pidStart` in a
// temporary's name has ended. A process that runs (or one that reuses the
// number) keeps its file; so does a name that names no process.
bool WriterHasEnded(const std::string& name, std::size_t pidStart) {
  const std::size_t pidEnd = name.find('.', pidStart);
  if (pidEnd == std::string::npos || pidEnd == pidStart) return false;
  pid_t pid = 0;
  const auto [last, error] = std::from_chars(name.data() + pidStart, name.data() + pidEnd, pid);
  if (error != std::errc() || last != name.data() + pidEnd || pid <= 0) return false;
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

TTargetFile::TTargetFile(const std::string& path) : path_(path) {
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) ThrowPlatformError("Cannot write file", path, EISDIR);
    // What the user made read-only stays as it is, even for root.
    if (S_ISREG(existing.st_mode) && (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
      ThrowPlatformError("Cannot write file", path, EACCES);
    }
    replacing_ = S_ISREG(existing.st_mode);
  }
  // In the target's own directory, since rename is atomic only within one
  // file system. A name longer than the system allows is cut: the temporary
  // name only has to be unique, which the writer tag and counter make it.
  static std::atomic<unsigned long> counter{0};
  const std::string directory = DirectoryOf(path);
  const std::string stem = kPartialPrefix + WriterTag(::getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem + std::to_string(counter++) + "." + BaseNameOf(path);
    if (name.size() > NAME_MAX) name.resize(NAME_MAX);
    temporary_ = directory + "/" + name;
    // Exclusive and not through a link: another user of a shared directory
    // cannot make this write land anywhere else.
    fd_ = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0) return;
    if (errno != EEXIST) ThrowPlatformError("Cannot create file", path, errno);
  }
  ThrowPlatformError("Cannot create file", path, EEXIST);
}

TTargetFile::~TTargetFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) ::unlink(temporary_.c_str());
}

void TTargetFile::Write(std::span<const std::byte> data) {
  if (fd_ < 0) ThrowPlatformError("Cannot write file", path_, EBADF);
  int error = 0;
  if (!WriteAll(fd_, data, error)) ThrowPlatformError("Cannot write file", path_, error);
  written_ += data.size();
  // A file renamed over another is written out by the file system at the
  // rename (ext4 does, so that a crash cannot leave an empty file where the
  // old one was): for a 24-megapixel copy a stall of a tenth of its
  // branding. Starting that writeout as the bytes come spreads it over the
  // encoding. Only a hint: write errors still surface in write and close.
  if (replacing_ && written_ - handedToDisk_ >= kWriteOutChunk) {
    ::sync_file_range(fd_, static_cast<off_t>(handedToDisk_),
                      static_cast<off_t>(written_ - handedToDisk_), SYNC_FILE_RANGE_WRITE);
    handedToDisk_ = written_;
  }
}

void TTargetFile::WriteAt(std::uint64_t offset, std::span<const std::byte> data) {
  int error = EBADF;
  if (fd_ < 0 || offset + data.size() > written_ ||
      !posix::WriteAllAt(fd_, data, static_cast<std::int64_t>(offset), error)) {
    ThrowPlatformError("Cannot write file", path_, error);
  }
}

std::size_t TTargetFile::ReadAt(std::uint64_t offset, std::span<std::byte> buffer) const {
  std::size_t filled = 0;
  int error = EBADF;
  if (fd_ < 0 || !posix::ReadAll(fd_, buffer, static_cast<std::int64_t>(offset), filled, error)) {
    ThrowPlatformError("Cannot write file", path_, error);
  }
  return filled;
}

void TTargetFile::Commit() {
  if (fd_ < 0) ThrowPlatformError("Cannot write file", path_, EBADF);
  // close reports the last write errors of some file systems (NFS quotas).
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) ThrowPlatformError("Cannot write file", path_, errno);
  // No fsync: a killed program is covered by the rename alone, and a flush
  // per picture would cost more than branding it on a big folder.
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
    ThrowPlatformError("Cannot write file", path_, errno);
  }
  committed_ = true;
}

void WriteTargetFile(const std::string& path, std::span<const std::byte> data) {
  TTargetFile file(path);
  file.Write(data);
  file.Commit();
}

bool IsTargetTemporaryName(const std::string& name) { return name.starts_with(kPartialPrefix); }

int RemoveStaleTargetFiles(const std::string& directory) {
  const std::string thisHost = kPartialPrefix + OwnHostTag() + ".";
  const std::string ownWriter = kPartialPrefix + WriterTag(::getpid());
  const std::string folder = directory.empty() ? "." : directory;
  const std::time_t now = std::time(nullptr);
  int removed = 0;
  TDirectoryListing listing(folder);
  while (const auto entry = listing.Next()) {
    const std::string& name = entry->Name;
    if (!IsTargetTemporaryName(name) || name.starts_with(ownWriter)) continue;
    const std::string path = folder + "/" + name;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
      continue;
    }
    // A writer fills its file as it encodes, so it is never idle for long.
    const bool idleForADay = now - info.st_mtime > kStaleTemporaryAge;
    if (!idleForADay && !(name.starts_with(thisHost) && WriterHasEnded(name, thisHost.size()))) {
      continue;
    }
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

}  // namespace sigilon
