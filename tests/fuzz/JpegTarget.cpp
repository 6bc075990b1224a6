// JPEG reader, decoding as the branding does for either kind of display:
// whatever decodes encodes at the branding quality, and that decodes to the
// same size.

#include <vector>

#include "engine/Errors.h"
#include "engine/JpegCodec.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace sigilon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The last byte picks a palette display (8 bits) or a true-colour one, so
  // both decoding paths see every input shape.
  const int colorDepth = size > 0 && (data[size - 1] & 1) ? 8 : 24;
  const auto bytes = fuzz::Bytes(data, size);
  TBitmap decoded;
  try {
    ReadJpegHeader(bytes, "fuzz.jpg");
    decoded = DecodeJpeg(bytes, "fuzz.jpg", DecodeOptionsForDisplay(colorDepth));
  } catch (const ImageError&) {
    return 0;
  }
  FUZZ_CHECK(!decoded.Empty());
  const std::vector<std::byte> encoded = EncodeJpeg(decoded, 100, "encoded.jpg");
  const TJpegHeader header = ReadJpegHeader(encoded, "encoded.jpg");
  FUZZ_CHECK(header.Components == 3 && !header.Progressive);
  const TBitmap picture = DecodeJpeg(encoded, "encoded.jpg");
  FUZZ_CHECK(picture.Width() == decoded.Width() && picture.Height() == decoded.Height());
  return 0;
}
