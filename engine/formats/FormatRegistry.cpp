#include "engine/formats/FormatRegistry.h"

#include <algorithm>
#include <array>

#include "platform/PathText.h"
#include "engine/formats/BmpFormat.h"
#include "engine/formats/JpegFormat.h"

namespace sigilon {

namespace {

using TFormatGetter = const TPictureFormat& (*)();

constexpr std::array<TFormatGetter, 2> kFormats{
    JpegFormat,
    BmpFormat,
};

}  // namespace

std::string FileExtension(const std::string& path) {
  const std::size_t separator = path.find_last_of("/:");
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return {};
  return path.substr(dot);
}

const TPictureFormat* FormatForPath(const std::string& path) {
  const std::string extension = AsciiUpper(FileExtension(path));
  if (extension.empty()) return nullptr;
  for (const TFormatGetter get : kFormats) {
    const TPictureFormat& format = get();
    if (std::ranges::find(format.Extensions(), extension) != format.Extensions().end()) {
      return &format;
    }
  }
  return nullptr;
}

}  // namespace sigilon
