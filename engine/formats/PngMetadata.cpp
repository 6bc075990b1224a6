#include "engine/formats/PngMetadata.h"

#include <algorithm>
#include <cstdint>

#include "engine/JpegMetadata.h"

namespace sigilon {

namespace {

constexpr std::string_view kExifSignature{"Exif\0\0", 6};
constexpr std::string_view kXmpSignature{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kPhotoshopSignature{"Photoshop 3.0\0", 14};
constexpr std::string_view kResourceSignature{"8BIM", 4};
constexpr std::uint16_t kIptcResource = 0x0404;

std::vector<std::byte> Bytes(std::string_view text) {
  std::vector<std::byte> out(text.size());
  std::ranges::transform(text, out.begin(), [](char c) { return static_cast<std::byte>(c); });
  return out;
}

bool StartsWith(std::span<const std::byte> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                    [](char a, std::byte b) { return static_cast<std::byte>(a) == b; });
}

void Append(std::vector<std::byte>& out, std::span<const std::byte> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void AppendSegment(std::vector<std::byte>& jpeg, std::uint8_t marker, std::string_view signature,
                   std::span<const std::byte> body) {
  const std::size_t size = signature.size() + body.size();
  if (body.empty() || size > kMaxSegmentPayload) return;
  const std::size_t length = size + 2;
  Append(jpeg, std::vector<std::byte>{std::byte{0xFF}, std::byte{marker},
                                      static_cast<std::byte>(length >> 8),
                                      static_cast<std::byte>(length & 0xFF)});
  Append(jpeg, Bytes(signature));
  Append(jpeg, body);
}

}  // namespace

TPictureMetadata PictureMetadataOf(const TPngMetadata& png) {
  // The JPEG rules read segments: the chunks are put into the marker
  // segments a JPEG file would hold them in.
  std::vector<std::byte> jpeg{std::byte{0xFF}, std::byte{0xD8}};
  AppendSegment(jpeg, kJpegApp1, kExifSignature, png.Exif);
  AppendSegment(jpeg, kJpegApp1, kXmpSignature, png.Xmp);
  AppendSegment(jpeg, kJpegApp13, kPhotoshopSignature, png.Photoshop);
  jpeg.push_back(std::byte{0xFF});
  jpeg.push_back(std::byte{0xD9});
  const TJpegMetadata read = ReadJpegMetadata(jpeg);

  TPictureMetadata metadata;
  metadata.Orientation = read.Orientation;
  metadata.IccProfile = png.IccProfile;
  metadata.PngColour = png.Colour;
  metadata.Texts = png.Texts;
  for (const TJpegSegment& segment : read.PictureInformation) {
    using TKind = TPictureMetadata::TKind;
    const TKind kind = segment.Marker == kJpegApp13                  ? TKind::Iptc
                       : StartsWith(segment.Payload, kExifSignature) ? TKind::Exif
                                                                     : TKind::Xmp;
    metadata.Information.push_back({kind, segment.Payload});
  }
  return metadata;
}

TPngMetadata PngMetadataOf(const TPictureMetadata& metadata, bool keepPictureInformation) {
  TPngMetadata png;
  png.IccProfile = metadata.IccProfile;
  png.Colour = metadata.PngColour;
  if (!keepPictureInformation) return png;
  png.Texts = metadata.Texts;
  for (const TPictureMetadata::TItem& item : metadata.Information) {
    const std::span<const std::byte> payload = item.Payload;
    switch (item.Kind) {
      case TPictureMetadata::TKind::Exif:
        if (png.Exif.empty() && StartsWith(payload, kExifSignature)) {
          Append(png.Exif, payload.subspan(kExifSignature.size()));
        }
        break;
      case TPictureMetadata::TKind::Xmp:
        if (png.Xmp.empty() && StartsWith(payload, kXmpSignature)) {
          Append(png.Xmp, payload.subspan(kXmpSignature.size()));
        }
        break;
      case TPictureMetadata::TKind::Iptc:
        if (StartsWith(payload, kPhotoshopSignature)) {
          Append(png.Photoshop, payload.subspan(kPhotoshopSignature.size()));
        }
        break;
    }
  }
  return png;
}

std::vector<std::byte> DecodeRawProfile(std::string_view text) {
  // "\n", the name, "\n", the length in decimal after spaces, "\n", hex.
  std::size_t at = text.find_first_not_of('\n');
  at = at == std::string_view::npos ? at : text.find('\n', at);
  if (at == std::string_view::npos) return {};
  at = text.find_first_not_of(" \n", at);
  std::size_t length = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    length = length * 10 + static_cast<std::size_t>(text[at] - '0');
    if (length > text.size()) return {};
  }
  std::vector<std::byte> data;
  data.reserve(length);
  int high = -1;
  for (; at < text.size() && data.size() < length; ++at) {
    const char c = text[at];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) {
      if (c == '\n' || c == ' ' || c == '\r') continue;
      return {};
    }
    if (high < 0) {
      high = digit;
    } else {
      data.push_back(static_cast<std::byte>(high * 16 + digit));
      high = -1;
    }
  }
  if (data.size() != length) return {};
  return data;
}

std::string EncodeRawProfile(std::string_view name, std::span<const std::byte> data) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string length = std::to_string(data.size());
  std::string text(1, '\n');
  text.append(name).append(1, '\n');
  text.append(length.size() < 8 ? 8 - length.size() : 0, ' ').append(length);
  // Lines of 36 bytes, as image tools write them.
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i % 36 == 0) text += '\n';
    const auto b = static_cast<unsigned>(data[i]);
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  text += '\n';
  return text;
}

std::vector<std::byte> PhotoshopResourcesOf(std::span<const std::byte> iptcOrResources) {
  std::vector<std::byte> out;
  if (iptcOrResources.empty() || StartsWith(iptcOrResources, kResourceSignature)) {
    Append(out, iptcOrResources);
    return out;
  }
  const std::size_t size = iptcOrResources.size();
  out = Bytes(kResourceSignature);
  Append(out, std::vector<std::byte>{
                  static_cast<std::byte>(kIptcResource >> 8),
                  static_cast<std::byte>(kIptcResource & 0xFF), std::byte{0}, std::byte{0},
                  static_cast<std::byte>(size >> 24), static_cast<std::byte>(size >> 16),
                  static_cast<std::byte>(size >> 8), static_cast<std::byte>(size)});
  Append(out, iptcOrResources);
  if (size % 2 != 0) out.push_back(std::byte{0});
  return out;
}

}  // namespace sigilon
