#include "text/local_time_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "text/child_process_win.h"
#include "text/text_rules.h"

namespace tessary {
namespace {

// What the user's own date and time formats make of a given local calendar time.
std::u16string userFormats(WORD year, WORD month, WORD day, WORD hour, WORD minute, bool withDate) {
  SYSTEMTIME local{};
  local.wYear = year;
  local.wMonth = month;
  local.wDay = day;
  local.wHour = hour;
  local.wMinute = minute;
  wchar_t date[128] = {};
  wchar_t time[128] = {};
  EXPECT_GT(GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 128, nullptr), 0);
  EXPECT_GT(GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &local, nullptr, time, 128), 0);
  const std::wstring text = withDate ? std::wstring(date) + L"  " + time : std::wstring(time);
  return std::u16string(text.begin(), text.end());
}

std::string narrow(const std::u16string& text) { return toUtf8(text); }

constexpr std::int64_t kJuly4th2024 = 1720051200;  // 2024-07-04 00:00:00 UTC

// Each of these runs in a child process started with its time zone (see below).
TEST(LocalTimeInZone, DISABLED_Utc) {
  EXPECT_EQ(narrow(utcOffsetLabel()), "UTC+00:00");
  const std::u16string stamp = formatLocalTimestamp(0, true);
  EXPECT_EQ(narrow(stamp), narrow(userFormats(1970, 1, 1, 0, 0, true)));
  EXPECT_NE(stamp.find(u"1970"), std::u16string::npos);
  const std::u16string time = formatLocalTimestamp(0, false);
  EXPECT_TRUE(time == u"12:00 AM" || time == u"00:00" || time == u"0:00") << narrow(time);
  ASSERT_GT(stamp.size(), time.size() + 2);
  EXPECT_EQ(stamp.substr(stamp.size() - time.size() - 2), u"  " + time);
  EXPECT_EQ(narrow(formatLocalTimestamp(kJuly4th2024, true)), narrow(userFormats(2024, 7, 4, 0, 0, true)));
}

TEST(LocalTimeInZone, DISABLED_Kolkata) {
  EXPECT_EQ(narrow(utcOffsetLabel()), "UTC+05:30");
  EXPECT_EQ(narrow(formatLocalTimestamp(0, true)), narrow(userFormats(1970, 1, 1, 5, 30, true)));
  EXPECT_EQ(narrow(formatLocalTimestamp(0, false)), narrow(userFormats(1970, 1, 1, 5, 30, false)));
  EXPECT_EQ(narrow(formatLocalTimestamp(kJuly4th2024 + 59, true)), narrow(userFormats(2024, 7, 4, 5, 30, true)));
}

TEST(LocalTimeInZone, DISABLED_NewYork) {
  // Standard time in winter, daylight time in summer: the rules of the year apply.
  EXPECT_EQ(narrow(formatLocalTimestamp(0, true)), narrow(userFormats(1969, 12, 31, 19, 0, true)));
  EXPECT_EQ(narrow(formatLocalTimestamp(kJuly4th2024, true)), narrow(userFormats(2024, 7, 3, 20, 0, true)));
  TIME_ZONE_INFORMATION zone{};
  const bool daylightNow = GetTimeZoneInformation(&zone) == TIME_ZONE_ID_DAYLIGHT;
  EXPECT_EQ(narrow(utcOffsetLabel()), daylightNow ? "UTC-04:00" : "UTC-05:00");
  // The latest time a sheet can hold: 3000-01-01 00:00 UTC.
  EXPECT_EQ(narrow(formatLocalTimestamp(32503680000, true)), narrow(userFormats(2999, 12, 31, 19, 0, true)));
}

// The zone of a Wine process follows its Unix TZ variable; real Windows has no
// such switch, so there the zone tests are skipped.
int runInZone(const std::string& zone, const std::string& test) {
  return test::runSelfUnderWine({"TZ=" + zone}, "LocalTimeInZone." + test);
}

TEST(LocalTimestamp, UtcZoneGivesEpochDateAndMidnight) {
  if (!test::canRunUnixCommands()) GTEST_SKIP() << "the zone of a new process can only be chosen under Wine";
  EXPECT_EQ(runInZone("UTC", "DISABLED_Utc"), 0);
}

TEST(LocalTimestamp, ZoneHalfAnHourOffTheHour) {
  if (!test::canRunUnixCommands()) GTEST_SKIP() << "the zone of a new process can only be chosen under Wine";
  EXPECT_EQ(runInZone("Asia/Kolkata", "DISABLED_Kolkata"), 0);
}

TEST(LocalTimestamp, ZoneWithDaylightTime) {
  if (!test::canRunUnixCommands()) GTEST_SKIP() << "the zone of a new process can only be chosen under Wine";
  EXPECT_EQ(runInZone("America/New_York", "DISABLED_NewYork"), 0);
}

TEST(LocalTimestamp, CurrentZoneGivesWellFormedTexts) {
  const std::u16string label = utcOffsetLabel();
  ASSERT_EQ(label.size(), 9u) << narrow(label);
  EXPECT_EQ(label.substr(0, 3), u"UTC");
  EXPECT_TRUE(label[3] == u'+' || label[3] == u'-');
  EXPECT_TRUE(iswdigit(label[4]) && iswdigit(label[5]) && label[6] == u':' && iswdigit(label[7]) &&
              iswdigit(label[8]));
  const std::u16string time = formatLocalTimestamp(kJuly4th2024, false);
  const std::u16string stamp = formatLocalTimestamp(kJuly4th2024, true);
  EXPECT_FALSE(time.empty());
  EXPECT_TRUE(isEnabledScript(stamp));
  ASSERT_GT(stamp.size(), time.size() + 2);
  EXPECT_EQ(stamp.substr(stamp.size() - time.size() - 2), u"  " + time);
}

TEST(LocalTimestamp, TimesBeyondTheCalendarDoNotFail) {
  const std::int64_t extremes[] = {std::numeric_limits<std::int64_t>::min(), -11644473601, -1,
                                   std::numeric_limits<std::int64_t>::max(), 253402300800};
  for (const std::int64_t seconds : extremes) {
    SCOPED_TRACE(seconds);
    const std::u16string stamp = formatLocalTimestamp(seconds, true);
    EXPECT_FALSE(stamp.empty());
    EXPECT_NE(stamp.find(u"  "), std::u16string::npos);
  }
}

}  // namespace
}  // namespace tessary
