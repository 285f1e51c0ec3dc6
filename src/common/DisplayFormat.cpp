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

// The date texts, built in place: a listing makes one per time it shows, and printf is only
// needed for a field outside 0..9999 (at most 28 characters are written here).
class DateText {
  public:
    DateText& number(int value, int width) {
        char digits[4];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        for (; n < width; ++n)
            digits[n] = '0';
        while (n > 0)
            bytes_[size_++] = digits[--n];
        return *this;
    }
    DateText& text(const char* s) {
        while (*s != 0)
            bytes_[size_++] = *s++;
        return *this;
    }
    std::string str() const { return std::string(bytes_, size_); }

  private:
    char bytes_[32];
    std::size_t size_ = 0;
};

} // namespace

std::string formatDateTimeText(int month, int day, int year, int hour, int minute) {
    const bool pm = hour >= 13;
    if (pm) hour -= 12;
    for (const int value : {month, day, year, hour, minute})
        if (!fitsFourDigits(value))
            return formatText(pm ? "%02d/%02d/%d  %02d:%02d PM" : "%02d/%02d/%d  %02d:%02d AM",
                              month, day, year, hour, minute);
    DateText t;
    t.number(month, 2).text("/").number(day, 2).text("/").number(year, 1).text("  ");
    t.number(hour, 2).text(":").number(minute, 2).text(pm ? " PM" : " AM");
    return t.str();
}

std::string formatDateTimeText(const std::tm& t) {
    return formatDateTimeText(t.tm_mon + 1, t.tm_mday, t.tm_year + 1900, t.tm_hour, t.tm_min);
}

std::string formatDateText(int month, int day, int year) {
    for (const int value : {month, day, year})
        if (!fitsFourDigits(value)) return formatText("%02d/%02d/%d ", month, day, year);
    DateText t;
    t.number(month, 2).text("/").number(day, 2).text("/").number(year, 1).text(" ");
    return t.str();
}

std::string formatSizeText(std::uint64_t bytes) {
    const double x = static_cast<double>(bytes);
    if (x >= 1073741824.0) return formatText("%.2f GB", x / 1073741824.0);
    if (x >= 1048576.0) return formatText("%.2f MB", x / 1048576.0);
    if (x >= 1024.0) return formatText("%.2f KB", x / 1024.0);
    return std::to_string(bytes) + " Bytes";
}

} // namespace vindaru
