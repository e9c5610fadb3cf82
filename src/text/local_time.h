#pragma once
// The platform-free parts of showing times: the numeric fallbacks used when the
// user's locale gives no usable date or time text, and the UTC offset label.
#include <cstdint>
#include <string>
#include <string_view>

namespace tessary {

// Whether a date or time text from the locale can be shown: not empty and made
// only of enabled script.
bool isUsableLocaleText(std::u16string_view text);

// "2024-07-04": year, month and day as "%04u-%02u-%02u".
std::u16string numericDateText(unsigned year, unsigned month, unsigned day);

// The time of day when the locale's own format cannot be used: with a 12-hour
// clock "%u:%02u %s" (hour 0 shown as 12, AM before noon, PM from noon), with a
// 24-hour clock "%02u:%02u".
std::u16string fallbackTimeText(unsigned hour, unsigned minute, bool twelveHourClock);

// The locale's clock style (its LOCALE_ITIME value) names a 12-hour clock when
// its first character is 0; anything else, an empty value included, is 24-hour.
bool isTwelveHourClockStyle(std::u16string_view clockStyle);

// The date, two spaces and the time with the date; the time alone without it.
std::u16string joinTimestamp(std::u16string_view date, std::u16string_view time, bool withDate);

// UTC minus local time in minutes: the zone's bias plus its daylight bias while
// daylight time is in force, plus its standard bias otherwise.
std::int64_t totalTimeZoneBias(std::int64_t bias, std::int64_t standardBias, std::int64_t daylightBias,
                               bool daylightInForce);

// "UTC+05:30" for a total bias of -330 minutes: + for a bias of 0 or below.
std::u16string utcOffsetText(std::int64_t totalBiasMinutes);

}  // namespace tessary
