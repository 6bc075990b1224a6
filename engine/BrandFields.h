#pragma once
/// Fields of the brand text filled in per file: {name}, {stem}, {folder},
/// {date}, {year}, {artist}, {copyright}, {n}; {{ and }} stand for braces.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// What the fields of one file stand for; an empty optional is a field the
/// file lacks.
struct TFieldValues {
  std::string Name;                 ///< the file's name
  std::string Stem;                 ///< the name without its last extension
  std::string Folder;               ///< the name of the folder it is in
  std::optional<std::string> Date;  ///< YYYY-MM-DD
  std::optional<std::string> Artist;
  std::optional<std::string> Copyright;
  std::optional<std::int64_t> Number;  ///< running number in the run
};

/// The values for the file at `sourcePath`: the date the picture was taken
/// (EXIF), else the day the file was last changed; artist and copyright from
/// EXIF, else XMP; `number` 0 when the file is not part of a run.
TFieldValues FileFieldValues(const std::string& sourcePath, const TPictureMetadata& metadata,
                             std::int64_t number);

/// The text with its fields filled in. An unknown field, or one the file
/// lacks, becomes the empty text and adds a warning; so does a "{" that is
/// never closed (the rest stays as it is).
std::string ExpandFields(const std::string& text, const TFieldValues& values,
                         std::vector<std::string>& warnings);

}  // namespace sigilon
