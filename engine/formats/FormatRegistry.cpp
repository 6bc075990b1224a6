#include "engine/formats/FormatRegistry.h"

#include <algorithm>
#include <array>

#include "engine/formats/BmpFormat.h"
#include "engine/formats/JpegFormat.h"
#include "engine/formats/PngFormat.h"
#include "platform/PathText.h"

namespace sigilon {

namespace {

struct TFormatEntry {
  const TPictureFormat& (*Get)();
  /// Branded only when every type is asked for.
  bool Extra = false;
};

constexpr std::array<TFormatEntry, 3> kFormats{{
    {JpegFormat},
    {BmpFormat},
    {PngFormat, true},
}};

}  // namespace

std::string FileExtension(const std::string& path) {
  const std::size_t separator = path.find_last_of("/:");
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return {};
  return path.substr(dot);
}

const TPictureFormat* FormatForPath(std::string_view path, bool allTypes) {
  const std::string extension = AsciiUpper(FileExtension(std::string(path)));
  if (extension.empty()) return nullptr;
  for (const TFormatEntry& entry : kFormats) {
    if (entry.Extra && !allTypes) continue;
    const TPictureFormat& format = entry.Get();
    if (std::ranges::find(format.Extensions(), extension) != format.Extensions().end()) {
      return &format;
    }
  }
  return nullptr;
}

}  // namespace sigilon
