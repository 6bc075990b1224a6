#include "engine/PictureTags.h"

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/ByteReader.h"

namespace sigilon {

namespace {

constexpr std::uint16_t kArtistTag = 0x013B;
constexpr std::uint16_t kCopyrightTag = 0x8298;
constexpr std::uint16_t kExifIfdTag = 0x8769;
constexpr std::uint16_t kDateTimeOriginalTag = 0x9003;
constexpr std::uint16_t kAsciiType = 2;
constexpr std::uint16_t kLongType = 4;
constexpr std::string_view kExifSignature{"Exif\0\0", 6};
constexpr std::string_view kXmpSignature{"http://ns.adobe.com/xap/1.0/\0", 29};

// Text up to its first NUL, without the blanks around it; none when blank.
std::optional<std::string> Cleaned(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::nullopt;
  const auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

// One TIFF structure in either byte order.
class TTiffReader {
 public:
  explicit TTiffReader(std::span<const std::byte> tiff) : reader_(tiff, "EXIF") {
    const std::uint16_t order = reader_.U16("byte order");
    if (order != 0x4949 && order != 0x4D4D) reader_.Fail("no TIFF byte order");
    bigEndian_ = order == 0x4D4D;
  }

  std::uint32_t FirstIfd() {
    reader_.Seek(4, "IFD offset");
    return U32();
  }

  // The entry of `tag` in the directory at `offset`: its type, count and
  // the offset of its value (inline values sit in the entry itself).
  struct TEntry {
    std::uint16_t Type;
    std::uint32_t Count;
    std::uint32_t ValueOffset;
  };
  std::optional<TEntry> Find(std::uint32_t offset, std::uint16_t tag) {
    reader_.Seek(offset, "IFD");
    const std::uint16_t entries = U16();
    for (std::uint16_t i = 0; i < entries; ++i) {
      const std::uint16_t entryTag = U16();
      const std::uint16_t type = U16();
      const std::uint32_t count = U32();
      const auto inlineAt = static_cast<std::uint32_t>(reader_.Position());
      const std::uint32_t value = U32();
      if (entryTag != tag) continue;
      const bool fits = type == kAsciiType ? count <= 4 : count <= 1;
      return TEntry{type, count, fits ? inlineAt : value};
    }
    return std::nullopt;
  }

  std::optional<std::string> Text(std::uint32_t ifd, std::uint16_t tag) {
    const auto entry = Find(ifd, tag);
    if (!entry || entry->Type != kAsciiType) return std::nullopt;
    reader_.Seek(entry->ValueOffset, "text");
    const auto bytes = reader_.Bytes(entry->Count, "text");
    return Cleaned({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  }

  std::optional<std::uint32_t> Long(std::uint32_t ifd, std::uint16_t tag) {
    const auto entry = Find(ifd, tag);
    if (!entry || entry->Type != kLongType) return std::nullopt;
    reader_.Seek(entry->ValueOffset, "value");
    return U32();
  }

 private:
  std::uint16_t U16() { return bigEndian_ ? reader_.U16BE("EXIF") : reader_.U16("EXIF"); }
  std::uint32_t U32() { return bigEndian_ ? reader_.U32BE("EXIF") : reader_.U32("EXIF"); }
  ByteReader reader_;
  bool bigEndian_ = false;
};

void ReadExif(std::span<const std::byte> payload, TPictureTags& tags) {
  try {
    TTiffReader tiff(payload.subspan(kExifSignature.size()));
    const std::uint32_t ifd0 = tiff.FirstIfd();
    tags.Artist = tiff.Text(ifd0, kArtistTag);
    tags.Copyright = tiff.Text(ifd0, kCopyrightTag);
    if (const auto exif = tiff.Long(ifd0, kExifIfdTag)) {
      tags.DateTimeOriginal = tiff.Text(*exif, kDateTimeOriginalTag);
    }
  } catch (const ImageError&) {
    // What was found before the damage stands.
  }
}

// The first list item of an XMP property, when it is plain text.
std::optional<std::string> XmpItem(std::string_view packet, std::string_view property) {
  const auto start = packet.find(std::string("<").append(property));
  if (start == std::string_view::npos) return std::nullopt;
  const auto end = packet.find(std::string("</").append(property), start);
  const auto item = packet.find("<rdf:li", start);
  if (item == std::string_view::npos || item > end) return std::nullopt;
  const auto open = packet.find('>', item);
  const auto close = packet.find("</rdf:li>", item);
  if (open == std::string_view::npos || close == std::string_view::npos || open > close) {
    return std::nullopt;
  }
  const std::string_view raw = packet.substr(open + 1, close - open - 1);
  if (raw.find('<') != std::string_view::npos) return std::nullopt;
  std::string text;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    bool replaced = false;
    for (const auto& [entity, character] : kEntities) {
      if (raw.substr(i).starts_with(entity)) {
        text += character;
        i += entity.size() - 1;
        replaced = true;
        break;
      }
    }
    if (!replaced) text += raw[i];
  }
  return Cleaned(text);
}

bool Starts(std::span<const std::byte> payload, std::string_view signature) {
  return payload.size() >= signature.size() &&
         std::string_view(reinterpret_cast<const char*>(payload.data()), signature.size()) ==
             signature;
}

}  // namespace

TPictureTags ReadPictureTags(const TPictureMetadata& metadata) {
  TPictureTags tags;
  for (const auto& item : metadata.Information) {
    if (item.Kind == TPictureMetadata::TKind::Exif && Starts(item.Payload, kExifSignature)) {
      ReadExif(item.Payload, tags);
      break;
    }
  }
  for (const auto& item : metadata.Information) {
    if (item.Kind != TPictureMetadata::TKind::Xmp || !Starts(item.Payload, kXmpSignature)) continue;
    const std::string_view packet(reinterpret_cast<const char*>(item.Payload.data()),
                                  item.Payload.size());
    if (!tags.Artist) tags.Artist = XmpItem(packet, "dc:creator");
    if (!tags.Copyright) tags.Copyright = XmpItem(packet, "dc:rights");
    break;
  }
  return tags;
}

}  // namespace sigilon
