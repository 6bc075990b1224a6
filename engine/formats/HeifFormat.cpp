#include "engine/formats/HeifFormat.h"

#include <libheif/heif.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "engine/Errors.h"
#include "engine/MetadataSignatures.h"
#include "engine/formats/HeifLayout.h"
#include "engine/formats/PngMetadata.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

// Pictures of phones and cameras are far smaller; a lossless 8-bit one at
// the pixel cap is not.
constexpr std::uint64_t kMaxHeifFileBytes = kMaxPixels * 4 + (std::uint64_t{1} << 20);
// No side may be longer than the picture cap's square's.
constexpr int kMaxHeifSide = 1 << 16;

struct TContextFree {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct THandleRelease {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct TImageRelease {
  void operator()(heif_image* image) const { heif_image_release(image); }
};
struct TEncoderRelease {
  void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};
struct TNclxFree {
  void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};
using TContext = std::unique_ptr<heif_context, TContextFree>;
using THandle = std::unique_ptr<heif_image_handle, THandleRelease>;
using TImage = std::unique_ptr<heif_image, TImageRelease>;
using TEncoder = std::unique_ptr<heif_encoder, TEncoderRelease>;
using TNclx = std::unique_ptr<heif_color_profile_nclx, TNclxFree>;

void Check(const heif_error& error, const std::string& name, const std::string& doing) {
  if (error.code == heif_error_Ok) return;
  throw ImageError(name + ": " + doing + ": " +
                   (error.message != nullptr ? error.message : "libheif error"));
}

TContext NewContext() {
  TContext context(heif_context_alloc());
  if (!context) throw std::bad_alloc();
  return context;
}

std::vector<std::byte> MetadataBlock(const heif_image_handle* handle, heif_item_id id) {
  std::vector<std::byte> block(heif_image_handle_get_metadata_size(handle, id));
  if (block.empty() ||
      heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok) {
    return {};
  }
  return block;
}

// The first metadata block of `type` (and content type, for "mime").
std::vector<std::byte> FirstBlock(const heif_image_handle* handle, const char* type,
                                  std::string_view contentType = {}) {
  std::array<heif_item_id, 16> ids{};
  const int count = heif_image_handle_get_list_of_metadata_block_IDs(handle, type, ids.data(),
                                                                     static_cast<int>(ids.size()));
  for (int i = 0; i < count; ++i) {
    if (!contentType.empty() &&
        heif_image_handle_get_metadata_content_type(handle, ids[i]) != contentType) {
      continue;
    }
    return MetadataBlock(handle, ids[i]);
  }
  return {};
}

// A HEIF EXIF block starts with the offset of the TIFF structure after it.
std::vector<std::byte> BareExif(std::vector<std::byte> block) {
  if (block.size() < 4) return {};
  const std::uint64_t offset = std::uint64_t(block[0]) << 24 | std::uint64_t(block[1]) << 16 |
                               std::uint64_t(block[2]) << 8 | std::uint64_t(block[3]);
  if (offset > block.size() - 4) return {};
  block.erase(block.begin(), block.begin() + 4 + static_cast<std::ptrdiff_t>(offset));
  if (StartsWithSignature(block, kExifSignature)) {
    block.erase(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(kExifSignature.size()));
  }
  return block;
}

TPictureMetadata MetadataOf(const heif_image_handle* handle) {
  TPngMetadata blocks;
  const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle);
  if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
    blocks.IccProfile.resize(heif_image_handle_get_raw_color_profile_size(handle));
    if (heif_image_handle_get_raw_color_profile(handle, blocks.IccProfile.data()).code !=
        heif_error_Ok) {
      blocks.IccProfile.clear();
    }
  }
  blocks.Exif = BareExif(FirstBlock(handle, "Exif"));
  blocks.Xmp = FirstBlock(handle, "mime", "application/rdf+xml");
  TPictureMetadata metadata = PictureMetadataOf(blocks);
  // The file's rotation and mirror turn the picture, applied on decoding;
  // the EXIF orientation only repeats them.
  metadata.Orientation = 1;
  heif_color_profile_nclx* nclx = nullptr;
  // Owned even when libheif reports an error after making it.
  const heif_error found = heif_image_handle_get_nclx_color_profile(handle, &nclx);
  const TNclx owned(nclx);
  if (found.code == heif_error_Ok && nclx) {
    metadata.ColourCodes = {nclx->color_primaries, nclx->transfer_characteristics,
                            nclx->matrix_coefficients, nclx->full_range_flag};
  }
  return metadata;
}

// One row between libheif's R, G, B(, A) and the bitmap's B, G, R(, A).
void SwapRedBlue(const std::uint8_t* from, std::uint8_t* to, int width, bool alpha) {
  const int channels = alpha ? 4 : 3;
  for (int x = 0; x < width; ++x, from += channels, to += channels) {
    to[0] = from[2];
    to[1] = from[1];
    to[2] = from[0];
    if (alpha) to[3] = from[3];
  }
}

}  // namespace

TWholePicture DecodeHeif(std::span<const std::byte> file, const std::string& name) {
  const TContext context = NewContext();
  heif_context_set_maximum_image_size_limit(context.get(), kMaxHeifSide);
  Check(
      heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr),
      name, "expected a HEIF picture");
  // libheif composes a grid or an overlay on the canvas it describes, and
  // decodes a coded picture to the frame its stream declares, which neither
  // a size box nor the limit above bounds.
  CheckHeifPictureSizes(file, kMaxHeifPixelsPerByte, name);
  const int pictures = heif_context_get_number_of_top_level_images(context.get());
  if (pictures > 1) {
    throw ImageError(name + ": holds " + std::to_string(pictures) +
                     " pictures; picture sequences are not branded");
  }
  heif_image_handle* primary = nullptr;
  Check(heif_context_get_primary_image_handle(context.get(), &primary), name,
        "expected a primary picture");
  const THandle handle(primary);
  const int width = heif_image_handle_get_width(primary);
  const int height = heif_image_handle_get_height(primary);
  if (width <= 0 || height <= 0) throw ImageError(name + ": expected a picture size, found none");
  if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxPixels) {
    throw ImageError(name + ": expected at most " + std::to_string(kMaxPixels) + " pixels, found " +
                     std::to_string(width) + " x " + std::to_string(height));
  }
  CheckPixelsPerByte(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height),
                     file.size(), kMaxHeifPixelsPerByte, name);

  const bool alpha = heif_image_handle_has_alpha_channel(primary) != 0;
  heif_image* decodedImage = nullptr;
  Check(heif_decode_image(primary, &decodedImage, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                          nullptr),
        name, "expected HEIF picture data");
  const TImage decoded(decodedImage);
  int stride = 0;
  const std::uint8_t* rgb =
      heif_image_get_plane_readonly(decoded.get(), heif_channel_interleaved, &stride);
  const int decodedWidth = heif_image_get_width(decoded.get(), heif_channel_interleaved);
  const int decodedHeight = heif_image_get_height(decoded.get(), heif_channel_interleaved);
  if (rgb == nullptr || decodedWidth <= 0 || decodedHeight <= 0 ||
      static_cast<std::uint64_t>(decodedWidth) * static_cast<std::uint64_t>(decodedHeight) >
          static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4) {
    throw ImageError(name + ": expected HEIF picture data, found none");
  }

  TWholePicture whole;
  whole.Picture =
      TBitmap(decodedWidth, decodedHeight, alpha ? TPixelFormat::pfBGRA32 : TPixelFormat::pf24bit);
  for (int y = 0; y < decodedHeight; ++y) {
    SwapRedBlue(rgb + static_cast<std::ptrdiff_t>(y) * stride, whole.Picture.Row(y).data(),
                decodedWidth, alpha);
  }
  whole.Metadata = MetadataOf(primary);
  return whole;
}

namespace {

heif_error Append(heif_context*, const void* data, std::size_t size, void* out) {
  const auto* bytes = static_cast<const std::byte*>(data);
  static_cast<std::vector<std::byte>*>(out)->insert(
      static_cast<std::vector<std::byte>*>(out)->end(), bytes, bytes + size);
  return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// The stamped picture in libheif's form, with the colours the source had.
TImage ImageOf(const TBitmap& picture, const TWriteSpec& request) {
  const bool alpha = picture.PixelFormat() == TPixelFormat::pfBGRA32;
  heif_image* created = nullptr;
  Check(heif_image_create(picture.Width(), picture.Height(), heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                          &created),
        request.Name, "making the HEIF copy");
  TImage image(created);
  Check(heif_image_add_plane(image.get(), heif_channel_interleaved, picture.Width(),
                             picture.Height(), 8),
        request.Name, "making the HEIF copy");
  int stride = 0;
  std::uint8_t* rgb = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
  for (int y = 0; y < picture.Height(); ++y) {
    SwapRedBlue(picture.Row(y).data(), rgb + static_cast<std::ptrdiff_t>(y) * stride,
                picture.Width(), alpha);
  }
  if (request.Metadata == nullptr) return image;
  const std::vector<std::byte>& profile = request.Metadata->IccProfile;
  if (!profile.empty()) {
    Check(heif_image_set_raw_color_profile(image.get(), "prof", profile.data(), profile.size()),
          request.Name, "carrying the colour profile");
  }
  const std::vector<int>& codes = request.Metadata->ColourCodes;
  if (codes.size() == 4) {
    const TNclx nclx(heif_nclx_color_profile_alloc());
    if (!nclx) throw std::bad_alloc();
    nclx->color_primaries = static_cast<heif_color_primaries>(codes[0]);
    nclx->transfer_characteristics = static_cast<heif_transfer_characteristics>(codes[1]);
    nclx->matrix_coefficients = static_cast<heif_matrix_coefficients>(codes[2]);
    nclx->full_range_flag = static_cast<std::uint8_t>(codes[3] != 0);
    Check(heif_image_set_nclx_color_profile(image.get(), nclx.get()), request.Name,
          "carrying the colour codes");
  }
  return image;
}

std::vector<std::byte> Encode(const TBitmap& picture, const TWriteSpec& request,
                              heif_compression_format compression, std::string_view type) {
  const TContext context = NewContext();
  heif_encoder* found = nullptr;
  if (heif_context_get_encoder_for_format(context.get(), compression, &found).code !=
      heif_error_Ok) {
    throw ImageError(request.Name + ": no " + std::string(type) +
                     " encoder is available to write the copy");
  }
  const TEncoder encoder(found);
  const int quality = request.Quality == kDefaultQuality ? kHeifDefaultQuality : request.Quality;
  Check(heif_encoder_set_lossy_quality(encoder.get(), quality), request.Name,
        "setting the quality");
  const TImage image = ImageOf(picture, request);
  heif_image_handle* written = nullptr;
  Check(heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, &written),
        request.Name, "encoding the " + std::string(type) + " copy");
  const THandle handle(written);
  if (request.Metadata != nullptr && request.KeepMetadata) {
    const TPngMetadata blocks = PngMetadataOf(*request.Metadata, true);
    if (!blocks.Exif.empty()) {
      Check(heif_context_add_exif_metadata(context.get(), handle.get(), blocks.Exif.data(),
                                           static_cast<int>(blocks.Exif.size())),
            request.Name, "carrying EXIF");
    }
    if (!blocks.Xmp.empty()) {
      Check(heif_context_add_XMP_metadata(context.get(), handle.get(), blocks.Xmp.data(),
                                          static_cast<int>(blocks.Xmp.size())),
            request.Name, "carrying XMP");
    }
  }
  std::vector<std::byte> out;
  heif_writer writer{1, Append};
  Check(heif_context_write(context.get(), &writer, &out), request.Name, "writing the copy");
  return out;
}

}  // namespace

std::vector<std::byte> EncodeHeif(const TBitmap& picture, const TWriteSpec& request, bool avif) {
  return Encode(picture, request, avif ? heif_compression_AV1 : heif_compression_HEVC,
                avif ? "AVIF" : "HEIC");
}

namespace {

class THeif final : public TPictureFormat {
 public:
  THeif(std::string_view name, std::span<const std::string_view> extensions,
        heif_compression_format compression)
      : name_(name), extensions_(extensions), compression_(compression) {}
  std::string_view Name() const override { return name_; }
  std::span<const std::string_view> Extensions() const override { return extensions_; }
  bool Streams() const override { return false; }
  bool Previews() const override { return false; }
  bool Writes(TPixelFormat pixelFormat) const override {
    return pixelFormat == TPixelFormat::pf24bit || pixelFormat == TPixelFormat::pfBGRA32;
  }
  TWholePicture ReadWhole(const TReadSpec& request) const override {
    const std::vector<std::byte> file = ReadWholeFile(request.Path, kMaxHeifFileBytes);
    return DecodeHeif(file, request.Path);
  }
  std::vector<std::byte> EncodeWhole(const TBitmap& picture,
                                     const TWriteSpec& request) const override {
    return Encode(picture, request, compression_, name_);
  }

 private:
  std::string_view name_;
  std::span<const std::string_view> extensions_;
  heif_compression_format compression_;
};

constexpr std::array<std::string_view, 3> kHeicExtensions{".HEIC", ".HEIF", ".HIF"};
constexpr std::array<std::string_view, 1> kAvifExtensions{".AVIF"};

}  // namespace

const TPictureFormat& HeicFormat() {
  static const THeif format("HEIC", kHeicExtensions, heif_compression_HEVC);
  return format;
}

const TPictureFormat& AvifFormat() {
  static const THeif format("AVIF", kAvifExtensions, heif_compression_AV1);
  return format;
}

}  // namespace sigilon
