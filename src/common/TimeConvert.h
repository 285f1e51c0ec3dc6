// On-disk time stamps to local calendar time (localtime_r: the current time-zone rules).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

namespace vindaru {

// Seconds between 1601-01-01 and 1970-01-01, and between 1904-01-01 and 1970-01-01.
inline constexpr std::int64_t kFiletimeEpochDelta = 11644473600LL;
inline constexpr std::int64_t kHfsEpochDelta = 2082844800LL;

std::optional<std::tm> unixToLocal(std::int64_t unixSeconds);
// Windows FILETIME: 100-nanosecond ticks since 1601 (UTC).
std::optional<std::tm> filetimeToLocal(std::uint64_t filetime);
std::int64_t filetimeToUnix(std::uint64_t filetime);
// HFS+ dates: seconds since 1904-01-01 00:00 UTC.
std::optional<std::tm> hfsToLocal(std::uint32_t hfsSeconds);
// DOS date and time are already local: they are only unpacked (2-second resolution).
std::tm dosToCalendar(std::uint16_t dosDate, std::uint16_t dosTime);
// The Unix seconds of a DOS local time taken as-is (used to set saved files' times).
std::int64_t dosToUnix(std::uint16_t dosDate, std::uint16_t dosTime);

} // namespace vindaru
