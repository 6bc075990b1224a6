#pragma once
/// Which files of a source directory one run handles, so that a big folder
/// can be spread over several tasks (machines, batch-system array jobs):
/// shares of the folder by a stable hash of the file name, and lists of names.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sigilon {

/// Share `Index` of `Count` (1 ≤ Index ≤ Count ≤ kMaxShardCount); {1, 1} is
/// the whole folder.
struct TShard {
  std::uint32_t Index = 1;
  std::uint32_t Count = 1;
};

/// More shares than any batch system hands out tasks for one folder.
inline constexpr std::uint32_t kMaxShardCount = 65536;

/// The share (1 to `count`) that a file name falls into. Depends only on the
/// name's bytes and `count`: the same on every machine, in every run and
/// whatever the listing order, so N runs with shares 1..N of N together handle
/// every file exactly once.
std::uint32_t ShardOfName(std::string_view name, std::uint32_t count);

/// Whether `name` falls into `shard`.
bool InShard(std::string_view name, const TShard& shard);

/// Reads "K/N" in decimal; nothing when it is not a share as TShard allows.
std::optional<TShard> ParseShard(std::string_view text);

/// Why a listed name is not handled: it must name an entry directly inside
/// the source directory, so no "/", no NUL byte, not "." or "..", not empty.
/// In a run over the source's tree (`inTree`) it is a relative path instead:
/// names as before with "/" between them, never at its start or end, never
/// two together. The empty text for a name that may be handled.
std::string ListedNameRefusal(std::string_view name, bool inTree = false);

/// Reads a list of file names, one per line (LF or CR LF line ends); empty
/// lines are skipped and a name listed again is handled once, where it was
/// first listed. Names are not checked here; see ListedNameRefusal.
std::vector<std::string> ReadFileNameList(std::istream& in);

}  // namespace sigilon
