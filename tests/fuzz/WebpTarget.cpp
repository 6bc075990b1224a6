// WebP reader, as the branding uses it: whatever decodes is stamped, encoded
// (lossless where the source was) with its metadata and decoded again to the
// same size and channels; alpha may only go where the stamped picture is
// opaque all over, as the encoder leaves it out then.

#include <algorithm>
#include <vector>

#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/formats/WebpFormat.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzStamp.h"

using namespace sigilon;

namespace {

bool Opaque(const TBitmap& picture) {
  for (int y = 0; y < picture.Height(); ++y) {
    const std::span<const std::uint8_t> row = picture.Row(y);
    for (int x = 0; x < picture.Width(); ++x) {
      if (row[static_cast<std::size_t>(x) * 4 + 3] != 255) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TWholePicture first;
  try {
    first = DecodeWebp(fuzz::Bytes(data, size), "fuzz.webp");
  } catch (const ImageError&) {
    return 0;
  }
  fuzz::StampFuzzBrand(first.Picture);

  const std::vector<std::byte> encoded =
      EncodeWebp(first.Picture, {.Name = "encoded.webp",
                                 .Width = first.Picture.Width(),
                                 .Height = first.Picture.Height(),
                                 .Metadata = &first.Metadata,
                                 .KeepMetadata = true});
  const TWholePicture second = DecodeWebp(encoded, "encoded.webp");
  const TBitmap& a = first.Picture;
  const TBitmap& b = second.Picture;
  FUZZ_CHECK(a.Width() == b.Width() && a.Height() == b.Height());
  FUZZ_CHECK(a.PixelFormat() == b.PixelFormat() ||
             (a.PixelFormat() == TPixelFormat::pfBGRA32 && Opaque(a)));
  FUZZ_CHECK(second.Metadata.Lossless == first.Metadata.Lossless);
  FUZZ_CHECK(second.Metadata.IccProfile == first.Metadata.IccProfile);
  return 0;
}
