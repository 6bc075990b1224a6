#include "engine/MarkPreview.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/BrandFields.h"
#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/JpegDecoder.h"
#include "engine/Logo.h"
#include "engine/Orientation.h"
#include "engine/formats/FormatRegistry.h"
#include "engine/formats/JpegFormat.h"
#include "platform/Files.h"

namespace sigilon {

namespace {

/// The largest of libjpeg's reductions (8, 4, 2, 1) whose picture still fills
/// a view of `boxWidth` x `boxHeight` that shows the whole picture.
int SampleScale(int width, int height, int boxWidth, int boxHeight) {
  // The view shows the picture at this fraction of its size (never enlarged).
  const double shown =
      std::min({1.0, static_cast<double>(std::max(1, boxWidth)) / std::max(1, width),
                static_cast<double>(std::max(1, boxHeight)) / std::max(1, height)});
  int scale = 8;
  while (scale > 1 && scale * shown > 1.0) scale /= 2;
  return scale;
}

}  // namespace

TMarkSample LoadMarkSample(const std::string& path, int boxWidth, int boxHeight,
                           const TBrandOptions& options) {
  const TPictureFormat* format = FormatForPath(path, options.AllTypes);
  if (!format) throw ImageError(path + ": not a picture type that is branded");
  const TReadSpec request{.Path = path, .Display = options.Display};
  TMarkSample sample{.Path = path};
  TBitmap picture;
  if (format == &JpegFormat()) {
    // The header and metadata as a run reads them; the pixels reduced.
    const std::unique_ptr<TBandReader> reader = format->OpenBandReader(request);
    sample.Metadata = reader->Metadata();
    const std::vector<std::byte> bytes = ReadWholeFile(path, kMaxJpegFileBytes);
    const TJpegHeader header = ReadJpegHeader(bytes, path);
    TJpegDecodeOptions decode = DecodeOptionsForDisplay(options.Display.ColorDepth);
    // The view's box is upright; the stored picture may lie on its side.
    const bool turned = OrientationSwapsSides(sample.Metadata.Orientation);
    decode.ScaleDenominator =
        SampleScale(turned ? header.Height : header.Width, turned ? header.Width : header.Height,
                    boxWidth, boxHeight);
    sample.Scale = decode.ScaleDenominator;
    picture = DecodeJpeg(bytes, path, decode);
  } else {
    TWholePicture whole = format->ReadWhole(request);
    sample.Metadata = std::move(whole.Metadata);
    picture = std::move(whole.Picture);
  }
  sample.Picture =
      std::make_shared<const TBitmap>(TurnUpright(std::move(picture), sample.Metadata.Orientation));
  return sample;
}

TBitmap StampMarkSample(const TMarkSample& sample, const std::string& brandText,
                        const std::string& fontText, const TBrandOptions& options) {
  TFont font;
  font.PixelsPerInch = options.Display.PixelsPerInch;
  TextToFont(fontText, font);
  // The letters of the whole picture, reduced as its pixels were.
  if (sample.Scale > 1) {
    const double height = static_cast<double>(font.Height()) / sample.Scale;
    font.SetHeight(static_cast<std::int32_t>(height < 0 ? std::min(-1.0, std::round(height))
                                                        : std::max(1.0, std::round(height))));
  }
  std::string text = brandText;
  if (options.Fields) {
    std::vector<std::string> warnings;
    text = ExpandFields(brandText, FileFieldValues(sample.Path, sample.Metadata, 1), warnings);
  }
  TStampLook look = options.Look;
  // A logo at its own size shrinks with the picture; one of a relative size
  // follows the picture's size already.
  if (sample.Scale > 1 && look.Logo && look.RelativeSize <= 0) {
    look.Logo = ReducedLogo(*look.Logo, sample.Scale);
  }
  TBitmap stamped = *sample.Picture;
  StampBrandText(text, font, stamped, look);
  return stamped;
}

}  // namespace sigilon
