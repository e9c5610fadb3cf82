#include "text/local_time_win.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "text/local_time.h"

namespace tessary {

namespace {

constexpr int kTextBufferLength = 128;

// 100-nanosecond ticks from 1601-01-01 to 1970-01-01, in seconds.
constexpr std::int64_t kUnixEpochInFileTimeSeconds = 11644473600;
// The span the system calendar and the date formats handle: 1601-01-01 00:00:00
// to 9999-12-31 23:59:59 UTC. Times outside it are shown at the nearest end.
constexpr std::int64_t kEarliestShownSeconds = -kUnixEpochInFileTimeSeconds;
constexpr std::int64_t kLatestShownSeconds = 253402300799;

bool runningUnderWine() {
  static const bool underWine = [] {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return underWine;
}

using TzSpecificLocalTimeExFunction = decltype(&SystemTimeToTzSpecificLocalTimeEx);

// Resolved at run time rather than imported, so the program still loads on a
// system whose kernel32 lacks the export; a missing function counts as a failed
// conversion and the UTC time is shown.
TzSpecificLocalTimeExFunction tzSpecificLocalTimeEx() {
  static const TzSpecificLocalTimeExFunction function = [] {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return TzSpecificLocalTimeExFunction{nullptr};
    const FARPROC address = GetProcAddress(kernel32, "SystemTimeToTzSpecificLocalTimeEx");
    return reinterpret_cast<TzSpecificLocalTimeExFunction>(reinterpret_cast<void (*)()>(address));
  }();
  return function;
}

// Converts a UTC calendar time into the current dynamic time zone's local time,
// with the rules of that year (daylight time included).
bool toLocalTime(const SYSTEMTIME& utc, SYSTEMTIME& local) {
  DYNAMIC_TIME_ZONE_INFORMATION dynamicZone{};
  if (GetDynamicTimeZoneInformation(&dynamicZone) == TIME_ZONE_ID_INVALID) return false;
  if (!runningUnderWine()) {
    const TzSpecificLocalTimeExFunction convert = tzSpecificLocalTimeEx();
    return convert != nullptr && convert(&dynamicZone, &utc, &local) != FALSE;
  }
  // Wine 8 exports SystemTimeToTzSpecificLocalTimeEx as a stub that ends the
  // process when called. The same conversion there: the zone's rules for the
  // year, then the classic conversion with them.
  TIME_ZONE_INFORMATION zone{};
  if (!GetTimeZoneInformationForYear(utc.wYear, &dynamicZone, &zone)) return false;
  return SystemTimeToTzSpecificLocalTime(&zone, &utc, &local) != FALSE;
}

std::u16string bufferText(const wchar_t* buffer, int written) {
  if (written <= 0) return {};
  const std::size_t length = wcsnlen(buffer, kTextBufferLength);
  return std::u16string(buffer, buffer + length);
}

bool localeUsesTwelveHourClock() {
  wchar_t style[8] = {};
  const int written = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_ITIME, style, 8);
  if (written <= 0) return false;  // unknown: the 24-hour form
  return isTwelveHourClockStyle(std::u16string(style, style + wcsnlen(style, 8)));
}

}  // namespace

std::u16string formatLocalTimestamp(std::int64_t unixSeconds, bool withDate) {
  const std::int64_t seconds = std::clamp(unixSeconds, kEarliestShownSeconds, kLatestShownSeconds);
  const ULONGLONG ticks = static_cast<ULONGLONG>(seconds + kUnixEpochInFileTimeSeconds) * 10000000ULL;
  FILETIME fileTime{};
  fileTime.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFULL);
  fileTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME utc{};
  FileTimeToSystemTime(&fileTime, &utc);  // cannot fail inside the clamped span

  SYSTEMTIME local{};
  if (!toLocalTime(utc, local)) local = utc;

  std::u16string date;
  if (withDate) {
    wchar_t dateBuffer[kTextBufferLength] = {};
    const int written =
        GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, dateBuffer, kTextBufferLength,
                        nullptr);
    date = bufferText(dateBuffer, written);
    if (!isUsableLocaleText(date)) date = numericDateText(local.wYear, local.wMonth, local.wDay);
  }

  wchar_t timeBuffer[kTextBufferLength] = {};
  const int written =
      GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &local, nullptr, timeBuffer, kTextBufferLength);
  std::u16string time = bufferText(timeBuffer, written);
  if (!isUsableLocaleText(time)) time = fallbackTimeText(local.wHour, local.wMinute, localeUsesTwelveHourClock());

  return joinTimestamp(date, time, withDate);
}

std::u16string utcOffsetLabel() {
  TIME_ZONE_INFORMATION zone{};
  const DWORD state = GetTimeZoneInformation(&zone);
  if (state == TIME_ZONE_ID_INVALID) zone = TIME_ZONE_INFORMATION{};  // shown as UTC+00:00
  return utcOffsetText(totalTimeZoneBias(zone.Bias, zone.StandardBias, zone.DaylightBias,
                                         state == TIME_ZONE_ID_DAYLIGHT));
}

}  // namespace tessary
