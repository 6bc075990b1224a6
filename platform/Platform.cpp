#include "platform/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace sigilon {

namespace {

std::string ErrnoText(int error) { return std::generic_category().message(error); }

[[noreturn]] void ThrowPlatformError(const std::string& what, const std::string& path, int error) {
  throw PlatformError(what, path, ErrnoText(error));
}

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
  int Close() {
    const int result = fd_ >= 0 ? ::close(fd_) : 0;
    fd_ = -1;
    return result;
  }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  /// Hands the descriptor over to a new owner.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::string ReadWorkingDirectory() {
  // No fixed buffer: a deep working directory must not be cut short.
  std::vector<char> buffer(4096);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

/// The start directory, kept in a function-level static so that code running
/// during another module's static initialisation still sees the right text.
std::string& StartDirectoryText() {
  // An unreadable working directory (deleted under us) leaves "/" alone.
  static std::string text = ReadWorkingDirectory() + "/";
  return text;
}

// Records the start directory before main() runs.
[[maybe_unused]] const bool kStartDirectoryRecorded = (StartDirectoryText(), true);

/// The directory part of a path ("." when the path has no "/").
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

bool WriteAll(int fd, std::span<const std::byte> data, int& error) {
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
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

/// Follows symbolic links in the last component of `path` (also dangling
/// ones) and returns the directory in which the final object lies or would
/// be created. Writing through a link lands there.
std::string FinalDirectoryOf(const std::string& path) {
  std::string current = path;
  // The same bound the kernel applies to link chains.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = ::readlink(current.c_str(), buffer.data(), buffer.size() - 1);
    if (n < 0) break;
    std::string link(buffer.data(), static_cast<std::size_t>(n));
    current = (!link.empty() && link[0] == '/') ? link : DirectoryOf(current) + "/" + link;
  }
  return DirectoryOf(current);
}

}  // namespace

std::string StartDirectory() { return StartDirectoryText(); }

void SetStartDirectoryForTesting(const std::string& directory) { StartDirectoryText() = directory; }

namespace {

// One field of the effective user's entry in the user database; empty when
// the system has no entry for the user.
template <typename Field>
std::string UserDatabaseField(Field field) {
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
  for (;;) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int error = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr || found->*field == nullptr) return std::string();
    return std::string(found->*field);
  }
}

std::string WithSlash(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory;
}

}  // namespace

std::string CurrentUserName() { return UserDatabaseField(&passwd::pw_name); }

std::string HomeDirectory() { return WithSlash(UserDatabaseField(&passwd::pw_dir)); }

namespace {
std::optional<std::string>& ProgramDirectoryOverride() {
  static std::optional<std::string> directory;
  return directory;
}
}  // namespace

void SetProgramDirectoryForTesting(const std::optional<std::string>& directory) {
  ProgramDirectoryOverride() = directory;
}

std::string ProgramDirectory() {
  if (ProgramDirectoryOverride()) return *ProgramDirectoryOverride();
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) < buffer.size()) {
      const std::string path(buffer.data(), static_cast<std::size_t>(length));
      return path.substr(0, path.rfind('/') + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

// ---- Starting programs ------------------------------------------------------

bool IsWebAddress(const std::string& commandLine) {
  // A URI scheme: a letter, then letters, digits, "+", "-" or ".", then "://".
  const auto colon = commandLine.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!isAlpha(commandLine[0])) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = commandLine[i];
    if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> arguments;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (const char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      inArgument = true;  // "" is an empty argument
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
      if (inArgument) arguments.push_back(current);
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) arguments.push_back(current);
  return arguments;
}

bool RunProgram(const std::string& commandLine, std::uint16_t /*showState*/) {
  // The show state has no meaning for a process started on Linux; the
  // started program decides how its windows appear.
  std::vector<std::string> arguments;
  if (IsWebAddress(commandLine)) {
    arguments = {"xdg-open", commandLine};
  } else {
    arguments = SplitCommandLine(commandLine);
  }
  if (arguments.empty() || arguments[0].empty()) return false;

  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (::posix_spawn_file_actions_init(&actions) != 0) return false;
  // The started program must not read the program's own standard input.
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attributes;
  if (::posix_spawnattr_init(&attributes) != 0) {
    ::posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  // Its own session: closing the program's terminal does not end it.
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

  pid_t child = 0;
  // glibc reports a program that cannot be executed as an error here.
  const int error = ::posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return false;

  // Reap the child whenever it ends so it never lingers as a zombie; the
  // program does not wait for it.
  try {
    std::thread([child] {
      int status = 0;
      while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread the child still runs; it is reaped when we exit.
  }
  return true;
}

void RunProgram(const std::string& commandLine) { RunProgram(commandLine, 3); }

// ---- Named mutex ------------------------------------------------------------

// A socket bound to a name in the abstract namespace: the kernel removes the
// name with the last descriptor, so it vanishes also when the process is killed.
struct TNamedMutex::Impl {
  TFileDescriptor socket;
  bool owned = false;
};

TNamedMutex::TNamedMutex(const std::string& name) : impl_(std::make_unique<Impl>()) {
  // Close-on-exec: a program started with RunProgram must not keep it alive.
  TFileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // sun_path[0] stays zero: the abstract namespace. Longer names are cut.
  const std::size_t length = std::min(name.size(), sizeof(address.sun_path) - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), size) != 0) return;
  impl_->socket = std::move(fd);
  impl_->owned = true;
}

TNamedMutex::~TNamedMutex() = default;

bool TNamedMutex::Owned() const { return impl_->owned; }

// ---- Files ------------------------------------------------------------------

namespace {
// Below this a block is ordinary heap memory; above it, whole huge pages.
constexpr std::size_t kLargeBlockThreshold = std::size_t{4} << 20;
constexpr std::size_t kHugePageSize = std::size_t{2} << 20;

std::size_t RoundedToHugePages(std::size_t bytes) {
  return (bytes + kHugePageSize - 1) / kHugePageSize * kHugePageSize;
}
}  // namespace

void* AllocateLargeBlock(std::size_t bytes) {
  if (bytes < kLargeBlockThreshold) return ::operator new(bytes);
  if (bytes > std::numeric_limits<std::size_t>::max() - kHugePageSize) throw std::bad_alloc();
  const std::size_t rounded = RoundedToHugePages(bytes);
  void* block = std::aligned_alloc(kHugePageSize, rounded);
  if (block == nullptr) throw std::bad_alloc();
  // Only advice: where huge pages are off or scarce, ordinary pages serve.
  ::madvise(block, rounded, MADV_HUGEPAGE);
  return block;
}

void FreeLargeBlock(void* block, std::size_t bytes) noexcept {
  if (bytes < kLargeBlockThreshold) {
    ::operator delete(block);
  } else {
    std::free(block);
  }
}

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
  std::size_t filled = 0;
  while (filled < buffer.size()) {
    const ssize_t n = ::read(fd_, buffer.data() + filled, buffer.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowPlatformError("Cannot read file", path_, errno);
    }
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
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

// ---- Target files ---------------------------------------------------------------

namespace {

// Bytes of a replacing target handed to the disk at a time: a few of the
// encoder's output buffers, few enough calls to cost nothing.
constexpr std::uint64_t kWriteOutChunk = 4 << 20;

// ".sigilon-partial.HOST.PID.COUNTER.NAME": hidden, says what it is, and
// names its writer so a later run can tell a dead writer's file from a live one.
constexpr const char* kPartialPrefix = ".sigilon-partial.";

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
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
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
  const std::string mine = kPartialPrefix + OwnHostTag() + ".";
  const std::string ownWriter = kPartialPrefix + WriterTag(::getpid());
  const std::string folder = directory.empty() ? "." : directory;
  int removed = 0;
  TDirectoryListing listing(folder);
  while (const auto entry = listing.Next()) {
    const std::string& name = entry->Name;
    if (!name.starts_with(mine) || name.starts_with(ownWriter)) continue;
    const std::size_t pidStart = mine.size();
    const std::size_t pidEnd = name.find('.', pidStart);
    if (pidEnd == std::string::npos || pidEnd == pidStart) continue;
    pid_t pid = 0;
    const auto [last, error] = std::from_chars(name.data() + pidStart, name.data() + pidEnd, pid);
    if (error != std::errc() || last != name.data() + pidEnd || pid <= 0) continue;
    // A writer that still runs (or a process that reuses its number) keeps its file.
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
    const std::string path = folder + "/" + name;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
      continue;
    }
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

// ---- Signals --------------------------------------------------------------------

namespace {
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

extern "C" void OnStopSignal(int) { stopRequested.store(true); }
}  // namespace

int OnlineProcessors() {
  const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  return count < 1 ? 1 : static_cast<int>(std::min<long>(count, INT_MAX));
}

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted reads and writes go on; the second signal acts as usual.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() { return stopRequested.load(); }

// ---- Directories --------------------------------------------------------------

std::optional<TFileIdentity> FileIdentity(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return TFileIdentity{static_cast<std::uint64_t>(info.st_dev),
                       static_cast<std::uint64_t>(info.st_ino)};
}

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool SameDirectory(const std::string& a, const std::string& b) {
  if (!DirectoryExists(a) || !DirectoryExists(b)) return false;
  return FileIdentity(a) == FileIdentity(b);
}

bool TargetReachesSource(const std::string& sourcePath, const std::string& targetPath) {
  const std::string sourceDirectory = DirectoryOf(sourcePath);
  if (SameDirectory(sourceDirectory, DirectoryOf(targetPath))) return true;
  // A link in the target directory, even a dangling one, writes where it leads.
  if (SameDirectory(sourceDirectory, FinalDirectoryOf(targetPath))) return true;

  struct stat target {};
  if (::stat(targetPath.c_str(), &target) != 0) return false;
  const auto targetIdentity = FileIdentity(targetPath);
  if (targetIdentity == FileIdentity(sourcePath)) return true;
  // A hard link of some file in the source directory: only possible when the
  // target has more than one name, so the listing is read only then.
  if (target.st_nlink < 2) return false;
  TDirectoryListing listing(sourceDirectory);
  while (auto entry = listing.Next()) {
    if (!entry->IsDirectory &&
        FileIdentity(sourceDirectory + "/" + entry->Name) == targetIdentity) {
      return true;
    }
  }
  return false;
}

struct TDirectoryListing::Impl {
  std::string directory;
  DIR* handle = nullptr;
};

TDirectoryListing::TDirectoryListing(const std::string& directory)
    : impl_(std::make_unique<Impl>()) {
  impl_->directory = directory;
  impl_->handle = ::opendir(directory.c_str());
}

TDirectoryListing::~TDirectoryListing() {
  if (impl_->handle != nullptr) ::closedir(impl_->handle);
}

bool TDirectoryListing::Valid() const { return impl_->handle != nullptr; }

std::optional<TDirectoryEntry> TDirectoryListing::Next() {
  if (impl_->handle == nullptr) return std::nullopt;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(impl_->handle);
    if (entry == nullptr) return std::nullopt;
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    TDirectoryEntry result;
    result.Name = name;
    if (entry->d_type == DT_DIR) {
      result.IsDirectory = true;
    } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      // Links are followed; some file systems give no type at all.
      result.IsDirectory = DirectoryExists(impl_->directory + "/" + name);
    }
    return result;
  }
}

}  // namespace sigilon
