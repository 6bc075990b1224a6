// JPEG reader, through the picture class the branding uses: whatever
// decodes encodes at the branding quality, and that decodes to the same size.

#include <memory>
#include <vector>

#include "engine/Errors.h"
#include "engine/JpegImage.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace sigilon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The last byte picks a palette display (8 bits) or a true-colour one, so
  // both decoding paths see every input shape.
  const int colorDepth = size > 0 && (data[size - 1] & 1) ? 8 : 24;
  std::unique_ptr<TBitmap> decoded;
  try {
    TJPEGImage source(colorDepth);
    const auto bytes = fuzz::Bytes(data, size);
    source.LoadFromBytes(std::vector<std::byte>(bytes.begin(), bytes.end()), "fuzz.jpg");
    decoded = JpegToBitmap(std::move(source));
  } catch (const ImageError&) {
    return 0;
  }
  FUZZ_CHECK(decoded && !decoded->Empty());
  const int width = decoded->Width();
  const int height = decoded->Height();
  const std::unique_ptr<TJPEGImage> encoded = BitmapToJpeg(std::move(*decoded), 100);
  FUZZ_CHECK(encoded != nullptr);
  TJPEGImage again;
  again.LoadFromBytes(encoded->CompressedBytes(), "encoded.jpg");
  FUZZ_CHECK(again.Header().Components == 3 && !again.Header().Progressive);
  const TBitmap& picture = again.Bitmap();
  FUZZ_CHECK(picture.Width() == width && picture.Height() == height);
  return 0;
}
