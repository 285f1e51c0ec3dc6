// The display texts shared by every parser: dates, sizes.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace vindaru {

// "%02d/%02d/%d  %02d:%02d AM" for hours 0..12 (hour as is), "... PM" with hour - 12 for 13..23.
std::string formatDateTimeText(int month, int day, int year, int hour, int minute);
std::string formatDateTimeText(const std::tm& local);
// "%02d/%02d/%d " (month, day, year): the date-only form some parsers show for access times.
std::string formatDateText(int month, int day, int year);

// ≥ 2^30 "%.2f GB", ≥ 2^20 "%.2f MB", ≥ 2^10 "%.2f KB", else "%lld Bytes".
std::string formatSizeText(std::uint64_t bytes);

// printf into a std::string.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace vindaru
