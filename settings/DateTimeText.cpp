#include "settings/DateTimeText.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace sigilon {

namespace {

constexpr qint64 kMillisecondsPerDay = 86'400'000;
/// Day 0 of the date-time type.
const QDate kDayZero(1899, 12, 30);

// A date-time splits into a day count and a time of day. Before day 0 the
// fraction still counts forwards from midnight: -1.25 is 29 December 1899,
// 06:00.
struct TSplitDateTime {
  qint64 days = 0;
  qint64 milliseconds = 0;  // 0 to one day less 1 ms
};

TSplitDateTime SplitDateTime(TDateTime value) {
  // Beyond these bounds QDate has no calendar; such values are not dates.
  if (!std::isfinite(value) || std::fabs(value) > 1.0e9) return {};
  double whole = 0;
  const double fraction = std::fabs(std::modf(value, &whole));
  TSplitDateTime split;
  split.days = static_cast<qint64>(whole);
  // To the millisecond first, so 0.5 computed as 0.49999999 is still noon.
  split.milliseconds = std::llround(fraction * kMillisecondsPerDay);
  if (split.milliseconds >= kMillisecondsPerDay) {
    split.milliseconds = 0;
    split.days += value < 0 ? -1 : 1;
  }
  return split;
}

TDateTime JoinDateTime(const QDate& date, const QTime& time) {
  const auto days = static_cast<double>(kDayZero.daysTo(date));
  const double fraction = static_cast<double>(time.msecsSinceStartOfDay()) / kMillisecondsPerDay;
  return days < 0 ? days - fraction : days + fraction;
}

// ---- Formats ------------------------------------------------------------------

/// One piece of a date or time format: a field letter run ("dd", "MMM", "AP")
/// or literal text.
struct TFormatToken {
  QString field;    // empty for literal text
  QString literal;  // the literal text itself
};

bool IsFieldLetter(QChar c) {
  return c == u'd' || c == u'M' || c == u'y' || c == u'h' || c == u'H' || c == u'm' || c == u's' ||
         c == u'z' || c == u't' || c == u'A' || c == u'a' || c == u'P' || c == u'p';
}

std::vector<TFormatToken> Tokenize(const QString& format) {
  std::vector<TFormatToken> tokens;
  auto addLiteral = [&tokens](const QString& text) {
    if (!tokens.empty() && tokens.back().field.isEmpty()) {
      tokens.back().literal += text;
    } else {
      tokens.push_back({QString(), text});
    }
  };
  for (qsizetype i = 0; i < format.size();) {
    const QChar c = format[i];
    if (c == u'\'') {
      // Quoted literal; '' stands for one quote.
      qsizetype j = i + 1;
      QString text;
      for (; j < format.size(); ++j) {
        if (format[j] == u'\'') {
          if (j + 1 < format.size() && format[j + 1] == u'\'') {
            text += u'\'';
            ++j;
          } else {
            break;
          }
        } else {
          text += format[j];
        }
      }
      if (j == i + 1 && j < format.size()) text = QStringLiteral("'");
      addLiteral(text);
      i = j + 1;
    } else if ((c == u'A' || c == u'a') && i + 1 < format.size() &&
               (format[i + 1] == u'P' || format[i + 1] == u'p')) {
      tokens.push_back({format.mid(i, 2), QString()});
      i += 2;
    } else if (c == u'A' || c == u'a') {
      tokens.push_back({format.mid(i, 1), QString()});
      ++i;
    } else if (IsFieldLetter(c) && c != u'P' && c != u'p') {
      qsizetype j = i;
      while (j < format.size() && format[j] == c) ++j;
      tokens.push_back({format.mid(i, j - i), QString()});
      i = j;
    } else {
      addLiteral(QString(c));
      ++i;
    }
  }
  return tokens;
}

/// A time format without time zone and fractions of a second: the date-time
/// type carries neither, and a zone name would not read back.
QString CleanTimeFormat(QString format) {
  format.remove(QStringLiteral("(t)"));
  std::vector<TFormatToken> kept;
  for (auto& token : Tokenize(format)) {
    if (!token.field.startsWith(u't') && !token.field.startsWith(u'z')) kept.push_back(token);
  }
  // Dropping the zone leaves the blank that stood before or after it.
  if (!kept.empty() && kept.front().field.isEmpty()) {
    while (!kept.front().literal.isEmpty() && kept.front().literal.front().isSpace()) {
      kept.front().literal.remove(0, 1);
    }
  }
  if (!kept.empty() && kept.back().field.isEmpty()) {
    while (!kept.back().literal.isEmpty() && kept.back().literal.back().isSpace()) {
      kept.back().literal.chop(1);
    }
  }
  QString result;
  for (const auto& token : kept) {
    if (!token.field.isEmpty()) {
      result += token.field;
    } else if (!token.literal.isEmpty()) {
      QString literal = token.literal;
      literal.replace(u'\'', QStringLiteral("''"));
      result += u'\'' + literal + u'\'';
    }
  }
  return result;
}

QString TimeFormatOf(const QLocale& locale) {
  return CleanTimeFormat(locale.timeFormat(QLocale::LongFormat));
}

// ---- Reading ------------------------------------------------------------------

/// Reads `text` field by field against a format, as QLocale writes it.
class TFieldReader {
 public:
  TFieldReader(const QLocale& locale, const QString& text) : locale_(locale), text_(text) {}

  /// Reads the whole format from the current position; false on mismatch.
  bool Read(const std::vector<TFormatToken>& tokens) {
    for (const auto& token : tokens) {
      if (!(token.field.isEmpty() ? ReadLiteral(token.literal) : ReadField(token.field))) {
        return false;
      }
    }
    return true;
  }

  bool AtEnd() const { return position_ == text_.size(); }
  bool Skip(QChar c) {
    if (position_ < text_.size() && text_[position_] == c) {
      ++position_;
      return true;
    }
    return false;
  }

  int day = -1, month = -1, year = -1, hour = -1, minute = 0, second = 0;
  bool twoDigitYear = false, twelveHour = false;
  std::optional<bool> afternoon;

 private:
  bool ReadLiteral(const QString& literal) {
    for (const QChar c : literal) {
      // Blanks of any kind match each other: locales use no-break spaces.
      if (c.isSpace()) {
        if (position_ >= text_.size() || !text_[position_].isSpace()) return false;
      } else if (position_ >= text_.size() || text_[position_].toCaseFolded() != c.toCaseFolded()) {
        return false;
      }
      ++position_;
    }
    return true;
  }

  /// The value of a digit in the locale's own digits or in ASCII, or -1.
  int DigitAt(qsizetype at) const {
    if (at >= text_.size()) return -1;
    const QChar c = text_[at];
    if (c >= u'0' && c <= u'9') return c.unicode() - u'0';
    const QString zero = locale_.zeroDigit();
    if (zero.size() == 1 && c.unicode() >= zero[0].unicode() &&
        c.unicode() <= zero[0].unicode() + 9) {
      return c.unicode() - zero[0].unicode();
    }
    return -1;
  }

  bool ReadNumber(int minDigits, int maxDigits, int& value) {
    int count = 0;
    value = 0;
    while (count < maxDigits) {
      const int digit = DigitAt(position_);
      if (digit < 0) break;
      value = value * 10 + digit;
      ++position_;
      ++count;
    }
    return count >= minDigits;
  }

  /// Matches the longest of the given names, case-insensitively; its index.
  int ReadName(const QStringList& names) {
    int best = -1;
    qsizetype bestLength = 0;
    for (int i = 0; i < names.size(); ++i) {
      const QString& name = names[i];
      if (name.isEmpty() || name.size() <= bestLength) continue;
      if (text_.mid(position_, name.size()).compare(name, Qt::CaseInsensitive) == 0) {
        best = i;
        bestLength = name.size();
      }
    }
    position_ += bestLength;
    return best;
  }

  bool ReadField(const QString& field) {
    const QChar letter = field[0];
    const auto width = field.size();
    if (letter == u'd' && width <= 2) return ReadNumber(width, 2, day);
    if (letter == u'd') {
      QStringList names;
      for (int i = 1; i <= 7; ++i) {
        names << locale_.dayName(i, QLocale::LongFormat) << locale_.dayName(i, QLocale::ShortFormat)
              << locale_.standaloneDayName(i, QLocale::LongFormat)
              << locale_.standaloneDayName(i, QLocale::ShortFormat);
      }
      return ReadName(names) >= 0;  // the weekday carries nothing the date lacks
    }
    if (letter == u'M' && width <= 2) return ReadNumber(width, 2, month);
    if (letter == u'M') {
      QStringList names;
      for (int i = 1; i <= 12; ++i) {
        names << locale_.monthName(i, QLocale::LongFormat)
              << locale_.monthName(i, QLocale::ShortFormat)
              << locale_.standaloneMonthName(i, QLocale::LongFormat)
              << locale_.standaloneMonthName(i, QLocale::ShortFormat);
      }
      const int index = ReadName(names);
      if (index < 0) return false;
      month = index / 4 + 1;
      return true;
    }
    if (letter == u'y' && width == 2) {
      twoDigitYear = true;
      return ReadNumber(2, 2, year);
    }
    if (letter == u'y' && width == 4) return ReadNumber(1, 4, year);
    if ((letter == u'h' || letter == u'H') && width <= 2) {
      twelveHour = twelveHour || letter == u'h';
      return ReadNumber(width, 2, hour);
    }
    if (letter == u'm' && width <= 2) return ReadNumber(width, 2, minute);
    if (letter == u's' && width <= 2) return ReadNumber(width, 2, second);
    if (letter == u'A' || letter == u'a') {
      const int index = ReadName({locale_.amText(), locale_.pmText()});
      if (index < 0) return false;
      afternoon = index == 1;
      return true;
    }
    return false;  // a field that a written text never holds
  }

  const QLocale& locale_;
  const QString text_;
  qsizetype position_ = 0;
};

/// A two-digit year goes into the century that puts the date nearest today.
std::optional<QDate> DateWithNearestCentury(int twoDigitYear, int month, int day) {
  const QDate today = QDate::currentDate();
  std::optional<QDate> best;
  for (int century = today.year() / 100 - 1; century <= today.year() / 100 + 1; ++century) {
    const QDate candidate(century * 100 + twoDigitYear, month, day);
    if (!candidate.isValid()) continue;
    if (!best || std::llabs(candidate.daysTo(today)) < std::llabs(best->daysTo(today))) {
      best = candidate;
    }
  }
  return best;
}

std::optional<QTime> TimeOf(const TFieldReader& reader) {
  int hour = reader.hour;
  if (hour < 0) return std::nullopt;
  if (reader.afternoon.has_value() && reader.twelveHour) {
    if (hour < 1 || hour > 12) return std::nullopt;
    hour = (hour % 12) + (*reader.afternoon ? 12 : 0);
  }
  const QTime time(hour, reader.minute, reader.second);
  if (!time.isValid()) return std::nullopt;
  return time;
}

}  // namespace

// ---- Public -----------------------------------------------------------------

TDateTime Now() {
  const QDateTime now = QDateTime::currentDateTime();
  return JoinDateTime(now.date(), now.time());
}

std::string DateTimeToText(TDateTime value, const QLocale& locale) {
  const TSplitDateTime split = SplitDateTime(value);
  const QDate date = kDayZero.addDays(split.days);
  QString text = locale.toString(date, locale.dateFormat(QLocale::ShortFormat));
  const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(split.milliseconds));
  const QTime whole(time.hour(), time.minute(), time.second());
  if (whole != QTime(0, 0)) {
    text += u' ' + locale.toString(whole, TimeFormatOf(locale));
  }
  return text.toStdString();
}

TDateTime TextToDateTime(const std::string& text, const QLocale& locale) {
  try {
    const QString input = QString::fromStdString(text).trimmed();
    TFieldReader reader(locale, input);
    if (!reader.Read(Tokenize(locale.dateFormat(QLocale::ShortFormat)))) return 0;
    if (reader.day < 0 || reader.month < 0 || reader.year < 0) return 0;

    std::optional<QDate> date;
    if (reader.twoDigitYear) {
      date = DateWithNearestCentury(reader.year, reader.month, reader.day);
    } else {
      const QDate full(reader.year, reader.month, reader.day);
      if (full.isValid() && reader.year > 0) date = full;
    }
    if (!date) return 0;

    QTime time(0, 0);
    if (!reader.AtEnd()) {
      // A blank, then the time in the long format or, typed by hand, without
      // seconds in the short one.
      if (!reader.Skip(u' ')) return 0;
      std::optional<QTime> readTime;
      for (const QString& format :
           {TimeFormatOf(locale), CleanTimeFormat(locale.timeFormat(QLocale::ShortFormat))}) {
        TFieldReader timeReader = reader;
        if (timeReader.Read(Tokenize(format)) && timeReader.AtEnd()) {
          readTime = TimeOf(timeReader);
          if (readTime) break;
        }
      }
      if (!readTime) return 0;
      time = *readTime;
    }
    return JoinDateTime(*date, time);
  } catch (...) {
    return 0;
  }
}

std::string DateTimeToText(TDateTime value) { return DateTimeToText(value, QLocale::system()); }

TDateTime TextToDateTime(const std::string& text) {
  return TextToDateTime(text, QLocale::system());
}

}  // namespace sigilon
