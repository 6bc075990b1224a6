#pragma once
/// When a file was last changed, as a calendar date of the local time zone.

#include <optional>
#include <string>

namespace sigilon {

/// A day of the calendar.
struct TCalendarDate {
  int Year = 0;
  int Month = 0;  ///< 1 to 12
  int Day = 0;    ///< 1 to 31
  friend bool operator==(const TCalendarDate&, const TCalendarDate&) = default;
};

/// The local date of the file's last modification; none when the file
/// cannot be looked at.
std::optional<TCalendarDate> FileModificationDate(const std::string& path);

}  // namespace sigilon
