#pragma once
/// What a PNG file says besides its pixels, between its chunks and the
/// format seam's form: eXIf holds a bare TIFF structure, iTXt
/// "XML:com.adobe.xmp" a bare XMP packet, and a "Raw profile type 8bim" (or
/// "iptc") text the Photoshop resources, hex-coded, as image tools write
/// them; the seam keeps each as a JPEG segment holds it, signature included,
/// and the JPEG metadata rules turn them upright and clear their thumbnails.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// The text keywords PNG metadata is found under.
inline constexpr std::string_view kPngXmpKeyword = "XML:com.adobe.xmp";
inline constexpr std::string_view kPngPhotoshopKeyword = "Raw profile type 8bim";
inline constexpr std::string_view kPngIptcKeyword = "Raw profile type iptc";
/// Every raw profile's keyword starts so ("Raw profile type exif", ...).
inline constexpr std::string_view kPngRawProfilePrefix = "Raw profile type ";

/// Metadata as PNG chunks hold it; empty where there is none.
struct TPngMetadata {
  std::vector<std::byte> IccProfile{};
  std::vector<std::byte> Exif{};
  std::vector<std::byte> Xmp{};
  /// Photoshop resource blocks ("8BIM" ...), without the APP13 signature.
  std::vector<std::byte> Photoshop{};
  TPictureMetadata::TPngColour Colour{};
  std::vector<TPictureMetadata::TText> Texts{};
};

/// The seam's metadata of a file with `png`: the orientation its eXIf gives,
/// its profile, and its picture information ready for a copy (orientation 1,
/// no thumbnails). What does not read, or is too big for one JPEG segment,
/// counts as absent.
TPictureMetadata PictureMetadataOf(const TPngMetadata& png);

/// The chunks a copy of a file with `metadata` carries: the profile and the
/// colour chunks always, the picture information and texts with
/// `keepPictureInformation`.
TPngMetadata PngMetadataOf(const TPictureMetadata& metadata, bool keepPictureInformation);

/// The bytes of a raw profile text ("\n8bim\n   1234\n" then hex digits);
/// empty when it does not read as one.
std::vector<std::byte> DecodeRawProfile(std::string_view text);
/// `data` as a raw profile text named `name`.
std::string EncodeRawProfile(std::string_view name, std::span<const std::byte> data);

/// IPTC records as image tools write them alone: wrapped in the one
/// Photoshop resource that holds IPTC, so every copy carries the same form.
std::vector<std::byte> PhotoshopResourcesOf(std::span<const std::byte> iptcOrResources);

}  // namespace sigilon
