#include "engine/BrandFile.h"

#include <exception>
#include <memory>
#include <new>

#include "engine/BandBranding.h"
#include "engine/Bitmap.h"
#include "engine/BmpCodec.h"
#include "engine/BrandJob.h"
#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/Orientation.h"
#include "engine/formats/FormatRegistry.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

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

// A format that does not stream, or a copy converted to one: the picture is
// read, stamped and encoded whole, and written once it is complete.
std::vector<std::string> BrandWholeFile(const TBrandJob& job, const TPictureFormat& format,
                                        const TPictureFormat& writeFormat) {
  job.GuardTarget();
  TWholePicture whole = format.ReadWhole({.Path = job.SourcePath, .Display = job.Options.Display});
  RefuseDamaged(job, format, whole.Warnings);
  std::vector<std::string> fieldWarnings;
  const std::string text = StampText(job, whole.Metadata, fieldWarnings);
  // Stamped and written upright, as a streamed picture is.
  const auto picture =
      std::make_shared<TBitmap>(TurnUpright(std::move(whole.Picture), whole.Metadata.Orientation));
  StampBrandText(text, job.Font, *picture, job.Options.Look);
  for (TBitmap& page : whole.MorePages) StampBrandText(text, job.Font, page, job.Options.Look);
  if (job.ShowPicture) job.ShowPicture(picture);
  const std::vector<std::byte> file = EncodeWholeFor(writeFormat, *picture,
                                                     {.Name = job.SourcePath,
                                                      .Width = picture->Width(),
                                                      .Height = picture->Height(),
                                                      .Metadata = &whole.Metadata,
                                                      .KeepMetadata = job.Options.KeepMetadata,
                                                      .Quality = job.Options.Quality,
                                                      .Optimize = job.Options.Optimize,
                                                      .MorePages = whole.MorePages});
  job.GuardTarget();
  WriteTargetFile(job.TargetPath, file);
  whole.Warnings.insert(whole.Warnings.end(), fieldWarnings.begin(), fieldWarnings.end());
  return whole.Warnings;
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

TBrandOutcome BrandFile(const std::string& brandText, const std::string& fontText,
                        const std::string& sourcePath, const std::string& targetPath,
                        const TPreviewCallback& preview, const TBrandOptions& options) {
  TFont font;
  font.PixelsPerInch = options.Display.PixelsPerInch;
  // A font text that cannot be read is the caller's problem, not this file's:
  // it escapes before any file is looked at.
  TextToFont(fontText, font);

  const TPictureFormat* format = FormatForPath(sourcePath, options.AllTypes);
  if (!format) return {.Kind = TOutcomeKind::NotProcessable};
  const TPictureFormat& writeFormat = options.WriteFormat ? *options.WriteFormat : *format;
  TBrandJob job{.BrandText = brandText,
                .Font = font,
                .SourcePath = sourcePath,
                .TargetPath = targetPath,
                .Options = options,
                .ShowPicture = {},
                .GuardTarget = [&] { GuardTarget(sourcePath, targetPath); }};
  if (format->Previews() && options.PicturePreview) {
    job.ShowPicture = options.PicturePreview;
  } else if (format->Previews() && preview) {
    job.ShowPicture = [&](const std::shared_ptr<const TBitmap>& picture) {
      ShowPreview(*picture, preview);
    };
  }
  try {
    std::vector<std::string> warnings = format->Streams() && writeFormat.Streams()
                                            ? BrandInBands(job, *format, writeFormat)
                                            : BrandWholeFile(job, *format, writeFormat);
    return {.Kind = TOutcomeKind::Processed, .Warnings = std::move(warnings)};
  } catch (...) {
    // Whatever went wrong with this one file (unreadable, not what its name
    // says, a codec error, a full disk, a failing preview, even exhausted
    // memory) is reported as its outcome; the run goes on.
    return {.Kind = TOutcomeKind::Failed,
            .Reason = FailureReason(std::current_exception(), sourcePath)};
  }
}

}  // namespace sigilon
