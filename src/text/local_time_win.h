#pragma once
// Times shown in the user's local time zone and Windows date and time formats.
#include <cstdint>
#include <string>

namespace tessary {

// The local time of day for `unixSeconds` (whole seconds since 1970-01-01 UTC),
// preceded by the local short date and two spaces when `withDate` is set. Never
// fails: the numeric formats stand in for anything the system cannot give.
std::u16string formatLocalTimestamp(std::int64_t unixSeconds, bool withDate);

// The current offset from UTC, such as UTC+01:00.
std::u16string utcOffsetLabel();

}  // namespace tessary
