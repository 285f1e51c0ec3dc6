// The command line's own text rules, tested directly: names escaped so every listing row reads
// back to exactly one name, and the progress bar's amount and time-left texts.
#include <gtest/gtest.h>

#include "cli/CliSinks.h"
#include "cli/CliText.h"

namespace vindaru::cli {
namespace {

TEST(CliText, EveryControlCharacterAndTheBackslashAreEscapedAndReadBack) {
    struct Case {
        std::string name, printed;
    };
    const std::vector<Case> cases = {
        {"plain name.txt", "plain name.txt"},
        {"new\nline.txt", "new\\nline.txt"},
        {"new\\nline.txt", "new\\\\nline.txt"}, // a name that spells the escape itself
        {"tab\there", "tab\\there"},
        {"cr\r bel\a esc\x1b del\x7f nul", std::string("cr\\r bel\\x07 esc\\x1B del\\x7F nul")},
        {std::string("zero\0byte", 9), "zero\\x00byte"},
        {"c1 \xC2\x85 next line", "c1 \\u0085 next line"},
        {"not utf-8 \xFF\xC3", "not utf-8 \\xFF\\xC3"},
        {"Ærøskøbing 😀", "Ærøskøbing 😀"},
        {"\xED\xA0\x80 surrogate", "\\xED\\xA0\\x80 surrogate"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escapeName(c.name), c.printed);
        EXPECT_EQ(unescapeName(c.printed), c.name) << c.printed;
        for (char ch : escapeName(c.name)) {
            const auto u = static_cast<unsigned char>(ch);
            EXPECT_TRUE(u >= 0x20 && u != 0x7F) << c.printed;
        }
    }
    EXPECT_NE(escapeName("new\nline.txt"), escapeName("new\\nline.txt"));
    EXPECT_EQ(unescapeName("a\\qb\\"), "a\\qb\\") << "an unknown escape is kept as typed";
    EXPECT_EQ(escapeControls("ROOT\\dir\\bell\a"), "ROOT\\dir\\bell\\x07");
    EXPECT_EQ(validUtf8("ok \xFF"), "ok \xEF\xBF\xBD");
}

TEST(CliText, IsoTimesInAndOutOfRange) {
    EXPECT_EQ(isoTime(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(isoTime(1555394948), "2019-04-16T06:09:08Z");
    EXPECT_EQ(isoTime(-1), "1969-12-31T23:59:59Z");
    EXPECT_EQ(isoTime(253402300800), std::nullopt) << "year 10000";
    EXPECT_EQ(isoTime(INT64_MIN), std::nullopt);
}

TEST(CliProgress, AmountAndTimeLeft) {
    using std::chrono::milliseconds;
    const auto bytes = ProgressUnit::bytes(512);
    EXPECT_EQ(CliProgressSink::amountText(0, 4096, 1024, bytes, milliseconds(500)), "512.00 KB / 2.00 MB")
        << "no estimate before a second has passed";
    EXPECT_EQ(CliProgressSink::amountText(0, 4096, 1024, bytes, milliseconds(10000)),
              "512.00 KB / 2.00 MB  ETA 0:30");
    EXPECT_EQ(CliProgressSink::amountText(0, 4096, 4096, bytes, milliseconds(10000)), "2.00 MB / 2.00 MB");
    EXPECT_EQ(CliProgressSink::amountText(0, 200, 1, ProgressUnit::items("files"), milliseconds(2 * 3600 * 1000)),
              "1 / 200 files  ETA 398:00:00");
    EXPECT_EQ(CliProgressSink::amountText(0, 1000, 500, ProgressUnit::wholeRange(1 << 30), milliseconds(0)),
              "512.00 MB / 1.00 GB");
    EXPECT_EQ(CliProgressSink::amountText(10, 1234577, 9999999, {}, milliseconds(0)), "1,234,567 / 1,234,567")
        << "a position past the end counts as the end";
    EXPECT_EQ(CliProgressSink::amountText(5, 5, 5, bytes, milliseconds(0)), "") << "no range yet";
    EXPECT_EQ(CliProgressSink::amountText(0, INT64_MAX, 1, ProgressUnit::bytes(1u << 20), milliseconds(0)),
              "1 / 9,223,372,036,854,775,807") << "too many bytes to count is shown as steps";
}

} // namespace
} // namespace vindaru::cli
