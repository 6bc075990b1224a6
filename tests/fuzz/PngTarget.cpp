// PNG reader, as the branding uses it: whatever decodes is stamped, encoded
// in its own kind and decoded again to the same size, pixel format, palette
// and depth.

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/formats/PngCodec.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace sigilon;

namespace {

TPngBandDecoder::TRead ReadFrom(std::span<const std::byte> bytes) {
  return [bytes, at = std::size_t{0}](std::span<std::byte> buffer) mutable {
    const std::size_t n = std::min(buffer.size(), bytes.size() - at);
    std::memcpy(buffer.data(), bytes.data() + at, n);
    at += n;
    return n;
  };
}

struct TDecoded {
  TBitmap Picture;
  int BitsPerSample = 0;
};

TDecoded Decode(std::span<const std::byte> bytes, const char* name) {
  TPngBandDecoder decoder(ReadFrom(bytes), bytes.size(), name);
  TDecoded decoded{decoder.NewBand(decoder.Header().Height), decoder.Header().BitsPerSample};
  FUZZ_CHECK(decoder.ReadRows(decoded.Picture, 0, decoder.Header().Height) ==
             decoder.Header().Height);
  decoder.Finish();
  return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TDecoded first;
  try {
    first = Decode(fuzz::Bytes(data, size), "fuzz.png");
  } catch (const ImageError&) {
    return 0;
  }
  TFont font;
  font.SetSize(12);
  font.Color = static_cast<TColor>(0x3366CC);
  StampBrandText("Fuzz", font, first.Picture);

  std::vector<std::byte> encoded;
  TPngBandEncoder encoder({.Name = "encoded.png",
                           .Width = first.Picture.Width(),
                           .Height = first.Picture.Height(),
                           .BitsPerSample = first.BitsPerSample},
                          [&](std::span<const std::byte> bytes) {
                            encoded.insert(encoded.end(), bytes.begin(), bytes.end());
                          });
  encoder.WriteRows(first.Picture, 0, first.Picture.Height());
  encoder.Finish();

  const TDecoded second = Decode(encoded, "encoded.png");
  const TBitmap& a = first.Picture;
  const TBitmap& b = second.Picture;
  FUZZ_CHECK(a.Width() == b.Width() && a.Height() == b.Height());
  FUZZ_CHECK(a.PixelFormat() == b.PixelFormat());
  FUZZ_CHECK(a.Palette() == b.Palette() && a.PaletteAlpha == b.PaletteAlpha);
  FUZZ_CHECK(second.BitsPerSample == first.BitsPerSample);
  return 0;
}
