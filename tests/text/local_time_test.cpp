#include "text/local_time.h"

#include <gtest/gtest.h>

namespace tessary {
namespace {

TEST(LocalTimeFallback, NumericDate) {
  EXPECT_EQ(numericDateText(1970, 1, 1), u"1970-01-01");
  EXPECT_EQ(numericDateText(2024, 7, 4), u"2024-07-04");
  EXPECT_EQ(numericDateText(999, 12, 31), u"0999-12-31");
  EXPECT_EQ(numericDateText(30827, 12, 31), u"30827-12-31");
}

TEST(LocalTimeFallback, TwelveHourClock) {
  struct Case {
    unsigned hour, minute;
    std::u16string expected;
  };
  const Case cases[] = {
      {0, 5, u"12:05 AM"},  {0, 0, u"12:00 AM"},  {1, 0, u"1:00 AM"},   {11, 59, u"11:59 AM"},
      {12, 0, u"12:00 PM"}, {12, 30, u"12:30 PM"}, {13, 7, u"1:07 PM"}, {23, 59, u"11:59 PM"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fallbackTimeText(c.hour, c.minute, true), c.expected) << c.hour << ":" << c.minute;
  }
}

TEST(LocalTimeFallback, TwentyFourHourClock) {
  EXPECT_EQ(fallbackTimeText(0, 5, false), u"00:05");
  EXPECT_EQ(fallbackTimeText(0, 0, false), u"00:00");
  EXPECT_EQ(fallbackTimeText(12, 0, false), u"12:00");
  EXPECT_EQ(fallbackTimeText(9, 3, false), u"09:03");
  EXPECT_EQ(fallbackTimeText(23, 59, false), u"23:59");
}

TEST(LocalTimeFallback, ClockStyleFromLocale) {
  EXPECT_TRUE(isTwelveHourClockStyle(u"0"));
  EXPECT_FALSE(isTwelveHourClockStyle(u"1"));
  EXPECT_FALSE(isTwelveHourClockStyle(u""));  // unknown style: 24-hour
  EXPECT_FALSE(isTwelveHourClockStyle(u"x"));
}

TEST(LocalTimeFallback, LocaleTextIsUsedOnlyWhenUsable) {
  EXPECT_TRUE(isUsableLocaleText(u"7/4/2024"));
  EXPECT_TRUE(isUsableLocaleText(u"4.7.2024"));
  EXPECT_TRUE(isUsableLocaleText(u"2024\u5E747\u67084\u65E5"));
  EXPECT_FALSE(isUsableLocaleText(u""));
  EXPECT_FALSE(isUsableLocaleText(u"4 \u0438\u044E\u043B. 2024 \u0433."));  // Cyrillic month
  EXPECT_FALSE(isUsableLocaleText(u"9:00 \u0434\u043F"));                  // Cyrillic time marker
}

TEST(LocalTimeFallback, JoinsDateAndTimeWithTwoSpaces) {
  EXPECT_EQ(joinTimestamp(u"1970-01-01", u"00:00", true), u"1970-01-01  00:00");
  EXPECT_EQ(joinTimestamp(u"1970-01-01", u"00:00", false), u"00:00");
}

TEST(UtcOffset, Labels) {
  struct Case {
    std::int64_t bias;
    std::u16string expected;
  };
  const Case cases[] = {
      {-330, u"UTC+05:30"}, {0, u"UTC+00:00"},   {300, u"UTC-05:00"}, {-60, u"UTC+01:00"},
      {240, u"UTC-04:00"},  {-765, u"UTC+12:45"}, {570, u"UTC-09:30"}, {-840, u"UTC+14:00"},
      {1, u"UTC-00:01"},    {-1, u"UTC+00:01"},
  };
  for (const auto& c : cases) EXPECT_EQ(utcOffsetText(c.bias), c.expected) << c.bias;
}

TEST(UtcOffset, TotalBiasAddsDaylightOnlyWhileInForce) {
  // Central Europe: bias -60, standard 0, daylight -60.
  EXPECT_EQ(totalTimeZoneBias(-60, 0, -60, false), -60);
  EXPECT_EQ(totalTimeZoneBias(-60, 0, -60, true), -120);
  EXPECT_EQ(utcOffsetText(totalTimeZoneBias(-60, 0, -60, true)), u"UTC+02:00");
  // New York: bias 300, daylight -60.
  EXPECT_EQ(utcOffsetText(totalTimeZoneBias(300, 0, -60, false)), u"UTC-05:00");
  EXPECT_EQ(utcOffsetText(totalTimeZoneBias(300, 0, -60, true)), u"UTC-04:00");
  // India: no daylight time.
  EXPECT_EQ(utcOffsetText(totalTimeZoneBias(-330, 0, 0, false)), u"UTC+05:30");
}

}  // namespace
}  // namespace tessary
