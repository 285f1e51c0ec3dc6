#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "common/ByteLoader.h"
#include "common/DisplayFormat.h"
#include "common/TextConvert.h"
#include "common/TimeConvert.h"

using namespace vindaru;

TEST(ByteLoader, ReadsBothByteOrdersAndRefusesFieldsPastTheEnd) {
    const std::vector<std::uint8_t> b = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    EXPECT_EQ(le16(b, 0), 0x0201);
    EXPECT_EQ(be16(b, 0), 0x0102);
    EXPECT_EQ(le32(b, 4), 0x08070605u);
    EXPECT_EQ(be32(b, 4), 0x05060708u);
    EXPECT_EQ(le64(b, 0), 0x0807060504030201ull);
    EXPECT_EQ(be64(b, 0), 0x0102030405060708ull);
    EXPECT_EQ(le32(b, 5), 0u) << "a field that runs past the span reads as zero";
    EXPECT_FALSE(tryLoadLe<std::uint32_t>(b, SIZE_MAX - 1).has_value());
    EXPECT_EQ(u8(b, 8), 0);
    EXPECT_EQ(subspan(b, 6, 100).size(), 2u);
    EXPECT_TRUE(subspan(b, 9, 1).empty());
    std::uint64_t r;
    EXPECT_FALSE(checkedMul(1ull << 40, 1ull << 30, r));
    EXPECT_FALSE(checkedAdd(~0ull, 1, r));
}

TEST(TextConvert, DecodesUtf16AndWindows1252) {
    const std::vector<std::uint8_t> le = {'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0, 'B', 0};
    EXPECT_EQ(utf16leToUtf8(le), std::string("A\xC3\xA9\xF0\x9F\x98\x80") + std::string(1, '\0') + "B");
    EXPECT_EQ(utf16leToUtf8(le, true), "A\xC3\xA9\xF0\x9F\x98\x80");
    const std::vector<std::uint8_t> be = {0, 'H', 0xD8, 0x00};
    EXPECT_EQ(utf16beToUtf8(be), "H\xEF\xBF\xBD") << "an unpaired surrogate becomes U+FFFD";
    const std::vector<std::uint8_t> cp = {'a', 0x80, 0xE4, 0x9F};
    EXPECT_EQ(cp1252ToUtf8(cp), "a\xE2\x82\xAC\xC3\xA4\xC5\xB8");
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16("r\xC3\xA9sum\xC3\xA9 \xF0\x9F\x98\x80")), "r\xC3\xA9sum\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_TRUE(equalsIgnoreCase("exFat", "EXFAT"));
    EXPECT_FALSE(equalsIgnoreCase("fat", "fat16"));
}

TEST(DisplayFormat, DateTextsKeepAmThroughNoon) {
    EXPECT_EQ(formatDateTimeText(3, 7, 2021, 0, 5), "03/07/2021  00:05 AM");
    EXPECT_EQ(formatDateTimeText(3, 7, 2021, 12, 30), "03/07/2021  12:30 AM");
    EXPECT_EQ(formatDateTimeText(3, 7, 2021, 13, 0), "03/07/2021  01:00 PM");
    EXPECT_EQ(formatDateTimeText(12, 31, 1999, 23, 59), "12/31/1999  11:59 PM");
    EXPECT_EQ(formatDateText(1, 2, 2003), "01/02/2003 ");
    // Damaged entries give any field: the text is printf's for each of them.
    for (const int month : {0, 1, 12, 15, -1, 10000})
        for (const int year : {0, 7, 1980, 2107, 9999, 10000, -1900})
            for (const int hour : {0, 9, 12, 13, 23, 31, -3, 12345})
                for (const int minute : {0, 5, 59, 63, 100, -1}) {
                    char expected[128];
                    std::snprintf(expected, sizeof expected, "%02d/%02d/%d  %02d:%02d %s", month,
                                  31 - month % 7, year, hour >= 13 ? hour - 12 : hour, minute,
                                  hour >= 13 ? "PM" : "AM");
                    ASSERT_EQ(formatDateTimeText(month, 31 - month % 7, year, hour, minute),
                              expected);
                    std::snprintf(expected, sizeof expected, "%02d/%02d/%d ", month, hour, year);
                    ASSERT_EQ(formatDateText(month, hour, year), expected);
                }
}

TEST(DisplayFormat, SizeTextsUseBinaryMultiples) {
    EXPECT_EQ(formatSizeText(0), "0 Bytes");
    EXPECT_EQ(formatSizeText(1023), "1023 Bytes");
    EXPECT_EQ(formatSizeText(1024), "1.00 KB");
    EXPECT_EQ(formatSizeText(1536), "1.50 KB");
    EXPECT_EQ(formatSizeText(1048576), "1.00 MB");
    EXPECT_EQ(formatSizeText(3ull << 30), "3.00 GB");
}

TEST(TimeConvert, ConvertsEachEpoch) {
    setenv("TZ", "UTC", 1);
    tzset();
    // 2020-01-02 03:04:05 UTC
    const std::int64_t unix = 1577934245;
    auto t = unixToLocal(unix);
    ASSERT_TRUE(t);
    EXPECT_EQ(formatDateTimeText(*t), "01/02/2020  03:04 AM");
    const std::uint64_t ft = static_cast<std::uint64_t>(unix + kFiletimeEpochDelta) * 10000000ull + 1234;
    EXPECT_EQ(filetimeToUnix(ft), unix);
    EXPECT_EQ(formatDateTimeText(*filetimeToLocal(ft)), "01/02/2020  03:04 AM");
    EXPECT_EQ(formatDateTimeText(*hfsToLocal(static_cast<std::uint32_t>(unix + kHfsEpochDelta))),
              "01/02/2020  03:04 AM");
    // DOS: 2020-01-02 15:04:06 local
    const std::uint16_t date = static_cast<std::uint16_t>(((2020 - 1980) << 9) | (1 << 5) | 2);
    const std::uint16_t time = static_cast<std::uint16_t>((15 << 11) | (4 << 5) | 3);
    EXPECT_EQ(formatDateTimeText(dosToCalendar(date, time)), "01/02/2020  03:04 PM");
    EXPECT_EQ(dosToUnix(date, time), 1577977446);
}

// Saved FAT files take their times from this conversion; it must agree with mktime in zones with
// daylight-saving rules, out-of-range fields included (a damaged entry's month 0 or minute 63),
// away from the hours where a change makes local times missing or doubled.
TEST(TimeConvert, DosTimesAgreeWithMktimeInZonesWithDaylightSaving) {
    const char* saved = std::getenv("TZ");
    const std::string restore = saved ? saved : "";
    for (const char* zone : {"UTC", "EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3",
                             "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
        setenv("TZ", zone, 1);
        tzset();
        int compared = 0;
        for (unsigned year = 0; year < 128; year += 9)
            for (unsigned month = 0; month < 16; ++month)
                for (unsigned day = 0; day < 32; day += 3)
                    for (const unsigned time :
                         {0u, (2u << 11) | (30u << 5), (12u << 11) | (59u << 5) | 29u,
                          (23u << 11) | (63u << 5) | 31u, (31u << 11) | (7u << 5)}) {
                        const auto date =
                            static_cast<std::uint16_t>((year << 9) | (month << 5) | day);
                        std::tm t = dosToCalendar(date, static_cast<std::uint16_t>(time));
                        const std::time_t expected = mktime(&t);
                        std::tm before{}, after{};
                        const std::time_t early = expected - 4 * 3600, late = expected + 4 * 3600;
                        localtime_r(&early, &before);
                        localtime_r(&late, &after);
                        if (before.tm_gmtoff != after.tm_gmtoff) continue;
                        ++compared;
                        ASSERT_EQ(dosToUnix(date, static_cast<std::uint16_t>(time)), expected)
                            << zone << " date " << date << " time " << time;
                    }
        EXPECT_GT(compared, 5000) << zone;
    }
    if (saved)
        setenv("TZ", restore.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(DisplayFormat, FormatsTextsLongerThanItsStackBuffer) {
    const std::string word(300, 'w');
    EXPECT_EQ(formatText("<%s> %d", word.c_str(), 7), "<" + word + "> 7");
    EXPECT_EQ(formatText("%s", ""), "");
}
