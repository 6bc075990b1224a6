#pragma once
/// JPEG decoding and encoding through the libjpeg API, over in-memory
/// buffers. Every libjpeg error becomes an ImageError whose message names the
/// source and carries "JPEG error #<n>" with libjpeg's message number;
/// libjpeg warnings (corrupt or truncated data) are not failures: a damaged
/// file decodes as far as its data goes, and the caller may ask for them.

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

/// Most scans a multi-scan (progressive) file may have. Real encoders write
/// about ten; fuzzed files with thousands of scans would otherwise keep the
/// decoder busy for minutes.
inline constexpr int kMaxJpegScans = 100;

/// Colours of the palette when decoding to 8 bits: 256 less the 20 colours a
/// palette display keeps for itself.
inline constexpr int kJpegPaletteColors = 236;

/// Memory libjpeg may use for its own buffers: enough for the coefficients
/// of three full-resolution components (2 bytes each) at the pixel bound, so
/// any picture that passes kMaxPixels decodes and nothing larger is tried.
inline constexpr std::uint64_t kMaxJpegDecoderMemory = kMaxPixels * 3 * 2;

/// Most pixels a JPEG stream may claim per byte it holds. Huffman coding
/// spends at least one bit on every 8 x 8 block of the full-resolution
/// component, so no stream of that kind passes 512; measured on a flat
/// 16000 x 16000 picture: 255 (gray, optimised tables, also progressive),
/// 170 (colour, optimised), 63 (our own quality-100 output). Twice the
/// ceiling leaves room for files cut short on a damaged disk; a 641-byte file
/// claiming 16384 x 16384 fails before libjpeg buffers anything. Only
/// arithmetic coding, which hardly any encoder writes, packs a nearly blank
/// picture tighter.
inline constexpr std::uint64_t kMaxJpegPixelsPerByte = 1024;

/// Largest JPEG file worth reading: pure noise at quality 100 without
/// subsampling, as costly as real coding gets, measured 4.1 bytes per pixel;
/// six per pixel of the biggest picture leaves room for metadata.
inline constexpr std::uint64_t kMaxJpegFileBytes = kMaxPixels * 6;

/// What the header of a JPEG stream says.
struct TJpegHeader {
  int Width = 0;
  int Height = 0;
  /// Components in the file (1 gray, 3 colour, 4 CMYK/YCCK).
  int Components = 0;
  bool Grayscale = false;
  bool Progressive = false;
};

/// How to decode.
struct TJpegDecodeOptions {
  /// Quantise to at most kJpegPaletteColors colours into an 8-bit picture
  /// with that palette (a display of 8 bits per pixel or fewer). Grayscale
  /// files always decode this way.
  bool ToPalette = false;
  /// Decode to gray levels whatever the file holds.
  bool Grayscale = false;
  /// Faster integer transform, one-pass quantisation, plain upsampling.
  bool BestSpeed = false;
  /// Smooth the blocks of the first scans of a progressive file.
  bool Smoothing = true;
  /// Output size is 1/ScaleDenominator of the picture: 1, 2, 4 or 8.
  int ScaleDenominator = 1;
  friend bool operator==(const TJpegDecodeOptions&, const TJpegDecodeOptions&) = default;
};

/// Most distinct warnings kept from one decode; a badly damaged file repeats
/// the same few.
inline constexpr std::size_t kMaxJpegWarnings = 8;

/// Reads the header only (cheap). Throws ImageError naming `name` when the
/// data is not a JPEG stream.
TJpegHeader ReadJpegHeader(std::span<const std::byte> data, const std::string& name);

/// Decodes a whole JPEG stream into a 24-bit (B, G, R) picture, or an 8-bit
/// picture with a palette of at most kJpegPaletteColors entries for grayscale
/// files and when options.ToPalette is set. Four-component files (CMYK, YCCK,
/// Adobe's inverted CMYK) are converted to 24-bit RGB. When `warnings` is
/// given it receives libjpeg's warnings (see TJpegBandDecoder::Warnings).
/// Throws ImageError.
TBitmap DecodeJpeg(std::span<const std::byte> data, const std::string& name,
                   const TJpegDecodeOptions& options = {},
                   std::vector<std::string>* warnings = nullptr);

/// Encodes a picture of any pixel format as a baseline three-component JFIF
/// stream (YCbCr, 2x2/1x1/1x1 sampling, floating-point DCT, standard tables
/// scaled by `quality` 1..100 and limited to baseline values, default density),
/// followed by `markers` in the given order and no others. Throws ImageError.
std::vector<std::byte> EncodeJpeg(const TBitmap& bitmap, int quality, const std::string& name,
                                  std::span<const TJpegSegment> markers = {});

/// Fills the buffer with the next bytes of a stream and returns how many it
/// gave; 0 at the end of the stream. May throw: the exception reaches the
/// caller of the decoder unchanged.
using TByteSource = std::function<std::size_t(std::span<std::byte>)>;
/// Takes the next bytes of an encoded stream, in order. May throw: the
/// exception reaches the caller of the encoder unchanged.
using TByteSink = std::function<void(std::span<const std::byte>)>;

/// A JPEG stream decoded a band of rows at a time, so that only libjpeg's own
/// buffers and one band need to be in memory (a progressive or colour-
/// quantised file still makes libjpeg buffer the whole picture). The rows are
/// exactly those DecodeJpeg gives, whatever the band heights.
class TJpegBandDecoder {
 public:
  /// Reads the header and starts decoding. Throws ImageError as DecodeJpeg.
  TJpegBandDecoder(std::span<const std::byte> data, const std::string& name,
                   const TJpegDecodeOptions& options = {});
  /// As above, reading the stream through `source` as it is needed.
  /// `sourceBytes` is the size of the whole stream (the file's size), which
  /// bounds the picture its header may claim (kMaxJpegPixelsPerByte).
  TJpegBandDecoder(TByteSource source, std::uint64_t sourceBytes, const std::string& name,
                   const TJpegDecodeOptions& options = {});
  ~TJpegBandDecoder();
  TJpegBandDecoder(const TJpegBandDecoder&) = delete;
  TJpegBandDecoder& operator=(const TJpegBandDecoder&) = delete;

  int Width() const;
  int Height() const;
  /// Rows handed out so far.
  int NextRow() const;
  /// A zeroed band `rows` high (at least 1) in the decoded pixel format, with
  /// the decoded palette where there is one.
  TBitmap NewBand(int rows) const;
  /// Decodes the next rows into `band` (made by NewBand), from its top, until
  /// it is full or the picture ends; returns how many rows it holds now.
  /// Rows a damaged file never delivers are black. Throws ImageError.
  int ReadBand(TBitmap& band);
  /// As ReadBand, into rows `firstRow` to `firstRow + rows` of `picture` (made
  /// by NewBand, at least that high), leaving its other rows as they are.
  int ReadRows(TBitmap& picture, int firstRow, int rows);
  /// Ends decoding once every row has been read. Throws ImageError.
  void Finish();
  /// libjpeg's warnings so far (data that ends early, corrupt data), each
  /// text once and at most kMaxJpegWarnings: the picture is used as far as
  /// it decodes, and the caller decides whether that is good enough.
  const std::vector<std::string>& Warnings() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

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
  /// `markers` follow the JFIF header, in the given order.
  TJpegBandEncoder(int width, int height, int quality, const std::string& name, TByteSink sink,
                   std::span<const TJpegSegment> markers = {}, TInput input = TInput::Rows);
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
