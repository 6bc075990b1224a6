#include "platform/Directories.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/PathText.h"
#include "platform/PosixSupport.h"

namespace sigilon {

using posix::DirectoryOf;

namespace {

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

bool IsSymbolicLink(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool DirectoriesNest(const std::string& a, const std::string& b) {
  const auto inside = [](const std::string& inner, const std::string& outer) {
    const std::optional<TFileIdentity> target = FileIdentity(outer);
    if (!target || !DirectoryExists(inner)) return false;
    // Up through the real parents ("..", taken after the links are resolved)
    // to the root, whose parent is itself.
    std::string path = WithTrailingSlash(inner);
    std::optional<TFileIdentity> current = FileIdentity(path);
    for (int depth = 0; current && depth < 4096; ++depth) {
      if (*current == *target) return true;
      path += "../";
      const std::optional<TFileIdentity> parent = FileIdentity(path);
      if (parent == current) break;
      current = parent;
    }
    return false;
  };
  return DirectoryExists(a) && DirectoryExists(b) && (inside(a, b) || inside(b, a));
}

void CreateDirectories(const std::string& path) {
  if (path.empty() || DirectoryExists(path)) return;
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::string parent = DirectoryOf(trimmed);
  if (parent != trimmed) CreateDirectories(parent);
  if (::mkdir(trimmed.c_str(), 0777) != 0 && !(errno == EEXIST && DirectoryExists(trimmed))) {
    posix::ThrowPlatformError("Cannot create the directory", trimmed, errno);
  }
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
      const std::string path = impl_->directory + "/" + name;
      result.IsDirectory = DirectoryExists(path);
      result.IsLink = entry->d_type == DT_LNK || IsSymbolicLink(path);
    }
    return result;
  }
}

}  // namespace sigilon
