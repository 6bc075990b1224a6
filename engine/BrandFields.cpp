#include "engine/BrandFields.h"

#include <cctype>
#include <cstdio>

#include "engine/PictureTags.h"
#include "platform/FileTimes.h"

namespace sigilon {

namespace {

// "YYYY:MM:DD ..." as EXIF writes dates, turned into "YYYY-MM-DD"; none for
// the blank or zero dates cameras without a clock write.
std::optional<std::string> ExifDate(const std::optional<std::string>& stamp) {
  if (!stamp || stamp->size() < 10) return std::nullopt;
  std::string date = stamp->substr(0, 10);
  for (std::size_t i = 0; i < date.size(); ++i) {
    const bool separator = i == 4 || i == 7;
    if (separator ? date[i] != ':' : !std::isdigit(static_cast<unsigned char>(date[i]))) {
      return std::nullopt;
    }
  }
  if (date.starts_with("0000")) return std::nullopt;
  date[4] = '-';
  date[7] = '-';
  return date;
}

std::string LastPart(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

TFieldValues FileFieldValues(const std::string& sourcePath, const TPictureMetadata& metadata,
                             std::int64_t number) {
  TFieldValues values;
  values.Name = LastPart(sourcePath);
  const auto dot = values.Name.find_last_of('.');
  values.Stem = dot == std::string::npos || dot == 0 ? values.Name : values.Name.substr(0, dot);
  std::string folder = sourcePath.substr(0, sourcePath.size() - values.Name.size());
  while (folder.size() > 1 && folder.ends_with('/')) folder.pop_back();
  values.Folder = LastPart(folder);
  const TPictureTags tags = ReadPictureTags(metadata);
  values.Date = ExifDate(tags.DateTimeOriginal);
  if (!values.Date) {
    if (const auto changed = FileModificationDate(sourcePath)) {
      char text[16];
      std::snprintf(text, sizeof text, "%04d-%02d-%02d", changed->Year, changed->Month,
                    changed->Day);
      values.Date = text;
    }
  }
  values.Artist = tags.Artist;
  values.Copyright = tags.Copyright;
  if (number > 0) values.Number = number;
  return values;
}

std::string ExpandFields(const std::string& text, const TFieldValues& values,
                         std::vector<std::string>& warnings) {
  const auto value = [&](const std::string& field) -> std::optional<std::string> {
    if (field == "name") return values.Name;
    if (field == "stem") return values.Stem;
    if (field == "folder") return values.Folder;
    if (field == "date") return values.Date;
    if (field == "year")
      return values.Date ? std::optional(values.Date->substr(0, 4)) : std::nullopt;
    if (field == "artist") return values.Artist;
    if (field == "copyright") return values.Copyright;
    if (field == "n") {
      return values.Number ? std::optional(std::to_string(*values.Number)) : std::nullopt;
    }
    warnings.push_back("unknown field {" + field + "} in the brand text");
    return std::string();
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c == '{' || c == '}') && i + 1 < text.size() && text[i + 1] == c) {
      out += c;
      ++i;
      continue;
    }
    if (c != '{') {
      out += c;
      continue;
    }
    const auto close = text.find('}', i + 1);
    if (close == std::string::npos) {
      warnings.push_back("a \"{\" in the brand text is never closed");
      out += text.substr(i);
      break;
    }
    const std::string field = text.substr(i + 1, close - i - 1);
    if (const auto filled = value(field)) {
      out += *filled;
    } else {
      warnings.push_back("the picture has no {" + field + "} for the brand text");
    }
    i = close;
  }
  return out;
}

}  // namespace sigilon
