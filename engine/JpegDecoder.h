#pragma once
/// JPEG decoding through the libjpeg API, from memory or from a stream read
/// as needed. Every libjpeg error becomes an ImageError whose message names
/// the source and carries "JPEG error #<n>" with libjpeg's message number;
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

namespace sigilon {

/// Most scans a multi-scan (progressive) file may have. Real encoders write
/// about ten; fuzzed files with thousands of scans would otherwise keep the
/// decoder busy for minutes.
inline constexpr int kMaxJpegScans = 100;

/// Colours of the palette when decoding to 8 bits: 256 less the 20 colours a
/// palette display keeps for itself.
inline constexpr int kJpegPaletteColors = 236;

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

/// How to decode. Always with the best-quality choices: floating-point
/// inverse transform, smooth upsampling, block smoothing of a progressive
/// file's first scans, two-pass quantisation.
struct TJpegDecodeOptions {
  /// Quantise to at most kJpegPaletteColors colours into an 8-bit picture
  /// with that palette (a display of 8 bits per pixel or fewer). Grayscale
  /// files always decode this way.
  bool ToPalette = false;
  /// Output size is 1/ScaleDenominator of the picture: 1, 2, 4 or 8 (libjpeg
  /// scales in its inverse transform, far cheaper than decoding it whole).
  int ScaleDenominator = 1;
  friend bool operator==(const TJpegDecodeOptions&, const TJpegDecodeOptions&) = default;
};

/// How the program decodes for a display of `displayColorDepth` bits per
/// pixel (times colour planes): to a palette at 8 or fewer, else 24-bit.
TJpegDecodeOptions DecodeOptionsForDisplay(int displayColorDepth);

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

/// Fills the buffer with the next bytes of a stream and returns how many it
/// gave; 0 at the end of the stream. May throw: the exception reaches the
/// caller of the decoder unchanged.
using TByteSource = std::function<std::size_t(std::span<std::byte>)>;

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

}  // namespace sigilon
