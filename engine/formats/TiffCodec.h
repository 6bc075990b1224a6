#pragma once
/// TIFF decoding and encoding of whole files in memory (inside the engine
/// and its tests): libtiff runs over our bytes through TTiffSession; every
/// page, in its own pixel format, depth and compression.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/formats/PictureFormat.h"

#include <tiffio.h>

namespace sigilon {

/// Most pixels one TIFF may claim for each byte of its file: beyond what
/// LZW or Deflate make of a plain picture, so a few bytes cannot claim
/// gigabytes.
inline constexpr std::uint64_t kMaxTiffPixelsPerByte = 4096;
/// Most pages read from one file.
inline constexpr int kMaxTiffPages = 1000;
/// Most bytes libtiff may allocate at once (a strip, a tile, a tag).
inline constexpr std::uint64_t kMaxTiffSingleAlloc = std::uint64_t{256} << 20;
/// Most warnings kept for one file: a damaged file may repeat itself.
inline constexpr std::size_t kMaxTiffWarnings = 20;

/// One libtiff handle over bytes in memory, with libtiff's errors and
/// warnings recorded by our handlers (which never throw through libtiff's C
/// frames): each step's result is checked afterwards with Check.
class TTiffSession {
 public:
  /// Reads `file`. Throws ImageError naming `name` when it is no TIFF.
  TTiffSession(std::span<const std::byte> file, std::string name);
  /// Writes into `out`.
  TTiffSession(std::vector<std::byte>& out, std::string name);
  ~TTiffSession();
  TTiffSession(const TTiffSession&) = delete;
  TTiffSession& operator=(const TTiffSession&) = delete;

  TIFF* Tiff() const { return tiff_.get(); }
  const std::string& Name() const { return name_; }
  /// Throws ImageError with libtiff's message when `ok` is false or libtiff
  /// reported an error during the step.
  void Check(bool ok, const char* what);
  /// Whether libtiff reported an error since the last Check.
  bool Failed() const { return !error_.empty(); }
  /// Ends writing: the last directory goes out. Throws as Check.
  void Close();
  const std::vector<std::string>& Warnings() const { return warnings_; }

  /// Where libtiff's reads, writes and seeks go.
  struct TMemory {
    std::span<const std::byte> In{};
    std::vector<std::byte>* Out = nullptr;
    std::uint64_t At = 0;
  };

 private:
  struct TClose {
    void operator()(TIFF* tiff) const noexcept { TIFFClose(tiff); }
  };
  void Open(const char* mode);
  static int OnError(TIFF*, void* user, const char* module, const char* format, va_list args);
  static int OnWarning(TIFF*, void* user, const char* module, const char* format, va_list args);

  std::string name_;
  TMemory memory_{};
  std::string error_{};
  std::vector<std::string> warnings_{};
  std::unique_ptr<TIFF, TClose> tiff_{};
};

/// The pages of a TIFF file: the first as stored with its metadata (its
/// orientation still to apply), the others already upright.
TWholePicture DecodeTiff(std::span<const std::byte> file, const std::string& name);

/// `picture` and request.MorePages as a TIFF file: each page in its own pixel
/// format, the source's compression (request.Metadata), strips, orientation 1.
std::vector<std::byte> EncodeTiff(const TBitmap& picture, const TWriteSpec& request);

/// Whether EncodeTiff takes pictures of `format` as they are.
bool TiffWrites(TPixelFormat format);

}  // namespace sigilon
