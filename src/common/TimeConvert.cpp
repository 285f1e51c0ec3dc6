#include "common/TimeConvert.h"

namespace vindaru {

std::optional<std::tm> unixToLocal(std::int64_t unixSeconds) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm out{};
    if (!localtime_r(&t, &out)) return std::nullopt;
    return out;
}

std::int64_t filetimeToUnix(std::uint64_t filetime) {
    return static_cast<std::int64_t>(filetime / 10000000ULL) - kFiletimeEpochDelta;
}

std::optional<std::tm> filetimeToLocal(std::uint64_t filetime) {
    return unixToLocal(filetimeToUnix(filetime));
}

std::optional<std::tm> hfsToLocal(std::uint32_t hfsSeconds) {
    return unixToLocal(static_cast<std::int64_t>(hfsSeconds) - kHfsEpochDelta);
}

std::tm dosToCalendar(std::uint16_t dosDate, std::uint16_t dosTime) {
    std::tm t{};
    t.tm_year = ((dosDate >> 9) & 0x7F) + 1980 - 1900;
    t.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
    t.tm_mday = dosDate & 0x1F;
    t.tm_hour = (dosTime >> 11) & 0x1F;
    t.tm_min = (dosTime >> 5) & 0x3F;
    t.tm_sec = (dosTime & 0x1F) * 2;
    t.tm_isdst = -1;
    return t;
}

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date; the month may lie outside 1..12 and the day
// outside the month, and carry over as they would in mktime.
std::int64_t daysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
    year += (month - 1 >= 0 ? (month - 1) / 12 : (month - 12) / 12);
    month = ((month - 1) % 12 + 12) % 12 + 1;
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The local zone's offset from UTC at an instant.
std::int64_t utcOffsetAt(std::int64_t unixSeconds) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) return 0;
    return local.tm_gmtoff;
}

} // namespace

// As mktime with tm_isdst = -1, without its per-call look at the zone file: the fields are read
// as UTC, then moved by the local offset in force at that moment (found in two steps, so that a
// time next to a daylight-saving change takes the offset of its own side).
std::int64_t dosToUnix(std::uint16_t dosDate, std::uint16_t dosTime) {
    const std::tm t = dosToCalendar(dosDate, dosTime);
    const std::int64_t asUtc = daysFromCivil(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday) * 86400 +
                               t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
    const std::int64_t guess = asUtc - utcOffsetAt(asUtc);
    return asUtc - utcOffsetAt(guess);
}

} // namespace vindaru
