#include "common/DisplayFormat.h"

#include <cstdarg>
#include <cstdio>

namespace vindaru {

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    // Most texts fit the stack buffer and are formatted once.
    char small[256];
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0 && static_cast<std::size_t>(n) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(n));
    } else if (n > 0) {
        out.resize(static_cast<std::size_t>(n));
        std::vsnprintf(out.data(), out.size() + 1, format, args);
    }
    va_end(args);
    return out;
}

std::string formatDateTimeText(int month, int day, int year, int hour, int minute) {
    if (hour < 13) return formatText("%02d/%02d/%d  %02d:%02d AM", month, day, year, hour, minute);
    return formatText("%02d/%02d/%d  %02d:%02d PM", month, day, year, hour - 12, minute);
}

std::string formatDateTimeText(const std::tm& t) {
    return formatDateTimeText(t.tm_mon + 1, t.tm_mday, t.tm_year + 1900, t.tm_hour, t.tm_min);
}

std::string formatDateText(int month, int day, int year) {
    return formatText("%02d/%02d/%d ", month, day, year);
}

std::string formatSizeText(std::uint64_t bytes) {
    const double x = static_cast<double>(bytes);
    if (x >= 1073741824.0) return formatText("%.2f GB", x / 1073741824.0);
    if (x >= 1048576.0) return formatText("%.2f MB", x / 1048576.0);
    if (x >= 1024.0) return formatText("%.2f KB", x / 1024.0);
    return formatText("%lld Bytes", static_cast<long long>(bytes));
}

} // namespace vindaru
