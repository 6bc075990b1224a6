#include <gtest/gtest.h>

#include <QDate>
#include <QLocale>
#include <cmath>

#include "settings/DateTimeText.h"

namespace sigilon {
namespace {

constexpr double kSecond = 1.0 / 86400.0;

/// A date-time from its parts, counted independently of the code under test.
TDateTime Make(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  const qint64 days = QDate(1899, 12, 30).daysTo(QDate(year, month, day));
  return static_cast<double>(days) + (hour * 3600 + minute * 60 + second) * kSecond;
}

class DateTimeInLocale : public ::testing::TestWithParam<const char*> {
 protected:
  QLocale locale_{QString::fromLatin1(GetParam())};
};

TEST_P(DateTimeInLocale, RoundTripsToTheSecond) {
  const int thisYear = QDate::currentDate().year();
  const TDateTime samples[] = {
      Make(2024, 2, 29, 23, 59, 59), Make(2023, 12, 31, 12, 0, 0), Make(2021, 1, 2, 0, 0, 1),
      Make(thisYear, 7, 4, 13, 5, 9), Make(thisYear - 40, 11, 30, 1, 2, 3),
      Make(thisYear + 40, 3, 1, 11, 59, 0),
      // Fractions of a second are dropped, never rounded up into the next second.
      Make(2022, 6, 15, 8, 30, 15) + 0.4 * kSecond};
  for (const TDateTime value : samples) {
    const std::string text = DateTimeToText(value, locale_);
    const TDateTime back = TextToDateTime(text, locale_);
    EXPECT_NEAR(back, std::floor(value / kSecond + 1e-6) * kSecond, 1e-3 * kSecond)
        << GetParam() << ": \"" << text << "\"";
  }
}

TEST_P(DateTimeInLocale, MidnightIsTheDateAlone) {
  const TDateTime midnight = Make(2020, 5, 17);
  const std::string text = DateTimeToText(midnight, locale_);
  const std::string withTime = DateTimeToText(midnight + kSecond, locale_);
  EXPECT_EQ(withTime.rfind(text + " ", 0), 0u) << text << " / " << withTime;
  EXPECT_GT(withTime.size(), text.size() + 1);
  EXPECT_DOUBLE_EQ(TextToDateTime(text, locale_), midnight);
}

TEST_P(DateTimeInLocale, UnreadableTextsGiveZero) {
  for (const char* text : {"", "abc", " ", "12", "1/2/3/4", "99.99.9999", "31/31/31 25:61:61",
                           "\xff\xfe", "2020-05-17 10:00:00 trailing"}) {
    EXPECT_EQ(TextToDateTime(text, locale_), 0.0) << GetParam() << ": " << text;
  }
  // A date that does not exist.
  const std::string leap = DateTimeToText(Make(2024, 2, 29), locale_);
  std::string notLeap = DateTimeToText(Make(2023, 2, 28), locale_);
  EXPECT_NE(TextToDateTime(leap, locale_), 0.0);
  // Written in the locale's own digits.
  const std::string day28 = locale_.toString(28).toStdString();
  const auto at = notLeap.find(day28);
  ASSERT_NE(at, std::string::npos);
  notLeap.replace(at, day28.size(), locale_.toString(29).toStdString());
  EXPECT_EQ(TextToDateTime(notLeap, locale_), 0.0) << notLeap;
}

INSTANTIATE_TEST_SUITE_P(Locales, DateTimeInLocale,
                         ::testing::Values("C", "en_US", "de_DE", "en_GB", "fr_FR", "ja_JP",
                                           "ko_KR", "sk_SK", "bg_BG", "zh_CN", "ar_EG", "fa_IR",
                                           "th_TH", "hi_IN"));

TEST(DateTime, KnownTexts) {
  const QLocale german(QStringLiteral("de_DE"));
  EXPECT_EQ(DateTimeToText(Make(2023, 2, 9, 14, 5, 7), german), "09.02.23 14:05:07");
  const QLocale american(QStringLiteral("en_US"));
  // The blank before PM differs between versions of the locale data.
  const std::string afternoon = DateTimeToText(Make(2023, 2, 9, 14, 5, 7), american);
  EXPECT_EQ(afternoon.rfind("2/9/23 2:05:07", 0), 0u) << afternoon;
  EXPECT_EQ(afternoon.substr(afternoon.size() - 2), "PM");
  EXPECT_DOUBLE_EQ(TextToDateTime("2/9/23 2:05 pm", american), Make(2023, 2, 9, 14, 5, 0));
  EXPECT_DOUBLE_EQ(TextToDateTime("2/9/23 12:00:00 AM", american), Make(2023, 2, 9));
  EXPECT_DOUBLE_EQ(TextToDateTime("09.02.2023", german), 0.0);  // yy takes two digits only
  const QLocale british(QStringLiteral("en_GB"));
  EXPECT_DOUBLE_EQ(TextToDateTime("09/02/2023 14:05:07", british), Make(2023, 2, 9, 14, 5, 7));
  EXPECT_DOUBLE_EQ(TextToDateTime("9/2/2023", british), 0.0);  // dd and MM have two digits
  EXPECT_DOUBLE_EQ(TextToDateTime("02/30/2023", british), 0.0);
}

TEST(DateTime, TwoDigitYearsGoToTheNearestCentury) {
  const QLocale german(QStringLiteral("de_DE"));
  const int year = QDate::currentDate().year();
  for (const int y : {year + 30, year - 30}) {
    const std::string text = QString::asprintf("01.06.%02d", y % 100).toStdString();
    EXPECT_DOUBLE_EQ(TextToDateTime(text, german), Make(y, 6, 1)) << text;
  }
  // 29 February of year 00 exists only in a leap century.
  EXPECT_DOUBLE_EQ(TextToDateTime("29.02.00", german), Make(2000, 2, 29));
}

TEST(DateTime, DaysBeforeDayZeroCountTheTimeForwards) {
  const QLocale british(QStringLiteral("en_GB"));
  // -1.25 is 29 December 1899, 06:00.
  EXPECT_EQ(DateTimeToText(-1.25, british), "29/12/1899 06:00:00");
  EXPECT_DOUBLE_EQ(TextToDateTime("29/12/1899 06:00:00", british), -1.25);
  EXPECT_EQ(DateTimeToText(0, british), "30/12/1899");
  // Not a date-time at all: still a text, never a failure.
  EXPECT_FALSE(DateTimeToText(std::nan(""), british).empty());
  EXPECT_FALSE(DateTimeToText(1.0e9, british).empty());
  EXPECT_FALSE(DateTimeToText(-1.0e12, british).empty());
}

TEST(DateTime, NowIsToday) {
  const TDateTime now = Now();
  const double today = static_cast<double>(QDate(1899, 12, 30).daysTo(QDate::currentDate()));
  EXPECT_GE(now, today - 1);
  EXPECT_LT(now, today + 2);
}

}  // namespace
}  // namespace sigilon
