#include "engine/formats/BmpFormat.h"

#include <array>

#include "engine/BmpCodec.h"
#include "engine/Errors.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

class TBmp final : public TPictureFormat {
 public:
  std::string_view Name() const override { return "bitmap"; }
  std::span<const std::string_view> Extensions() const override { return kExtensions; }
  bool Streams() const override { return false; }
  bool Previews() const override { return false; }

  TWholePicture ReadWhole(const TReadSpec& request) const override {
    const std::vector<std::byte> file = ReadWholeFile(request.Path, kMaxBitmapFileBytes);
    if (file.empty()) throw ImageError(request.Path + ": empty file");
    return {LoadBitmapFromBytes(file, request.Path)};
  }
  // The copy keeps the picture's pixel format, palette, masks and resolution.
  std::vector<std::byte> EncodeWhole(const TBitmap& picture, const TWriteSpec&) const override {
    return picture.SaveToBytes();
  }

 private:
  static constexpr std::array<std::string_view, 1> kExtensions{".BMP"};
};

}  // namespace

const TPictureFormat& BmpFormat() {
  static const TBmp format;
  return format;
}

}  // namespace sigilon
