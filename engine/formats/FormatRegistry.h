#pragma once
/// The one list of picture formats, and the choice among them by a file's
/// name: a new type is its own module plus one line here.

#include <optional>
#include <string>
#include <string_view>

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// The extension of `path`: from the last "." that stands after the last
/// "/" and the last ":" to the end, dot included; empty without one.
std::string FileExtension(std::string_view path);

/// The format whose extensions hold `path`'s in any letter case; nullptr
/// when none does. The content is never looked at. Without `allTypes` only
/// the classic types and spellings are taken (".JPG", ".BMP"); with it also
/// every other registered type and the other spellings of the classic ones
/// (".JPEG", ".JPE", ".JFIF", ".DIB").
const TPictureFormat* FormatForPath(std::string_view path, bool allTypes = false);

/// A type every copy of a run can be converted to.
struct TConversionType {
  /// As the user names it ("jpeg").
  std::string_view Name;
  /// The copy's extension, conventional and lower case (".jpg").
  std::string_view Extension;
  /// As messages name it ("JPEG").
  std::string_view Title;
};

/// The type called `name` (jpeg, png, tiff, webp, heic, avif; any letter
/// case); nothing for another name.
std::optional<TConversionType> ConversionTypeNamed(std::string_view name);

/// The registered format that writes `type`; nullptr when this build has
/// none.
const TPictureFormat* ConversionFormat(const TConversionType& type);

/// The names of all conversion types, "|" between them ("jpeg|png|...").
std::string ConversionTypeNames();

/// `name` with its extension replaced by `type`'s ("IMG_0001.HEIC" becomes
/// "IMG_0001.jpg"); a name without an extension gets it appended.
std::string ConvertedName(std::string_view name, const TConversionType& type);

}  // namespace sigilon
