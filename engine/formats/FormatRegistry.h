#pragma once
/// The one list of picture formats, and the choice among them by a file's
/// name: a new type is its own module plus one line here.

#include <string>

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// The extension of `path`: from the last "." that stands after the last
/// "/" and the last ":" to the end, dot included; empty without one.
std::string FileExtension(const std::string& path);

/// The format whose extensions hold `path`'s in any letter case; nullptr
/// when none does. The content is never looked at.
const TPictureFormat* FormatForPath(const std::string& path);

}  // namespace sigilon
