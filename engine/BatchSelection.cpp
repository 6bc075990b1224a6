#include "engine/BatchSelection.h"

#include <charconv>
#include <istream>
#include <unordered_set>

namespace sigilon {

std::uint32_t ShardOfName(std::string_view name, std::uint32_t count) {
  if (count <= 1) return 1;
  // FNV-1a over the bytes, then the 64-bit finaliser of MurmurHash3 so that
  // the low bits the remainder keeps depend on every byte. Fixed constants and
  // byte order: no std::hash, which may differ between libraries and builds.
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const unsigned char byte : name) {
    hash ^= byte;
    hash *= 0x100000001b3u;
  }
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdu;
  hash ^= hash >> 33;
  hash *= 0xc4ceb9fe1a85ec53u;
  hash ^= hash >> 33;
  return static_cast<std::uint32_t>(hash % count) + 1;
}

bool InShard(std::string_view name, const TShard& shard) {
  return ShardOfName(name, shard.Count) == shard.Index;
}

std::optional<TShard> ParseShard(std::string_view text) {
  const auto slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const auto number = [](std::string_view digits) -> std::optional<std::uint32_t> {
    std::uint32_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [last, error] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || error != std::errc() || last != end) return std::nullopt;
    return value;
  };
  const auto index = number(text.substr(0, slash));
  const auto count = number(text.substr(slash + 1));
  if (!index || !count || *index < 1 || *index > *count || *count > kMaxShardCount) {
    return std::nullopt;
  }
  return TShard{*index, *count};
}

std::string ListedNameRefusal(std::string_view name, bool inTree) {
  if (name.empty()) return "the name is empty";
  if (name.find('\0') != std::string_view::npos) return "the name holds a NUL byte";
  if (!inTree) {
    if (name == "." || name == "..") return "\".\" and \"..\" name folders, not files";
    if (name.find('/') != std::string_view::npos) {
      return "the name holds \"/\": only names inside SOURCE_DIR are handled";
    }
    return {};
  }
  if (name.front() == '/') return "the path is absolute: only paths inside SOURCE_DIR are handled";
  for (std::size_t start = 0;;) {
    const std::size_t slash = name.find('/', start);
    const std::string_view part = name.substr(start, slash - start);
    if (part.empty()) return "the path has an empty part (\"//\" or a \"/\" at its end)";
    if (part == "." || part == "..") {
      return "the path holds \".\" or \"..\": only paths inside SOURCE_DIR are handled";
    }
    if (slash == std::string_view::npos) return {};
    start = slash + 1;
  }
}

std::vector<std::string> ReadFileNameList(std::istream& in) {
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  std::string line;
  while (std::getline(in, line)) {
    // A list written on Windows ends its lines with CR LF.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (seen.insert(line).second) names.push_back(line);
  }
  return names;
}

}  // namespace sigilon
