#include "engine/JpegMarkers.h"

namespace sigilon {

std::vector<std::byte> ReadJpegHeaderBytes(const TByteSource& source) {
  std::vector<std::byte> bytes;
  const auto have = [&](std::size_t count) {
    while (bytes.size() < count) {
      std::byte chunk[4096];
      const std::size_t n = source(chunk);
      if (n == 0) return false;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return true;
  };
  const auto at = [&](std::size_t i) { return std::to_integer<unsigned>(bytes[i]); };
  std::size_t next = 2;  // after the start-of-image marker
  while (have(next + 4) && next < kMaxJpegFileBytes) {
    if (at(next) != 0xFF) break;
    const unsigned marker = at(next + 1);
    // The first scan ends the header; stand-alone markers carry no length.
    if (marker == 0xDA || marker == 0xD9) break;
    if (marker == 0xFF || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      next += marker == 0xFF ? 1 : 2;
      continue;
    }
    next += 2 + (at(next + 2) << 8 | at(next + 3));
  }
  return bytes;
}

}  // namespace sigilon
