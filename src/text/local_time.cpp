#include "text/local_time.h"

#include <cstdio>

#include "text/text_rules.h"

namespace tessary {

namespace {

// The formats below only produce ASCII, which widens unit by unit.
std::u16string widenAscii(const char* text, int length) {
  std::u16string result;
  if (length <= 0) return result;
  result.reserve(static_cast<std::size_t>(length));
  for (int i = 0; i < length; ++i) result.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i])));
  return result;
}

}  // namespace

bool isUsableLocaleText(std::u16string_view text) { return !text.empty() && isEnabledScript(text); }

std::u16string numericDateText(unsigned year, unsigned month, unsigned day) {
  char buffer[48];
  const int length = std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", year, month, day);
  return widenAscii(buffer, length);
}

std::u16string fallbackTimeText(unsigned hour, unsigned minute, bool twelveHourClock) {
  char buffer[48];
  int length = 0;
  if (twelveHourClock) {
    const unsigned shownHour = hour % 12 == 0 ? 12 : hour % 12;
    length = std::snprintf(buffer, sizeof buffer, "%u:%02u %s", shownHour, minute, hour < 12 ? "AM" : "PM");
  } else {
    length = std::snprintf(buffer, sizeof buffer, "%02u:%02u", hour, minute);
  }
  return widenAscii(buffer, length);
}

bool isTwelveHourClockStyle(std::u16string_view clockStyle) {
  return !clockStyle.empty() && clockStyle.front() == u'0';
}

std::u16string joinTimestamp(std::u16string_view date, std::u16string_view time, bool withDate) {
  std::u16string result;
  if (withDate) {
    result.append(date);
    result.append(u"  ");
  }
  result.append(time);
  return result;
}

std::int64_t totalTimeZoneBias(std::int64_t bias, std::int64_t standardBias, std::int64_t daylightBias,
                               bool daylightInForce) {
  return bias + (daylightInForce ? daylightBias : standardBias);
}

std::u16string utcOffsetText(std::int64_t totalBiasMinutes) {
  // The bias is UTC minus local time, so a zone east of Greenwich shows +.
  const char sign = totalBiasMinutes <= 0 ? '+' : '-';
  const unsigned long long magnitude =
      totalBiasMinutes < 0 ? 0ULL - static_cast<unsigned long long>(totalBiasMinutes)
                           : static_cast<unsigned long long>(totalBiasMinutes);
  char buffer[64];
  const int length = std::snprintf(buffer, sizeof buffer, "UTC%c%02llu:%02llu", sign, magnitude / 60, magnitude % 60);
  return widenAscii(buffer, length);
}

}  // namespace tessary
