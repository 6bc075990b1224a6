#include "engine/BrandFile.h"

#include <exception>
#include <new>

#include "engine/BandBranding.h"
#include "engine/Bitmap.h"
#include "engine/BmpCodec.h"
#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/JpegCodec.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

constexpr const char* kProcessed = "Processed file: ";
constexpr const char* kFailed = "Failed to process file: ";
constexpr const char* kNotProcessable = "File type not processable: ";

// Branded JPEGs are always written at the highest quality: a proof must not
// lose detail to the brand.
constexpr int kBrandQuality = 100;

enum class TFileKind { Jpeg, Bitmap, Other };

// The extension starts at the last "." that stands after the last path
// separator (and the last ":"), and only its letters a-z are upper-cased.
TFileKind KindOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("/:");
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) {
    return TFileKind::Other;
  }
  std::string extension = path.substr(dot);
  for (char& c : extension) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (extension == ".JPG") return TFileKind::Jpeg;
  if (extension == ".BMP") return TFileKind::Bitmap;
  return TFileKind::Other;
}

// Writing the target must never change the originals: not into the source's
// directory, and not through a link that leads there.
void GuardTarget(const std::string& sourcePath, const std::string& targetPath) {
  if (TargetReachesSource(sourcePath, targetPath)) {
    throw ImageError(targetPath + ": refusing to write a target into the source directory");
  }
}

// The preview is the stamped picture as a bitmap file: as big as the raw
// pixels, so it lives in memory that is cheap to fill (see AllocateLargeBlock).
void ShowPreview(const TBitmap& picture, const TPreviewCallback& preview) {
  struct TFree {
    std::size_t bytes;
    void operator()(std::byte* block) const noexcept { FreeLargeBlock(block, bytes); }
  };
  const std::size_t size = BitmapFileSize(picture);
  const std::unique_ptr<std::byte[], TFree> file(static_cast<std::byte*>(AllocateLargeBlock(size)),
                                                 TFree{size});
  const std::span<std::byte> bytes(file.get(), size);
  WriteBitmapFile(picture, bytes);
  preview(bytes);
}

// libjpeg's warnings about one file as one text.
std::string JoinWarnings(const std::vector<std::string>& warnings) {
  std::string text;
  for (const std::string& warning : warnings) text += (text.empty() ? "" : "; ") + warning;
  return text;
}

// Returns what was wrong with a damaged file branded as far as it decodes
// (empty for a sound one).
std::string BrandJpeg(const std::string& brandText, const TFont& font,
                      const std::string& sourcePath, const std::string& targetPath,
                      const TPreviewCallback& preview, const TBrandOptions& options) {
  // Brand it as a stream of bands: in a few megabytes whatever its size when
  // nothing needs the whole stamped picture, and with the encoding following
  // the decoding on a second core when there is one.
  const TJpegDecodeOptions decoding = DecodeOptionsForDisplay(options.Display.ColorDepth);
  std::vector<std::string> warnings;
  const auto guard = [&] {
    GuardTarget(sourcePath, targetPath);
    // Warnings are known once the picture is decoded, before it is shown or put in place.
    if (options.Strict && !warnings.empty()) {
      throw ImageError(sourcePath + ": damaged JPEG data: " + JoinWarnings(warnings));
    }
  };
  TStampedPictureHandler show;
  if (options.PicturePreview) {
    show = options.PicturePreview;
  } else if (preview) {
    show = [&](const std::shared_ptr<const TBitmap>& picture) { ShowPreview(*picture, preview); };
  }
  BrandJpegInBands(brandText, font, sourcePath, targetPath, decoding, kBrandQuality,
                   options.Threads, options.KeepMetadata, guard, warnings, options.Look, show);
  return JoinWarnings(warnings);
}

void BrandBitmap(const std::string& brandText, const TFont& font, const std::string& sourcePath,
                 const std::string& targetPath, const TStampLook& look) {
  GuardTarget(sourcePath, targetPath);
  TBitmap working;
  {
    const std::vector<std::byte> source = ReadWholeFile(sourcePath, kMaxBitmapFileBytes);
    if (source.empty()) throw ImageError(sourcePath + ": empty file");
    working = LoadBitmapFromBytes(source, sourcePath);
  }
  StampBrandText(brandText, font, working, look);
  const std::vector<std::byte> file = working.SaveToBytes();
  GuardTarget(sourcePath, targetPath);
  WriteTargetFile(targetPath, file);
}

// Why one file failed, in words for its user. The source path is what the
// report is about already, so it is not repeated; another path (the target)
// stays in the text.
std::string FailureReason(const std::exception_ptr& failure, const std::string& sourcePath) {
  try {
    std::rethrow_exception(failure);
  } catch (const PlatformError& error) {
    if (error.Path() == sourcePath && !error.Reason().empty()) return error.Reason();
    return error.what();
  } catch (const std::bad_alloc&) {
    return "not enough memory for the picture";
  } catch (const std::exception& error) {
    std::string text = error.what();
    const std::string prefix = sourcePath + ": ";
    if (text.starts_with(prefix)) text.erase(0, prefix.size());
    return text.empty() ? "unknown error" : text;
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace

void BrandFile(const std::string& brandText, const std::string& fontText,
               const std::string& sourcePath, const std::string& targetPath,
               const TPreviewCallback& preview, std::string& resultLine,
               const TBrandOptions& options, std::string* failureReason) {
  if (failureReason) failureReason->clear();
  TFont font;
  font.PixelsPerInch = options.Display.PixelsPerInch;
  // A font text that cannot be read is the caller's problem, not this file's:
  // it escapes before any file is looked at.
  TextToFont(fontText, font);

  const TFileKind kind = KindOf(sourcePath);
  if (kind == TFileKind::Other) {
    resultLine = kNotProcessable + sourcePath;
    return;
  }
  try {
    if (kind == TFileKind::Jpeg) {
      const std::string damage =
          BrandJpeg(brandText, font, sourcePath, targetPath, preview, options);
      if (failureReason) *failureReason = damage;
    } else {
      BrandBitmap(brandText, font, sourcePath, targetPath, options.Look);
    }
    resultLine = kProcessed + sourcePath;
  } catch (...) {
    // Whatever went wrong with this one file (unreadable, not what its name
    // says, a codec error, a full disk, a failing preview, even exhausted
    // memory) is reported on its result line; the run goes on.
    resultLine = kFailed + sourcePath;
    if (failureReason) *failureReason = FailureReason(std::current_exception(), sourcePath);
  }
}

}  // namespace sigilon
