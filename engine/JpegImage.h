#pragma once
/// TJPEGImage: a JPEG picture that keeps a file's compressed bytes together
/// with, once decoded, the picture as a TBitmap; and the two conversions
/// between JPEG pictures and bitmaps.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/JpegCodec.h"

namespace sigilon {

enum class TJPEGPixelFormat { jf24Bit, jf8Bit };

class TJPEGImage {
 public:
  /// `displayColorDepth`: the display's bits per pixel times colour planes;
  /// 8 or fewer makes pictures decode to 8 bits with a palette.
  explicit TJPEGImage(int displayColorDepth = 24);

  // ---- Settings (read when decoding or compressing) ----
  /// Quality used by SaveToBytes when the picture must be compressed, 1..100.
  int CompressionQuality = 90;
  /// Decoded format for colour files; grayscale files always decode to 8 bits.
  /// Pictures always decode at full size with the best-quality transform,
  /// upsampling and quantisation, and with block smoothing.
  TJPEGPixelFormat PixelFormat = TJPEGPixelFormat::jf24Bit;

  /// How the current settings decode a stream.
  TJpegDecodeOptions DecodeOptions() const;

  // ---- Content ----
  /// Takes a JPEG stream and reads its header at once, so data that is not
  /// JPEG fails here. `name` appears in error messages. On failure the
  /// picture keeps its previous content. Throws ImageError.
  void LoadFromBytes(std::vector<std::byte> data, const std::string& name = "JPEG data");
  /// Reads a whole file (opened only for reading), then as LoadFromBytes.
  /// Throws ImageError, or PlatformError when the file cannot be read.
  void LoadFromFile(const std::string& path);

  /// Decodes the compressed bytes with the current settings unless the
  /// decoded picture for them exists. Throws ImageError.
  void Decode() const;
  bool Decoded() const { return bitmap_.has_value(); }
  /// libjpeg's warnings from the last decode (data that ends early, corrupt
  /// data); the picture was used as far as it decoded.
  const std::vector<std::string>& Warnings() const { return warnings_; }
  /// The decoded picture (decoding first if needed). Throws ImageError when
  /// the picture is empty or does not decode.
  const TBitmap& Bitmap() const;

  /// Replaces the content by a copy of `bitmap`; compressed bytes follow on
  /// Compress or SaveToBytes.
  void Assign(const TBitmap& bitmap);
  /// As Assign, taking over the pixels instead of copying them.
  void Assign(TBitmap&& bitmap);
  /// Gives up the decoded picture (decoding first when needed), leaving the
  /// picture without one; for callers that want the pixels, not a copy.
  TBitmap TakeBitmap();
  /// Encodes the held bitmap at `quality` (1..100, also stored as
  /// CompressionQuality) as a baseline JFIF stream. Throws ImageError.
  void Compress(int quality);

  /// The compressed bytes as loaded or last compressed (empty when the
  /// picture only holds an assigned bitmap not yet compressed).
  const std::vector<std::byte>& CompressedBytes() const { return data_; }
  /// The JPEG stream, compressing at CompressionQuality first when needed.
  const std::vector<std::byte>& SaveToBytes();
  /// Writes SaveToBytes() to `path` (created, or emptied and rewritten).
  void SaveToFile(const std::string& path);

  bool Empty() const { return data_.empty() && !bitmap_.has_value(); }
  /// Size of the picture: the decoded bitmap's, else the header's.
  int Width() const;
  int Height() const;
  /// The header of the loaded stream (zeroes for an assigned bitmap).
  const TJpegHeader& Header() const { return header_; }

 private:
  std::string name_ = "JPEG data";
  std::vector<std::byte> data_;
  TJpegHeader header_;
  // Decoding is a cache of the compressed bytes, so it happens on const
  // pictures too; decodedWith_ tells whether the settings changed since.
  mutable std::optional<TBitmap> bitmap_;
  mutable TJpegDecodeOptions decodedWith_;
  mutable std::vector<std::string> warnings_;
};

/// A new bitmap holding a copy of the decoded picture (decoding it first when
/// needed), in the decoded pixel format; nullptr for an absent or empty
/// picture. Throws ImageError when the picture does not decode.
std::unique_ptr<TBitmap> JpegToBitmap(const TJPEGImage& jpeg);
std::unique_ptr<TBitmap> JpegToBitmap(const TJPEGImage* jpeg);
/// As above for a picture that is no longer needed: the decoded pixels move
/// into the new bitmap instead of being copied (big photos would otherwise be
/// held twice).
std::unique_ptr<TBitmap> JpegToBitmap(TJPEGImage&& jpeg);

/// A new JPEG picture holding a copy of `bitmap`, compressed once at
/// `quality` (1..100); nullptr for an absent or empty bitmap.
std::unique_ptr<TJPEGImage> BitmapToJpeg(const TBitmap& bitmap, int quality);
std::unique_ptr<TJPEGImage> BitmapToJpeg(const TBitmap* bitmap, int quality);
/// As above for a bitmap that is no longer needed: its pixels move into the
/// new picture instead of being copied.
std::unique_ptr<TJPEGImage> BitmapToJpeg(TBitmap&& bitmap, int quality);

}  // namespace sigilon
