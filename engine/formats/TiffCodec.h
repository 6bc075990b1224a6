#pragma once
/// TIFF on libtiff (inside the engine and its tests): every page of a file
/// read band by band from the top, in the pixel format that keeps its
/// samples (grey, RGB, alpha, palette, 8 or 16 bits), and written band by
/// band in its own kind and compression. libtiff runs over a TTiffFile: a
/// file on disk, bytes in memory, or a sink whose bytes can be revisited.

#include <cstddef>
#include <cstdint>
#include <exception>
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

/// The bytes libtiff works on, at any offset. Any call may throw: the
/// exception reaches the caller of the decoder or encoder unchanged.
class TTiffFile {
 public:
  virtual ~TTiffFile() = default;
  virtual std::uint64_t Size() const = 0;
  /// Fills `buffer` from `offset` as far as the file goes; the bytes read.
  virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) = 0;
  /// Writes at `offset`; the file grows as needed, zeros filling a gap.
  virtual void WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) = 0;
};

/// `bytes` to read, kept by the caller.
std::unique_ptr<TTiffFile> TiffFileOf(std::span<const std::byte> bytes);
/// The file at `path` to read, a part at a time. Throws PlatformError.
std::unique_ptr<TTiffFile> TiffFileAt(const std::string& path);
/// A file going to `sink`, revisited through `revisit`. Throws ImageError
/// naming `name` when `revisit` is empty.
std::unique_ptr<TTiffFile> TiffFileTo(TPictureSink sink, TPictureRevisit revisit,
                                      const std::string& name);

/// One libtiff handle over a TTiffFile, with libtiff's errors and warnings
/// recorded by our handlers (which never throw through libtiff's C frames):
/// each step's result is checked afterwards with Check.
class TTiffSession {
 public:
  enum class TMode { Read, Write };
  /// Throws ImageError naming `name` when a file to read is no TIFF.
  TTiffSession(std::unique_ptr<TTiffFile> file, TMode mode, std::string name);
  ~TTiffSession();
  TTiffSession(const TTiffSession&) = delete;
  TTiffSession& operator=(const TTiffSession&) = delete;

  TIFF* Tiff() const { return tiff_.get(); }
  const std::string& Name() const { return name_; }
  std::uint64_t FileSize() const { return file_->Size(); }
  /// Throws the file's own failure during the step unchanged; else an
  /// ImageError with libtiff's message when `ok` is false or libtiff reported
  /// an error during the step.
  void Check(bool ok, const char* what);
  /// Ends writing: the last directory goes out. Throws as Check.
  void Close();
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  struct TClose {
    void operator()(TIFF* tiff) const noexcept { TIFFClose(tiff); }
  };
  static int OnError(TIFF*, void* user, const char* module, const char* format, va_list args);
  static int OnWarning(TIFF*, void* user, const char* module, const char* format, va_list args);
  static tmsize_t OnRead(thandle_t handle, void* buffer, tmsize_t size);
  static tmsize_t OnWrite(thandle_t handle, void* buffer, tmsize_t size);
  static toff_t OnSeek(thandle_t handle, toff_t offset, int whence);
  static toff_t OnSize(thandle_t handle);

  std::string name_;
  std::unique_ptr<TTiffFile> file_;
  std::uint64_t at_ = 0;
  std::string error_{};
  std::exception_ptr pending_{};
  std::vector<std::string> warnings_{};
  std::unique_ptr<TIFF, TClose> tiff_{};
};

/// Reads a TIFF file's pages band by band. Pixel formats: palettes as pf8bit;
/// grey as pfGray8/16, with alpha pfGrayAlpha8/16; RGB as pf24bit/pf48bit,
/// with alpha pfBGRA32/pf64bit (associated alpha taken apart). Striped pages
/// are read a strip at a time (a big strip of one plane a row at a time),
/// tiled ones a row of tiles at a time.
class TTiffBandDecoder {
 public:
  /// Reads the first page's tags, checking its size against the caps and the
  /// file's size before anything is allocated. Throws ImageError naming
  /// `name`.
  TTiffBandDecoder(std::unique_ptr<TTiffFile> file, const std::string& name);
  ~TTiffBandDecoder();
  TTiffBandDecoder(const TTiffBandDecoder&) = delete;
  TTiffBandDecoder& operator=(const TTiffBandDecoder&) = delete;

  /// The current page's.
  const TPictureHeader& Header() const;
  const TPictureMetadata& Metadata() const;
  int NextRow() const;
  TBitmap NewBand(int rows) const;
  /// As TBandReader::ReadRows.
  int ReadRows(TBitmap& picture, int firstRow, int rows);
  int Pages() const;
  /// As TBandReader::NextPage; all pages together stay within one picture's
  /// caps.
  void NextPage();
  std::vector<std::string> Warnings() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

/// Writes rows as a TIFF file of request.Pages pages, each page in the pixel
/// format of its rows, with request.Metadata's compression (JPEG-in-TIFF at
/// the chosen quality), profile and, with KeepMetadata, XMP and IPTC; in
/// strips, orientation 1.
class TTiffBandEncoder {
 public:
  TTiffBandEncoder(const TWriteSpec& request, std::unique_ptr<TTiffFile> file);
  ~TTiffBandEncoder();
  TTiffBandEncoder(const TTiffBandEncoder&) = delete;
  TTiffBandEncoder& operator=(const TTiffBandEncoder&) = delete;

  void WriteRows(const TBitmap& picture, int firstRow, int rows);
  void NextPage(int width, int height);
  void Finish();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

/// The pages of a TIFF file decoded whole: the first as stored with its
/// metadata (its orientation still to apply), the others already upright.
TWholePicture DecodeTiff(std::unique_ptr<TTiffFile> file, const std::string& name);
TWholePicture DecodeTiff(std::span<const std::byte> file, const std::string& name);

/// `picture` and request.MorePages as a TIFF file in memory.
std::vector<std::byte> EncodeTiff(const TBitmap& picture, const TWriteSpec& request);

/// Whether the encoder takes pictures of `format` as they are.
bool TiffWrites(TPixelFormat format);

}  // namespace sigilon
