#include "engine/PictureTags.h"

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/ExifRewrite.h"
#include "engine/MetadataSignatures.h"
#include "engine/XmpRewrite.h"

namespace sigilon {

namespace {

constexpr std::uint16_t kArtistTag = 0x013B;
constexpr std::uint16_t kCopyrightTag = 0x8298;
constexpr std::uint16_t kDateTimeOriginalTag = 0x9003;
constexpr std::string_view kDublinCore = "http://purl.org/dc/elements/1.1/";
constexpr TXmpProperty kCreator{kDublinCore, "dc", "creator"};
constexpr TXmpProperty kRights{kDublinCore, "dc", "rights"};

// Text up to its first NUL, without the blanks around it; none when blank.
std::optional<std::string> Cleaned(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  text = text->substr(0, text->find('\0'));
  const auto first = text->find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::nullopt;
  const auto last = text->find_last_not_of(" \t\r\n");
  return std::string(text->substr(first, last - first + 1));
}

// What follows the signature in the first item of `kind` that has it.
std::optional<std::span<const std::byte>> Block(const TPictureMetadata& metadata,
                                                TPictureMetadata::TKind kind,
                                                std::string_view signature) {
  for (const auto& item : metadata.Information) {
    if (item.Kind == kind && StartsWithSignature(item.Payload, signature)) {
      return std::span(item.Payload).subspan(signature.size());
    }
  }
  return std::nullopt;
}

}  // namespace

TPictureTags ReadPictureTags(const TPictureMetadata& metadata) {
  TPictureTags tags;
  if (const auto tiff = Block(metadata, TPictureMetadata::TKind::Exif, kExifSignature)) {
    tags.Artist = Cleaned(ReadExifText(*tiff, kArtistTag));
    tags.Copyright = Cleaned(ReadExifText(*tiff, kCopyrightTag));
    tags.DateTimeOriginal = Cleaned(ReadExifText(*tiff, kDateTimeOriginalTag, true));
  }
  if (const auto xmp = Block(metadata, TPictureMetadata::TKind::Xmp, kXmpSignature)) {
    const std::string_view packet(reinterpret_cast<const char*>(xmp->data()), xmp->size());
    if (!tags.Artist) tags.Artist = Cleaned(ReadXmpText(packet, kCreator));
    if (!tags.Copyright) tags.Copyright = Cleaned(ReadXmpText(packet, kRights));
  }
  return tags;
}

}  // namespace sigilon
