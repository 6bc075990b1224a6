// TIFF reader, as the branding uses it: whatever decodes is stamped page by
// page, encoded in its own kind and compression and decoded again to the same
// pages, sizes and pixel formats.

#include <vector>

#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/formats/TiffCodec.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzStamp.h"

using namespace sigilon;

namespace {

bool SameKind(const TBitmap& a, const TBitmap& b) {
  return a.Width() == b.Width() && a.Height() == b.Height() && a.PixelFormat() == b.PixelFormat();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TWholePicture first;
  try {
    first = DecodeTiff(fuzz::Bytes(data, size), "fuzz.tif");
  } catch (const ImageError&) {
    return 0;
  }
  fuzz::StampFuzzBrand(first.Picture);
  for (TBitmap& page : first.MorePages) fuzz::StampFuzzBrand(page);

  const std::vector<std::byte> encoded =
      EncodeTiff(first.Picture, {.Name = "encoded.tif",
                                 .Width = first.Picture.Width(),
                                 .Height = first.Picture.Height(),
                                 .Metadata = &first.Metadata,
                                 .KeepMetadata = true,
                                 .MorePages = first.MorePages});
  // Upright pages stay upright; the first keeps its stored orientation until
  // the branding turns it, and the copy says 1.
  const TWholePicture second = DecodeTiff(encoded, "encoded.tif");
  FUZZ_CHECK(SameKind(first.Picture, second.Picture));
  FUZZ_CHECK(second.Metadata.Orientation == 1);
  FUZZ_CHECK(second.Metadata.IccProfile == first.Metadata.IccProfile);
  FUZZ_CHECK(second.MorePages.size() == first.MorePages.size());
  for (std::size_t i = 0; i < first.MorePages.size(); ++i) {
    FUZZ_CHECK(SameKind(first.MorePages[i], second.MorePages[i]));
  }
  return 0;
}
