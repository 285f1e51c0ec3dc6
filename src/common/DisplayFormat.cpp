#include "common/DisplayFormat.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace vindaru {

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, args);
        out.assign(buf.data(), static_cast<std::size_t>(n));
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
