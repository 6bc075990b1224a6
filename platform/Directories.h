#pragma once
/// Directories and the identity of what lies in them: whether a path exists,
/// whether two texts name the same directory, whether a target could reach
/// back into the source's directory, and live listings.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace sigilon {

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

/// True when `path` is a symbolic link (its last component; the link is not
/// followed).
bool IsSymbolicLink(const std::string& path);

/// True when the directories `a` and `b` both exist and one of them is the
/// other or lies somewhere inside it, whatever their texts (links and bind
/// mounts are seen through).
bool DirectoriesNest(const std::string& a, const std::string& b);

/// Creates the directory `path` and those above it that are missing; one
/// that exists already is fine. Throws PlatformError naming the directory
/// that could not be made.
void CreateDirectories(const std::string& path);

/// One entry of a directory listing.
struct TDirectoryEntry {
  std::string Name;
  /// A directory, or a symbolic link that leads to one.
  bool IsDirectory = false;
  /// A symbolic link (to whatever it leads).
  bool IsLink = false;
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
