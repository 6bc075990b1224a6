// PNG reader, as the branding uses it: whatever decodes is stamped, encoded
// in its own kind and decoded again to the same size, pixel format, palette
// and depth. Inputs whose last byte is odd get their chunk checksums made
// right first, so that mutated chunks reach their readers instead of being
// dropped as damaged.

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/formats/PngCodec.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzStamp.h"

#include <zlib.h>

using namespace sigilon;

namespace {

TPngBandDecoder::TRead ReadFrom(std::span<const std::byte> bytes) {
  return [bytes, at = std::size_t{0}](std::span<std::byte> buffer) mutable {
    const std::size_t n = std::min(buffer.size(), bytes.size() - at);
    if (n > 0) std::memcpy(buffer.data(), bytes.data() + at, n);
    at += n;
    return n;
  };
}

std::vector<std::byte> WithRightChecksums(std::span<const std::byte> bytes) {
  std::vector<std::byte> out(bytes.begin(), bytes.end());
  const auto u32 = [&](std::size_t at) {
    return std::uint32_t(out[at]) << 24 | std::uint32_t(out[at + 1]) << 16 |
           std::uint32_t(out[at + 2]) << 8 | std::uint32_t(out[at + 3]);
  };
  for (std::size_t at = 8; at + 12 <= out.size();) {
    const std::uint64_t length = u32(at);
    if (length > out.size() - at - 12) break;
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(
        0, reinterpret_cast<const Bytef*>(out.data() + at + 4), static_cast<uInt>(length + 4)));
    const std::size_t end = at + 8 + static_cast<std::size_t>(length);
    for (int i = 0; i < 4; ++i) out[end + i] = static_cast<std::byte>(crc >> (24 - 8 * i));
    at = end + 4;
  }
  return out;
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
  const std::vector<std::byte> input =
      size > 0 && (data[size - 1] & 1)
          ? WithRightChecksums(fuzz::Bytes(data, size))
          : std::vector<std::byte>(fuzz::Bytes(data, size).begin(), fuzz::Bytes(data, size).end());
  TDecoded first;
  try {
    first = Decode(input, "fuzz.png");
  } catch (const ImageError&) {
    return 0;
  }
  fuzz::StampFuzzBrand(first.Picture);

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
