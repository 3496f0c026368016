#include <gtest/gtest.h>

#include <random>

#include "base/unicode.h"
#include "sysutil/process_launcher.h"
#include "sysutil/sysutil_helpers.h"

namespace {

using Words = std::vector<std::wstring>;

std::string show(const std::wstring& text) {
    return "[" + zoka::toUtf8(text) + "]";
}

std::string show(const Words& words) {
    std::string out;
    for (const auto& w : words)
        out += show(w) + " ";
    return out;
}

TEST(BuildCommandLine, RemovalFormsByteForByte) {
    const std::wstring setup = L"C:\\Program Files\\Common Files\\Quenda\\Setup \u00fc.exe";
    const std::wstring file = L"C:\\Temp\\{6B29FC40-CA47-1067-B31D-00DD010662DA}\\{A}";
    struct Case {
        const char* name;
        Words arguments;
        bool quote;
        std::wstring expected;
    } cases[] = {
        {"QX, quoted program",
         {L"--uninstall=1", L"--driverXML=\"" + file + L"\""},
         true,
         L"\"" + setup + L"\" --uninstall=1 --driverXML=\"" + file + L"\" "},
        {"VELT, program as application name and quoted first argument",
         {L"\"" + setup + L"\"", L"--deploymentFile=\"" + file + L"\""},
         false,
         L"\"" + setup + L"\" --deploymentFile=\"" + file + L"\" "},
        {"no arguments, unquoted: empty", {}, false, L""},
        {"no arguments, quoted: program and one space", {}, true, L"\"" + setup + L"\" "},
        {"arguments are appended unchanged", {L"a \"b\"", L"", L"\\\\"}, false, L"a \"b\"  \\\\ "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(korr::buildCommandLine(setup, c.arguments, c.quote), c.expected) << c.name;
    }
}

struct SplitCase {
    const wchar_t* line;
    Words words;
};

// Expected words by the Windows rules; under Wine each is also checked against the system.
const SplitCase kSplitCases[] = {
    {L"\"C:\\Program Files\\Setup.exe\" --uninstall=1 --driverXML=\"C:\\T\\{G}\" ",
     {L"C:\\Program Files\\Setup.exe", L"--uninstall=1", L"--driverXML=C:\\T\\{G}"}},
    {L"p a b  c", {L"p", L"a", L"b", L"c"}},
    {L"p\ta\t \tb", {L"p", L"a", L"b"}},
    {L"p a b   ", {L"p", L"a", L"b"}},
    {L"p \"a b\" c", {L"p", L"a b", L"c"}},
    {L"p a\"b c\"d e", {L"p", L"ab cd", L"e"}},
    {L"p \"\" x", {L"p", L"", L"x"}},
    {L"p \"a b", {L"p", L"a b"}},
    // Backslashes are literal unless a quote follows them.
    {L"p a\\\\b c\\", {L"p", L"a\\\\b", L"c\\"}},
    {L"p a\\\"b", {L"p", L"a\"b"}},
    {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},
    {L"p a\\\\\\\"b", {L"p", L"a\\\"b"}},
    {L"p \"C:\\Dir\\\\\" x", {L"p", L"C:\\Dir\\", L"x"}},
    {L"p \"C:\\Dir\\\" x", {L"p", L"C:\\Dir\" x"}},
    // Runs of quotes.
    {L"p \"a\"\"b\"", {L"p", L"a\"b"}},
    {L"p a\"\" b", {L"p", L"a", L"b"}},
    {L"p \"\"\"\"", {L"p", L"\""}},
    {L"p \\\"\"", {L"p", L"\""}},
    {L"p a\"b\"\" c d\"", {L"p", L"ab\"", L"c", L"d"}},
    // Word 0: a quoted program ends at the next quote, an unquoted one at a blank; no escapes.
    {L"\"a b\"c d", {L"a b", L"c", L"d"}},
    {L"a\\\"b c", {L"a\\\"b", L"c"}},
    {L"\"a\\\"b c", {L"a\\", L"b", L"c"}},
    {L"\"prog", {L"prog"}},
    {L" a b", {L"", L"a", L"b"}},
    {L"prog", {L"prog"}},
    {L"\"C:\\P\u00fc\\S \u00df.exe\" --x=\"\u00fc \u00e9\" \u65e5",
     {L"C:\\P\u00fc\\S \u00df.exe", L"--x=\u00fc \u00e9", L"\u65e5"}},
    // Only space and tab separate words.
    {L"p a\nb", {L"p", L"a\nb"}},
};

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    for (const auto& c : kSplitCases) {
        EXPECT_EQ(korr::splitCommandLine(c.line), c.words) << show(c.line);
    }
    EXPECT_TRUE(korr::splitCommandLine(L"").empty());
}

TEST(SplitCommandLine, MatchesCommandLineToArgvW) {
    Words probe;
    if (!sysutiltest::systemSplitCommandLine(L"p", probe)) {
        GTEST_SKIP() << "CommandLineToArgvW exists on Windows only";
    }
    for (const auto& c : kSplitCases) {
        Words system;
        ASSERT_TRUE(sysutiltest::systemSplitCommandLine(c.line, system));
        EXPECT_EQ(system, c.words) << "the table disagrees with the system on " << show(c.line);
        EXPECT_EQ(korr::splitCommandLine(c.line), system) << show(c.line);
    }
    // Random lines over the characters that matter, from a fixed seed.
    std::mt19937 random(20240611);
    const wchar_t alphabet[] = {L'a', L'b', L' ', L'\t', L'\\', L'"', L'"', L'\\'};
    for (int i = 0; i < 3000; ++i) {
        std::wstring line;
        const int length = 1 + static_cast<int>(random() % 14);
        for (int k = 0; k < length; ++k)
            line += alphabet[random() % 8];
        Words system;
        ASSERT_TRUE(sysutiltest::systemSplitCommandLine(line, system));
        ASSERT_EQ(korr::splitCommandLine(line), system) << show(line) << " -> " << show(system);
    }
}

}  // namespace
