#pragma once
/// The signatures that open each block of picture information as a JPEG
/// application segment holds it, which is also how TPictureMetadata carries
/// it for every format. A format that stores these blocks otherwise (PNG's
/// eXIf chunk holds bare TIFF data, its iTXt chunk "XML:com.adobe.xmp" the
/// bare packet) adds or strips the signature at its own edge with these.

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>

namespace sigilon {

/// Followed by a TIFF structure, an XMP packet, Photoshop resources (IPTC).
inline constexpr std::string_view kExifSignature{"Exif\0\0", 6};
inline constexpr std::string_view kXmpSignature{"http://ns.adobe.com/xap/1.0/\0", 29};
inline constexpr std::string_view kPhotoshopSignature{"Photoshop 3.0\0", 14};

/// Whether `bytes` begin with `signature`.
inline bool StartsWithSignature(std::span<const std::byte> bytes, std::string_view signature) {
  return bytes.size() >= signature.size() &&
         std::equal(signature.begin(), signature.end(), bytes.begin(),
                    [](char a, std::byte b) { return static_cast<std::byte>(a) == b; });
}

}  // namespace sigilon
