#include "engine/formats/WebpFormat.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "engine/Errors.h"
#include "engine/MetadataSignatures.h"
#include "engine/formats/PngMetadata.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

// Big enough for the largest picture a WebP file can hold, losslessly.
constexpr std::uint64_t kMaxWebpFileBytes = kMaxPixels * 4 + (std::uint64_t{1} << 20);

struct TDemuxDelete {
  void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
struct TMuxDelete {
  void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};
using TDemux = std::unique_ptr<WebPDemuxer, TDemuxDelete>;
using TMux = std::unique_ptr<WebPMux, TMuxDelete>;

// A WebPPicture and the memory its encoding goes to, freed together.
struct TEncoding {
  WebPPicture Picture{};
  WebPMemoryWriter Output{};
  TEncoding() {
    WebPPictureInit(&Picture);
    WebPMemoryWriterInit(&Output);
  }
  ~TEncoding() {
    WebPPictureFree(&Picture);
    WebPMemoryWriterClear(&Output);
  }
  TEncoding(const TEncoding&) = delete;
  TEncoding& operator=(const TEncoding&) = delete;
};

std::string StatusText(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
      return "not enough memory";
    case VP8_STATUS_INVALID_PARAM:
      return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR:
      return "damaged data";
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      return "an unsupported feature";
    case VP8_STATUS_NOT_ENOUGH_DATA:
      return "the file ends early";
    default:
      return "error " + std::to_string(static_cast<int>(status));
  }
}

std::vector<std::byte> ChunkOf(const WebPDemuxer* demux, const char* fourcc) {
  WebPChunkIterator chunk;
  if (!WebPDemuxGetChunk(demux, fourcc, 1, &chunk)) return {};
  const auto* bytes = reinterpret_cast<const std::byte*>(chunk.chunk.bytes);
  std::vector<std::byte> out(bytes, bytes + chunk.chunk.size);
  WebPDemuxReleaseChunkIterator(&chunk);
  return out;
}

// The metadata chunks, read as PNG's are: the same rules turn them into the
// seam's form.
TPictureMetadata MetadataOf(std::span<const std::byte> file) {
  const WebPData data{reinterpret_cast<const std::uint8_t*>(file.data()), file.size()};
  const TDemux demux(WebPDemux(&data));
  if (!demux) return {};
  TPngMetadata chunks;
  chunks.IccProfile = ChunkOf(demux.get(), "ICCP");
  chunks.Exif = ChunkOf(demux.get(), "EXIF");
  chunks.Xmp = ChunkOf(demux.get(), "XMP ");
  // Some writers keep the JPEG signature in the EXIF chunk.
  if (StartsWithSignature(chunks.Exif, kExifSignature)) {
    chunks.Exif.erase(chunks.Exif.begin(),
                      chunks.Exif.begin() + static_cast<std::ptrdiff_t>(kExifSignature.size()));
  }
  return PictureMetadataOf(chunks);
}

}  // namespace

TWholePicture DecodeWebp(std::span<const std::byte> file, const std::string& name) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(file.data());
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) throw ImageError(name + ": libwebp version mismatch");
  const VP8StatusCode status = WebPGetFeatures(data, file.size(), &config.input);
  if (status != VP8_STATUS_OK) {
    throw ImageError(name + ": expected a WebP picture, found " + StatusText(status));
  }
  const WebPBitstreamFeatures& features = config.input;
  if (features.has_animation) {
    throw ImageError(name + ": an animated WebP picture; animated pictures are not branded");
  }
  CheckPixelsPerByte(static_cast<std::uint64_t>(features.width),
                     static_cast<std::uint64_t>(features.height), file.size(),
                     kMaxWebpPixelsPerByte, name);

  TWholePicture whole;
  whole.Picture = TBitmap(features.width, features.height,
                          features.has_alpha ? TPixelFormat::pfBGRA32 : TPixelFormat::pf24bit);
  TBitmap& picture = whole.Picture;
  // Decoded straight into the bitmap's rows: one picture in memory.
  config.output.colorspace = features.has_alpha ? MODE_BGRA : MODE_BGR;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = picture.Pixels().data();
  config.output.u.RGBA.stride = static_cast<int>(picture.Stride());
  config.output.u.RGBA.size = picture.Pixels().size();
  const VP8StatusCode decoded = WebPDecode(data, file.size(), &config);
  WebPFreeDecBuffer(&config.output);
  if (decoded != VP8_STATUS_OK) {
    throw ImageError(name + ": expected WebP picture data, found " + StatusText(decoded));
  }
  whole.Metadata = MetadataOf(file);
  whole.Metadata.Lossless = features.format == 2;
  return whole;
}

namespace {

int Quality(int quality) { return quality == kDefaultQuality ? kWebpDefaultQuality : quality; }

std::vector<std::byte> EncodePixels(const TBitmap& picture, const TWriteSpec& request,
                                    bool lossless) {
  WebPConfig config;
  if (!WebPConfigInit(&config)) throw ImageError(request.Name + ": libwebp version mismatch");
  config.lossless = lossless ? 1 : 0;
  config.quality = lossless ? 75.0F : static_cast<float>(Quality(request.Quality));
  // Lossless means the same numbers, also under transparent pixels.
  config.exact = lossless ? 1 : 0;
  TEncoding encoding;
  WebPPicture& target = encoding.Picture;
  target.use_argb = lossless ? 1 : 0;
  target.width = picture.Width();
  target.height = picture.Height();
  const auto* pixels = picture.Pixels().data();
  const int stride = static_cast<int>(picture.Stride());
  const int imported = picture.PixelFormat() == TPixelFormat::pfBGRA32
                           ? WebPPictureImportBGRA(&target, pixels, stride)
                           : WebPPictureImportBGR(&target, pixels, stride);
  if (!imported) throw ImageError(request.Name + ": not enough memory to encode WebP");
  target.writer = WebPMemoryWrite;
  target.custom_ptr = &encoding.Output;
  if (!WebPEncode(&config, &target)) {
    throw ImageError(request.Name + ": WebP encoding failed (error " +
                     std::to_string(static_cast<int>(target.error_code)) + ")");
  }
  const auto* bytes = reinterpret_cast<const std::byte*>(encoding.Output.mem);
  return {bytes, bytes + encoding.Output.size};
}

void SetChunk(WebPMux* mux, const char* fourcc, std::span<const std::byte> payload,
              const std::string& name) {
  if (payload.empty()) return;
  const WebPData data{reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()};
  if (WebPMuxSetChunk(mux, fourcc, &data, 1) != WEBP_MUX_OK) {
    throw ImageError(name + ": cannot add the " + std::string(fourcc) + " chunk to the WebP copy");
  }
}

// The encoded picture with the chunks the copy carries.
std::vector<std::byte> WithMetadata(std::vector<std::byte> encoded, const TWriteSpec& request) {
  if (request.Metadata == nullptr) return encoded;
  const TPngMetadata chunks = PngMetadataOf(*request.Metadata, request.KeepMetadata);
  if (chunks.IccProfile.empty() && chunks.Exif.empty() && chunks.Xmp.empty()) return encoded;
  const WebPData bitstream{reinterpret_cast<const std::uint8_t*>(encoded.data()), encoded.size()};
  const TMux mux(WebPMuxCreate(&bitstream, 1));
  if (!mux) throw ImageError(request.Name + ": cannot add metadata to the WebP copy");
  SetChunk(mux.get(), "ICCP", chunks.IccProfile, request.Name);
  SetChunk(mux.get(), "EXIF", chunks.Exif, request.Name);
  SetChunk(mux.get(), "XMP ", chunks.Xmp, request.Name);
  WebPData assembled;
  WebPDataInit(&assembled);
  if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) {
    WebPDataClear(&assembled);
    throw ImageError(request.Name + ": cannot add metadata to the WebP copy");
  }
  const auto* bytes = reinterpret_cast<const std::byte*>(assembled.bytes);
  std::vector<std::byte> out(bytes, bytes + assembled.size);
  WebPDataClear(&assembled);
  return out;
}

}  // namespace

std::vector<std::byte> EncodeWebp(const TBitmap& picture, const TWriteSpec& request) {
  const bool lossless = request.Metadata != nullptr && request.Metadata->Lossless;
  return WithMetadata(EncodePixels(picture, request, lossless), request);
}

namespace {

class TWebp final : public TPictureFormat {
 public:
  std::string_view Name() const override { return "WebP"; }
  std::span<const std::string_view> Extensions() const override { return kExtensions; }
  bool Streams() const override { return false; }
  bool Previews() const override { return false; }
  bool Writes(TPixelFormat pixelFormat) const override {
    return pixelFormat == TPixelFormat::pf24bit || pixelFormat == TPixelFormat::pfBGRA32;
  }

  TWholePicture ReadWhole(const TReadSpec& request) const override {
    const std::vector<std::byte> file = ReadWholeFile(request.Path, kMaxWebpFileBytes);
    return DecodeWebp(file, request.Path);
  }
  std::vector<std::byte> EncodeWhole(const TBitmap& picture,
                                     const TWriteSpec& request) const override {
    return EncodeWebp(picture, request);
  }

 private:
  static constexpr std::array<std::string_view, 1> kExtensions{".WEBP"};
};

}  // namespace

const TPictureFormat& WebpFormat() {
  static const TWebp format;
  return format;
}

}  // namespace sigilon
