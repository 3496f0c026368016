#include "logging/log_line.h"

#include <gtest/gtest.h>

#include <string>

#include "base/platform.h"
#include "logging/log_target.h"
#include "test_util.h"

namespace {

const std::wstring kSeparator = L" | ";

std::wstring threadId() {
    return std::to_wstring(zoka::os::currentThreadId());
}

TEST(LogLineTest, TimestampIsMonthDayYearTimeAndMilliseconds) {
    testutil::UtcTimeZone utc;
    const struct {
        int64_t timeMs;
        const wchar_t* text;
        int64_t seconds;
    } cases[] = {
        {1000042, L"01/01/70 00:16:40:042", 1000},
        {1796652309042, L"12/07/26 14:05:09:042", 1796652309},
        {946684799999, L"12/31/99 23:59:59:999", 946684799},
        {946684800000, L"01/01/00 00:00:00:000", 946684800},
    };
    for (const auto& c : cases) {
        const zoka::Timestamp stamp = zoka::formatTimestamp(c.timeMs);
        EXPECT_EQ(c.text, stamp.text) << c.timeMs;
        EXPECT_EQ(c.seconds, stamp.seconds) << c.timeMs;
    }
    // 0 is now.
    const int64_t before = zoka::logfile::nowMs() / 1000;
    const zoka::Timestamp now = zoka::formatTimestamp(0);
    EXPECT_GE(now.seconds, before);
    EXPECT_LE(now.seconds, before + 2);
    EXPECT_EQ(21u, now.text.size());
}

TEST(LogLineTest, LineLayout) {
    testutil::UtcTimeZone utc;
    const zoka::FormattedLine line =
        zoka::formatLine(kSeparator, 1796652309042, zoka::LEVEL_INFO, L"", L"Zeph", L"Utilities",
                         L"Velkaro", L"", L"", L"Launching the Velkaro...");
    EXPECT_EQ(L"12/07/26 14:05:09:042 | [INFO] |  | Zeph | Utilities | Velkaro |  |  | " +
                  threadId() + L" | Launching the Velkaro...",
              line.text);
    EXPECT_EQ(1796652309, line.seconds);

    // Null columns and tags are empty columns; any other level value is ALL; the message is
    // not escaped.
    const zoka::FormattedLine nulls = zoka::formatLine(kSeparator, 1000042, 0, nullptr, nullptr,
                                                       nullptr, nullptr, nullptr, nullptr, L"a\nb");
    const zoka::FormattedLine empties =
        zoka::formatLine(kSeparator, 1000042, 0, L"", L"", L"", L"", L"", L"", L"a\nb");
    EXPECT_EQ(empties.text, nulls.text);
    EXPECT_EQ(L"01/01/70 00:16:40:042 | [ALL] |  |  |  |  |  |  | " + threadId() + L" | a\nb",
              nulls.text);
}

TEST(LogLineTest, TokenRule) {
    const std::wstring redacted = L"Found access/device token. Log skipped.";
    const struct {
        const wchar_t* message;
        bool replaced;
    } cases[] = {
        {L"token eyJhbGciOiJIUzI1NiJ9.eyJzdWIiOiIxIn0.sig", true},
        {L"Bearer eyJ.eyJ", true},
        {L"xeyJabc and later .eyJ", true},
        {L"only .eyJ after a full stop", false},  // the search for ".eyJ" starts at "eyJ"
        {L"eyJ twice eyJ but no dot before", false},
        {L"EYJ.EYJ upper case", false},
        {L"eyj.eyj lower case", false},
        {L"nothing here", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        std::wstring message = c.message;
        zoka::LogLevel level = zoka::LEVEL_DEBUG;
        zoka::applyTokenRule(message, level);
        EXPECT_EQ(c.replaced ? redacted : std::wstring(c.message), message) << c.message;
        EXPECT_EQ(c.replaced ? zoka::LEVEL_WARN : zoka::LEVEL_DEBUG, level) << c.message;
    }
    // The columns are not searched, and the level column shows WARN.
    const zoka::FormattedLine line =
        zoka::formatLine(kSeparator, 1000042, zoka::LEVEL_ERROR, L"eyJ.eyJ", L"", L"", L"",
                         L"eyJa.eyJb", L"", L"x eyJ1.eyJ2");
    EXPECT_NE(std::wstring::npos, line.text.find(L" | [WARN] | eyJ.eyJ | "));
    EXPECT_NE(std::wstring::npos, line.text.find(L" | " + redacted));
    const zoka::FormattedLine clean =
        zoka::formatLine(kSeparator, 1000042, zoka::LEVEL_ERROR, L"eyJ.eyJ", L"", L"", L"",
                         L"eyJ.eyJ", L"", L"fine");
    EXPECT_NE(std::wstring::npos, clean.text.find(L"[ERROR]"));
}

TEST(LogLineTest, StampedNames) {
    zoka::logfile::LocalTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 7;
    t.hour = 4;
    t.minute = 5;
    t.second = 9;
    const struct {
        const wchar_t* path;
        const wchar_t* stamped;
    } cases[] = {
        {L"C:\\Temp\\Velkaro.log", L"C:\\Temp\\Velkaro 12-7-2026 04-05-09.log"},
        {L"/tmp/Plimm.log", L"/tmp/Plimm 12-7-2026 04-05-09.log"},
        {L"/tmp/noext", L"/tmp/noext 12-7-2026 04-05-09"},
        {L"/tmp/dir.d/noext", L"/tmp/dir.d/noext 12-7-2026 04-05-09"},
        {L"/tmp/a.b.log", L"/tmp/a.b 12-7-2026 04-05-09.log"},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.stamped, zoka::logfile::stampedName(c.path, t));
}

}  // namespace
