#pragma once
/// Date-time conversions with the user's regional settings (the font half of
/// the conversions lives in the engine).

#include <string>

class QLocale;

namespace sigilon {

/// Days since 30 December 1899 00:00; the fraction is the time of day.
using TDateTime = double;

/// The current local date and time.
TDateTime Now();

/// The date in the short date format, plus a blank and the time in the long
/// time format unless the time is exactly midnight. No fractions of seconds.
std::string DateTimeToText(TDateTime value);

/// Reads what DateTimeToText writes; 0 for any text that cannot be read.
TDateTime TextToDateTime(const std::string& text);

/// The same under given regional settings; the forms above pass
/// QLocale::system(). A two-digit year is read into the century that puts the
/// date nearest to today.
std::string DateTimeToText(TDateTime value, const QLocale& locale);
TDateTime TextToDateTime(const std::string& text, const QLocale& locale);

}  // namespace sigilon
