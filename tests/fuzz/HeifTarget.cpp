// HEIF reader (HEIC and AVIF), as the branding uses it: whatever decodes is
// stamped, encoded with its colours and metadata and decoded again to the
// same size and channels. Copies are written as AVIF when the source is one
// and as HEIC otherwise; only pictures of up to a megapixel are encoded, to
// keep each run short.

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/formats/HeifFormat.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzStamp.h"

using namespace sigilon;

namespace {

constexpr std::uint64_t kMaxEncodedPixels = 1 << 20;

bool IsAvif(const std::uint8_t* data, std::size_t size) {
  return size >= 12 && std::memcmp(data + 8, "avi", 3) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TWholePicture first;
  try {
    first = DecodeHeif(fuzz::Bytes(data, size), "fuzz.heic");
  } catch (const ImageError&) {
    return 0;
  }
  if (static_cast<std::uint64_t>(first.Picture.Width()) * first.Picture.Height() >
      kMaxEncodedPixels) {
    return 0;
  }
  fuzz::StampFuzzBrand(first.Picture);

  const std::vector<std::byte> encoded = EncodeHeif(first.Picture,
                                                    {.Name = "encoded.heic",
                                                     .Width = first.Picture.Width(),
                                                     .Height = first.Picture.Height(),
                                                     .Metadata = &first.Metadata,
                                                     .KeepMetadata = true},
                                                    IsAvif(data, size));
  const TWholePicture second = DecodeHeif(encoded, "encoded.heic");
  const TBitmap& a = first.Picture;
  const TBitmap& b = second.Picture;
  FUZZ_CHECK(a.Width() == b.Width() && a.Height() == b.Height());
  FUZZ_CHECK(a.PixelFormat() == b.PixelFormat());
  FUZZ_CHECK(second.Metadata.IccProfile == first.Metadata.IccProfile);
  return 0;
}
