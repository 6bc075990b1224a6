#pragma once
/// JPEG encoding through the libjpeg API, to memory or to a stream written
/// as the bytes come. Every libjpeg error becomes an ImageError naming the
/// target's source and carrying "JPEG error #<n>" with libjpeg's message
/// number.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/JpegMetadata.h"

namespace sigilon {

/// Encodes a picture of any pixel format as a baseline three-component JFIF
/// stream (YCbCr, 2x2/1x1/1x1 sampling, floating-point DCT, standard tables
/// scaled by `quality` 1..100 and limited to baseline values, default density),
/// followed by `markers` in the given order and no others. Throws ImageError.
std::vector<std::byte> EncodeJpeg(const TBitmap& bitmap, int quality, const std::string& name,
                                  std::span<const TJpegSegment> markers = {});

/// Takes the next bytes of an encoded stream, in order. May throw: the
/// exception reaches the caller of the encoder unchanged.
using TByteSink = std::function<void(std::span<const std::byte>)>;

/// Rows of a picture turned into an encoder's quantised DCT blocks
/// (TJpegBandEncoder::MakeBlocks). Making them is the half of encoding that
/// bands can share out between threads; the entropy coding that follows must
/// take them in picture order. Reusable: making blocks again keeps the memory.
class TJpegBlocks {
 private:
  friend class TJpegBandEncoder;
  std::vector<std::int16_t> coefficients_;
  int width_ = 0;
  int top_ = 0;
  int rows_ = 0;
};

/// A baseline JFIF stream (as EncodeJpeg writes it) encoded a band of rows at
/// a time, its bytes going to `sink` as they are produced. The stream is
/// byte for byte what EncodeJpeg gives for the whole picture.
class TJpegBandEncoder {
 public:
  /// What the encoder is given.
  enum class TInput {
    Rows,    ///< rows of pixels (WriteBand, WriteRows)
    Blocks,  ///< blocks made by MakeBlocks (WriteBlocks), the same stream
  };
  /// Throws ImageError for a size below 1 x 1 or a quality outside 1..100.
  /// `markers` follow the JFIF header, in the given order. With
  /// `optimizeCoding` the Huffman tables are made for the picture (the same
  /// coefficients, a smaller stream): its coefficients are held until Finish,
  /// which writes the whole stream; rows only (TInput::Rows).
  TJpegBandEncoder(int width, int height, int quality, const std::string& name, TByteSink sink,
                   std::span<const TJpegSegment> markers = {}, TInput input = TInput::Rows,
                   bool optimizeCoding = false);
  ~TJpegBandEncoder();
  TJpegBandEncoder(const TJpegBandEncoder&) = delete;
  TJpegBandEncoder& operator=(const TJpegBandEncoder&) = delete;

  /// Encodes the first `rows` rows of `band` (any pixel format, the picture's
  /// width) as the next rows of the picture. Throws ImageError.
  void WriteBand(const TBitmap& band, int rows);
  /// As WriteBand, with rows `firstRow` to `firstRow + rows` of `picture`.
  void WriteRows(const TBitmap& picture, int firstRow, int rows);
  /// Blocks start on a group of this many rows (16) and hold whole groups,
  /// but for the last, which ends the picture.
  int RowGroup() const;
  /// Turns rows `firstRow` to `firstRow + rows` of `band` (any pixel format,
  /// the picture's width), which are the picture's rows from `pictureRow` on,
  /// into blocks. Leaves the encoder as it is, so another thread may make
  /// blocks while this one writes. Throws ImageError.
  void MakeBlocks(const TBitmap& band, int firstRow, int rows, int pictureRow,
                  TJpegBlocks& blocks) const;
  /// Entropy-codes blocks as the next rows of the picture (TInput::Blocks
  /// only). Throws ImageError.
  void WriteBlocks(const TJpegBlocks& blocks);
  /// Completes the stream after the last row and hands out its last bytes.
  void Finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sigilon
