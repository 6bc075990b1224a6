#include "engine/JpegMarkers.h"

namespace sigilon {

namespace {

constexpr std::uint8_t kTEM = 0x01;
constexpr std::uint8_t kRST0 = 0xD0;
constexpr std::uint8_t kRST7 = 0xD7;
constexpr std::uint8_t kEOI = 0xD9;
constexpr std::uint8_t kSOS = 0xDA;

}  // namespace

TJpegMarkerStep NextJpegMarker(std::span<const std::byte> data, std::size_t at) {
  using TKind = TJpegMarkerStep::TKind;
  const auto byte = [&](std::size_t i) { return std::to_integer<std::uint8_t>(data[i]); };
  if (data.size() < at + 2) return {.Kind = TKind::NeedMore};
  if (byte(at) != 0xFF) return {.Kind = TKind::End};
  const std::uint8_t marker = byte(at + 1);
  // A fill byte stands before the marker it pads.
  if (marker == 0xFF) return {.Kind = TKind::StandAlone, .Marker = marker, .Next = at + 1};
  if (marker == kSOS || marker == kEOI) return {.Kind = TKind::End, .Marker = marker};
  if (marker == kTEM || (marker >= kRST0 && marker <= kRST7)) {
    return {.Kind = TKind::StandAlone, .Marker = marker, .Next = at + 2};
  }
  if (data.size() < at + 4) return {.Kind = TKind::NeedMore};
  const std::size_t length = std::size_t{byte(at + 2)} << 8 | byte(at + 3);
  if (length < 2) return {.Kind = TKind::End, .Marker = marker};
  return {
      .Kind = TKind::Segment, .Marker = marker, .PayloadStart = at + 4, .Next = at + 2 + length};
}

std::vector<std::byte> ReadJpegHeaderBytes(const TByteSource& source) {
  std::vector<std::byte> bytes;
  std::size_t next = 2;  // after the start-of-image marker
  while (next < kMaxJpegFileBytes) {
    const TJpegMarkerStep step = NextJpegMarker(bytes, next);
    if (step.Kind == TJpegMarkerStep::TKind::End) break;
    if (step.Kind != TJpegMarkerStep::TKind::NeedMore) {
      next = step.Next;
      continue;
    }
    std::byte chunk[4096];
    const std::size_t n = source(chunk);
    if (n == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

}  // namespace sigilon
