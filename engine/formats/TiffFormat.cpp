#include "engine/formats/TiffFormat.h"

#include <array>

#include "engine/formats/TiffCodec.h"
#include "platform/Files.h"

namespace sigilon {

namespace {

/// Largest TIFF file read: the largest picture the caps admit, uncompressed
/// at 64 bits a pixel, with room for tags.
constexpr std::uint64_t kMaxTiffFileBytes = kMaxPixels * 8 + (std::uint64_t{64} << 20);

class TTiff final : public TPictureFormat {
 public:
  std::string_view Name() const override { return "TIFF"; }
  std::span<const std::string_view> Extensions() const override { return kExtensions; }
  // Pages are held whole: a file may hold several, each branded.
  bool Streams() const override { return false; }
  // The preview shows bitmap files, which hold no grey, alpha or 16-bit
  // samples.
  bool Previews() const override { return false; }
  bool Writes(TPixelFormat pixelFormat) const override { return TiffWrites(pixelFormat); }
  TWholePicture ReadWhole(const TReadSpec& request) const override {
    const std::vector<std::byte> file = ReadWholeFile(request.Path, kMaxTiffFileBytes);
    return DecodeTiff(file, request.Path);
  }
  std::vector<std::byte> EncodeWhole(const TBitmap& picture,
                                     const TWriteSpec& request) const override {
    return EncodeTiff(picture, request);
  }

 private:
  static constexpr std::array<std::string_view, 2> kExtensions{".TIF", ".TIFF"};
};

}  // namespace

const TPictureFormat& TiffFormat() {
  static const TTiff format;
  return format;
}

}  // namespace sigilon
