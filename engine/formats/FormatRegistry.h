#pragma once
/// The one list of picture formats, and the choice among them by a file's
/// name: a new type is its own module plus one line here.

#include <string>
#include <string_view>

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// The extension of `path`: from the last "." that stands after the last
/// "/" and the last ":" to the end, dot included; empty without one.
std::string FileExtension(const std::string& path);

/// The format whose extensions hold `path`'s in any letter case; nullptr
/// when none does. The content is never looked at. The extra types (PNG and
/// the others beyond JPEG and bitmaps) count only with `allTypes`.
const TPictureFormat* FormatForPath(std::string_view path, bool allTypes = false);

}  // namespace sigilon
