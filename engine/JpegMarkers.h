#pragma once
/// The walk over a JPEG file's marker segments up to its first scan, where
/// every segment that metadata lives in stands: one step at a time over the
/// bytes at hand, and the reading of a file's header bytes built on it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/JpegCodec.h"

namespace sigilon {

/// One step of the walk.
struct TJpegMarkerStep {
  enum class TKind {
    Segment,     ///< a marker with a length: its payload is [PayloadStart, Next)
    StandAlone,  ///< a fill byte, or a marker without a length (TEM, RSTn)
    End,         ///< the first scan, the end of the picture, or what is no marker
    NeedMore,    ///< the data ends before the marker or its length does
  };
  TKind Kind = TKind::End;
  std::uint8_t Marker = 0;
  std::size_t PayloadStart = 0;
  /// Where the next step starts (for a segment, past its payload, which may
  /// lie beyond the data at hand).
  std::size_t Next = 0;
};

/// The step at offset `at` of `data`; the first is at 2, after the start of
/// the picture. A segment whose length is less than its own two bytes ends
/// the walk.
TJpegMarkerStep NextJpegMarker(std::span<const std::byte> data, std::size_t at);

/// Reads from `source` the bytes from the start of the file to its first
/// scan (or to where the segments stop making sense), and a little beyond:
/// it reads in pieces and keeps whole pieces. The stream's next bytes are
/// those after the returned ones. Throws what `source` throws.
std::vector<std::byte> ReadJpegHeaderBytes(const TByteSource& source);

}  // namespace sigilon
