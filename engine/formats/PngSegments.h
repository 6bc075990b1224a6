#pragma once
/// PNG picture data of 8-bit RGB and RGBA rows made in segments (inside the
/// PNG encoder): each segment of rows is filtered and deflated on its own, so
/// that segments can be made on any thread, and the file is the same however
/// many threads make it. The segments' deflate streams join into the one
/// zlib stream of the IDAT chunks.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// Whether rows of `format` are written in segments.
bool WrittenInSegments(TPixelFormat format);

/// One segment of picture data; reused from segment to segment.
class TPngSegment {
 public:
  TPngSegment();
  ~TPngSegment();
  TPngSegment(const TPngSegment&) = delete;
  TPngSegment& operator=(const TPngSegment&) = delete;

  /// Filters and deflates rows `firstRow` to `firstRow + rows` of `band`
  /// (pf24bit or pfBGRA32); `last` when they end the picture. Each row takes
  /// the filter whose bytes add up least as signed values; the first row of a
  /// segment one that needs no row above it. Throws ImageError naming
  /// `name`.
  void Make(const TBitmap& band, int firstRow, int rows, bool last, const std::string& name);

  std::span<const std::byte> Deflated() const { return deflated_; }
  /// Adler-32 and length of the filtered bytes, which the zlib stream's
  /// check joins.
  std::uint32_t Adler() const { return adler_; }
  std::uint64_t Length() const { return length_; }
  bool Last() const { return last_; }

 private:
  struct TDeflater;
  std::unique_ptr<TDeflater> deflater_;
  std::vector<std::uint8_t> filtered_;
  std::vector<std::uint8_t> scratch_;
  std::vector<std::byte> deflated_;
  std::uint32_t adler_ = 1;
  std::uint64_t length_ = 0;
  bool last_ = false;
};

/// Writes segments, in picture order, as IDAT chunks to a sink, the zlib
/// header before the first and its check after the last.
class TPngDataWriter {
 public:
  explicit TPngDataWriter(TPictureSink& sink) : sink_(sink) {}
  void Write(const TPngSegment& segment);
  /// The IEND chunk that ends the file.
  void End();

 private:
  void Chunk(const char (&type)[5], std::initializer_list<std::span<const std::byte>> parts);

  TPictureSink& sink_;
  bool started_ = false;
  std::uint32_t adler_ = 1;
};

}  // namespace sigilon
