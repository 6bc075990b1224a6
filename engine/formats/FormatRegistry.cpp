#include "engine/formats/FormatRegistry.h"

#include <algorithm>
#include <array>
#include <span>

#include "engine/formats/BmpFormat.h"
#include "engine/formats/HeifFormat.h"
#include "engine/formats/JpegFormat.h"
#include "engine/formats/PngFormat.h"
#include "engine/formats/TiffFormat.h"
#include "engine/formats/WebpFormat.h"
#include "platform/PathText.h"

namespace sigilon {

namespace {

using TFormatGetter = const TPictureFormat& (*)();

struct TFormatEntry {
  TFormatGetter Format;
  /// A type taken only when all types are asked for.
  bool Extra = false;
  /// Further spellings of the format's extensions (upper case, with the
  /// dot), taken only when all types are asked for.
  std::span<const std::string_view> ExtraExtensions{};
};

constexpr std::array<std::string_view, 3> kJpegSpellings{".JPEG", ".JPE", ".JFIF"};
constexpr std::array<std::string_view, 1> kBmpSpellings{".DIB"};

constexpr std::array<TFormatEntry, 7> kFormats{{
    {.Format = JpegFormat, .Extra = false, .ExtraExtensions = kJpegSpellings},
    {.Format = BmpFormat, .Extra = false, .ExtraExtensions = kBmpSpellings},
    {.Format = PngFormat, .Extra = true},
    {.Format = TiffFormat, .Extra = true},
    {.Format = WebpFormat, .Extra = true},
    {.Format = HeicFormat, .Extra = true},
    {.Format = AvifFormat, .Extra = true},
}};

constexpr std::array<TConversionType, 6> kConversionTypes{{
    {"jpeg", ".jpg", "JPEG"},
    {"png", ".png", "PNG"},
    {"tiff", ".tif", "TIFF"},
    {"webp", ".webp", "WebP"},
    {"heic", ".heic", "HEIC"},
    {"avif", ".avif", "AVIF"},
}};

bool Holds(std::span<const std::string_view> extensions, std::string_view extension) {
  return std::ranges::find(extensions, extension) != extensions.end();
}

}  // namespace

std::string FileExtension(std::string_view path) {
  const std::size_t separator = path.find_last_of("/:");
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (separator != std::string_view::npos && dot < separator)) {
    return {};
  }
  return std::string(path.substr(dot));
}

const TPictureFormat* FormatForPath(std::string_view path, bool allTypes) {
  const std::string extension = AsciiUpper(FileExtension(path));
  if (extension.empty()) return nullptr;
  for (const TFormatEntry& entry : kFormats) {
    if (entry.Extra && !allTypes) continue;
    const TPictureFormat& format = entry.Format();
    if (Holds(format.Extensions(), extension) ||
        (allTypes && Holds(entry.ExtraExtensions, extension))) {
      return &format;
    }
  }
  return nullptr;
}

std::optional<TConversionType> ConversionTypeNamed(std::string_view name) {
  const std::string upper = AsciiUpper(std::string(name));
  for (const TConversionType& type : kConversionTypes) {
    if (AsciiUpper(std::string(type.Name)) == upper) return type;
  }
  return std::nullopt;
}

const TPictureFormat* ConversionFormat(const TConversionType& type) {
  // The format that takes the type's own extension writes it, once its
  // module is registered.
  return FormatForPath(type.Extension, true);
}

std::string ConversionTypeNames() {
  std::string names;
  for (const TConversionType& type : kConversionTypes) {
    if (!names.empty()) names += '|';
    names += type.Name;
  }
  return names;
}

std::string ConvertedName(std::string_view name, const TConversionType& type) {
  const std::size_t extension = FileExtension(name).size();
  return std::string(name.substr(0, name.size() - extension)) + std::string(type.Extension);
}

}  // namespace sigilon
