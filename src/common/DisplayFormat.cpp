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

namespace {

bool fitsFourDigits(int value) {
    return value >= 0 && value <= 9999;
}

// Appends a value of 0..9999 with at least `width` digits.
void appendDigits(std::string& out, int value, int width) {
    char digits[4];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (; n < width; ++n)
        digits[n] = '0';
    while (n > 0)
        out.push_back(digits[--n]);
}

} // namespace

std::string formatDateTimeText(int month, int day, int year, int hour, int minute) {
    const bool pm = hour >= 13;
    if (pm) hour -= 12;
    const char* format = pm ? "%02d/%02d/%d  %02d:%02d PM" : "%02d/%02d/%d  %02d:%02d AM";
    // A listing formats one of these per time shown: the digits by hand, and printf only for a
    // field outside 0..9999.
    for (const int value : {month, day, year, hour, minute})
        if (!fitsFourDigits(value)) return formatText(format, month, day, year, hour, minute);
    std::string out;
    out.reserve(24);
    appendDigits(out, month, 2);
    out += '/';
    appendDigits(out, day, 2);
    out += '/';
    appendDigits(out, year, 1);
    out += "  ";
    appendDigits(out, hour, 2);
    out += ':';
    appendDigits(out, minute, 2);
    out += pm ? " PM" : " AM";
    return out;
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
