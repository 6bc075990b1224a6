// Bitmap reader: whatever reads, written and read back, is the same picture,
// and writing that again gives the same bytes.

#include <vector>

#include "engine/BmpCodec.h"
#include "engine/Errors.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace sigilon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TBitmap first;
  try {
    first = LoadBitmapFromBytes(fuzz::Bytes(data, size), "fuzz.bmp");
  } catch (const ImageError&) {
    return 0;
  }
  const std::vector<std::byte> written = SaveBitmapToBytes(first);
  const TBitmap second = LoadBitmapFromBytes(written, "written.bmp");
  FUZZ_CHECK(second.Width() == first.Width() && second.Height() == first.Height());
  FUZZ_CHECK(second.PixelFormat() == first.PixelFormat());
  FUZZ_CHECK(second.Palette() == first.Palette());
  FUZZ_CHECK(second.Masks() == first.Masks());
  FUZZ_CHECK(second.XPelsPerMeter == first.XPelsPerMeter &&
             second.YPelsPerMeter == first.YPelsPerMeter);
  const auto a = first.Pixels();
  const auto b = second.Pixels();
  FUZZ_CHECK(a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin()));
  FUZZ_CHECK(SaveBitmapToBytes(second) == written);
  return 0;
}
