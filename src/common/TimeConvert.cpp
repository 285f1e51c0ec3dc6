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

std::int64_t dosToUnix(std::uint16_t dosDate, std::uint16_t dosTime) {
    std::tm t = dosToCalendar(dosDate, dosTime);
    return static_cast<std::int64_t>(mktime(&t));
}

} // namespace vindaru
