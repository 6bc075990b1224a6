#pragma once
/// PNG on libpng, in bands: a decoder that hands out a file's rows from the
/// top in the deep pixel format that fits it, and an encoder that writes
/// rows as a PNG of the same kind. Every variant reads: grey of 1 to 16 bits,
/// grey with alpha, palettes with or without transparency, RGB and RGBA of 8
/// and 16 bits, interlaced or not.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// Most pixels a PNG file may claim per byte it holds: deflate packs at
/// most about 1032 bytes into one, and a 1-bit picture holds eight pixels in
/// a byte. A few kilobytes cannot claim a huge picture.
inline constexpr std::uint64_t kMaxPngPixelsPerByte = 1032 * 8;

/// Reads a PNG file band by band. Pixel formats: palettes (any depth) as
/// pf8bit with PaletteAlpha from the transparency table; grey without
/// transparency as pfGray8 (1, 2 and 4 bits scaled up) or pfGray16; grey and
/// colour with a transparent colour, or with alpha, as pfGrayAlpha8/16,
/// pfBGRA32 or pf64bit; RGB as pf24bit or pf48bit. Interlaced files are
/// decoded whole at the first read, then handed out the same way.
class TPngBandDecoder {
 public:
  /// Fills a buffer as far as it can; 0 at the end. May throw: the exception
  /// reaches the decoder's caller.
  using TRead = std::function<std::size_t(std::span<std::byte>)>;

  /// Reads everything up to the pixels, checking the size against kMaxPixels
  /// and the file's size (`fileBytes`) before anything is allocated. Throws
  /// ImageError naming `name`.
  TPngBandDecoder(TRead read, std::uint64_t fileBytes, const std::string& name);
  ~TPngBandDecoder();
  TPngBandDecoder(const TPngBandDecoder&) = delete;
  TPngBandDecoder& operator=(const TPngBandDecoder&) = delete;

  const TPictureHeader& Header() const;
  const TPictureMetadata& Metadata() const;
  int NextRow() const;
  /// A zeroed band in the decoded format, with the palette and resolution.
  TBitmap NewBand(int rows) const;
  /// As TBandReader::ReadRows. Data that stops decoding gives a warning and
  /// zeroed rows from there on.
  int ReadRows(TBitmap& picture, int firstRow, int rows);
  int ReadBand(TBitmap& band) { return ReadRows(band, 0, band.Height()); }
  /// Reads what follows the pixels (damage there is a warning).
  void Finish();
  std::vector<std::string> Warnings() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

/// Writes rows as a PNG file to a sink. The file's kind follows the first
/// rows' pixel format: palettes stay palettes (with their transparency
/// table), grey stays grey, alpha stays alpha, 16-bit samples stay 16-bit;
/// palettes and grey take request.BitsPerSample where it fits. Other formats
/// (16 and 32 bits with masks) are written as RGB.
class TPngBandEncoder {
 public:
  TPngBandEncoder(const TWriteSpec& request, TPictureSink sink);
  ~TPngBandEncoder();
  TPngBandEncoder(const TPngBandEncoder&) = delete;
  TPngBandEncoder& operator=(const TPngBandEncoder&) = delete;

  void WriteRows(const TBitmap& picture, int firstRow, int rows);
  void Finish();

  /// Whether the encoding is split (asked by TWriteSpec::SplitEncoding, for
  /// rows of 8-bit RGB or RGBA): then EncodeBand, on any thread, and
  /// WriteEncoded, in picture order, take the place of WriteRows, for bands
  /// of BandRows rows from the top. The file is the same either way.
  bool SplitsEncoding() const;
  std::unique_ptr<TEncodedBand> NewEncodedBand() const;
  void EncodeBand(const TBitmap& band, int rows, int pictureRow, TEncodedBand& encoded) const;
  void WriteEncoded(const TEncodedBand& encoded);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace sigilon
