#include "engine/JpegMetadata.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "engine/ByteReader.h"
#include "engine/Errors.h"
#include "engine/ExifRewrite.h"
#include "engine/JpegMarkers.h"
#include "engine/MetadataSignatures.h"
#include "engine/XmpRewrite.h"

namespace sigilon {

namespace {

constexpr std::string_view kIccSignature{"ICC_PROFILE\0", 12};
constexpr std::string_view kResourceSignature{"8BIM", 4};

// ICC chunk header after the signature: sequence number (from 1), chunk count.
constexpr std::size_t kIccHeaderSize = kIccSignature.size() + 2;
constexpr std::size_t kIccChunkData = kMaxSegmentPayload - kIccHeaderSize;
constexpr std::size_t kMaxIccChunks = 255;

constexpr std::uint8_t kSOI = 0xD8;

// Photoshop resources holding a preview of the (unbranded) picture.
constexpr std::uint16_t kResourceThumbnailOld = 0x0409;
constexpr std::uint16_t kResourceThumbnail = 0x040C;

// ---- Photoshop resources (IPTC lives in one of them) ----

// The segment without its thumbnail resources. Throws ImageError when the
// resource blocks do not read.
std::vector<std::byte> ClearPhotoshopThumbnails(std::span<const std::byte> payload) {
  ByteReader reader(payload, "Photoshop resources");
  reader.Skip(kPhotoshopSignature.size(), "signature");
  std::vector<std::byte> out(payload.begin(), payload.begin() + kPhotoshopSignature.size());
  while (!reader.AtEnd()) {
    const std::size_t begin = reader.Position();
    if (!StartsWithSignature(reader.Bytes(4, "resource signature"), kResourceSignature)) {
      reader.Fail("expected a resource signature 8BIM");
    }
    const std::uint16_t id = reader.U16BE("resource id");
    const std::uint8_t nameLength = reader.U8("resource name length");
    // The name with its length byte is padded to an even size, the data too.
    reader.Skip(nameLength + (nameLength % 2 == 0 ? 1 : 0), "resource name");
    const std::uint32_t size = reader.U32BE("resource size");
    reader.Skip(std::uint64_t{size} + size % 2, "resource data");
    if (id == kResourceThumbnail || id == kResourceThumbnailOld) continue;
    const auto block = payload.subspan(begin, reader.Position() - begin);
    out.insert(out.end(), block.begin(), block.end());
  }
  return out;
}

// ---- ICC profile chunks ----

struct TIccChunk {
  std::uint8_t Sequence;
  std::uint8_t Count;
  std::span<const std::byte> Data;
};

// The chunks in sequence order make the profile only when each number from 1
// to the shared count appears exactly once.
std::vector<std::byte> AssembleIccProfile(std::vector<TIccChunk> chunks) {
  if (chunks.empty()) return {};
  const std::uint8_t count = chunks.front().Count;
  if (count == 0 || chunks.size() != count) return {};
  std::ranges::sort(chunks, {}, &TIccChunk::Sequence);
  std::vector<std::byte> profile;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (chunks[i].Count != count || chunks[i].Sequence != i + 1) return {};
    profile.insert(profile.end(), chunks[i].Data.begin(), chunks[i].Data.end());
  }
  return profile;
}

}  // namespace

TJpegMetadata ReadJpegMetadata(std::span<const std::byte> data) {
  TJpegMetadata metadata;
  std::vector<TIccChunk> iccChunks;
  bool haveExif = false, haveXmp = false;
  if (data.size() < 2 || data[0] != std::byte{0xFF} || data[1] != std::byte{kSOI}) return metadata;
  for (std::size_t at = 2;;) {
    const TJpegMarkerStep step = NextJpegMarker(data, at);
    if (step.Kind == TJpegMarkerStep::TKind::StandAlone) {
      at = step.Next;
      continue;
    }
    // A segment that runs past the data ends the walk: what was read before
    // it stands.
    if (step.Kind != TJpegMarkerStep::TKind::Segment || step.Next > data.size()) break;
    at = step.Next;
    const std::uint8_t marker = step.Marker;
    const auto payload = data.subspan(step.PayloadStart, step.Next - step.PayloadStart);

    if (marker == kJpegApp1 && StartsWithSignature(payload, kExifSignature) && !haveExif) {
      haveExif = true;
      TExifRewrite exif = RewriteExif(payload.subspan(kExifSignature.size()));
      metadata.Orientation = exif.Orientation;
      if (exif.Cleared) {
        exif.Cleared->insert(exif.Cleared->begin(), payload.begin(),
                             payload.begin() + kExifSignature.size());
        metadata.PictureInformation.push_back({marker, std::move(*exif.Cleared)});
      }
    } else if (marker == kJpegApp1 && StartsWithSignature(payload, kXmpSignature) && !haveXmp) {
      haveXmp = true;
      const auto packet = payload.subspan(kXmpSignature.size());
      const std::optional<std::string> cleared =
          ClearXmp({reinterpret_cast<const char*>(packet.data()), packet.size()});
      if (cleared) {
        std::vector<std::byte> kept(payload.begin(), payload.begin() + kXmpSignature.size());
        const auto bytes = std::as_bytes(std::span(*cleared));
        kept.insert(kept.end(), bytes.begin(), bytes.end());
        metadata.PictureInformation.push_back({marker, std::move(kept)});
      }
    } else if (marker == kJpegApp13 && StartsWithSignature(payload, kPhotoshopSignature)) {
      try {
        metadata.PictureInformation.push_back({marker, ClearPhotoshopThumbnails(payload)});
      } catch (const ImageError&) {
      }
    } else if (marker == kJpegApp2 && StartsWithSignature(payload, kIccSignature) &&
               payload.size() >= kIccHeaderSize) {
      iccChunks.push_back({static_cast<std::uint8_t>(payload[kIccSignature.size()]),
                           static_cast<std::uint8_t>(payload[kIccSignature.size() + 1]),
                           payload.subspan(kIccHeaderSize)});
    }
  }
  metadata.IccProfile = AssembleIccProfile(std::move(iccChunks));
  return metadata;
}

std::vector<TJpegSegment> IccProfileSegments(std::span<const std::byte> profile) {
  const std::size_t chunks = (profile.size() + kIccChunkData - 1) / kIccChunkData;
  if (chunks == 0 || chunks > kMaxIccChunks) return {};
  std::vector<TJpegSegment> segments;
  for (std::size_t i = 0; i < chunks; ++i) {
    const auto data = profile.subspan(i * kIccChunkData,
                                      std::min(kIccChunkData, profile.size() - i * kIccChunkData));
    TJpegSegment segment{kJpegApp2, {}};
    segment.Payload.reserve(kIccHeaderSize + data.size());
    for (char c : kIccSignature) segment.Payload.push_back(static_cast<std::byte>(c));
    segment.Payload.push_back(static_cast<std::byte>(i + 1));
    segment.Payload.push_back(static_cast<std::byte>(chunks));
    segment.Payload.insert(segment.Payload.end(), data.begin(), data.end());
    segments.push_back(std::move(segment));
  }
  return segments;
}

std::vector<TJpegSegment> BrandedCopySegments(const TJpegMetadata& metadata,
                                              bool keepPictureInformation) {
  std::vector<TJpegSegment> segments;
  if (keepPictureInformation) segments = metadata.PictureInformation;
  for (TJpegSegment& chunk : IccProfileSegments(metadata.IccProfile)) {
    segments.push_back(std::move(chunk));
  }
  return segments;
}

}  // namespace sigilon
