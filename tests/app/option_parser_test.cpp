#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/option_parser.h"

namespace velkaro {
namespace {

struct Scan {
    std::vector<std::wstring> results;    // "id|error|text|arg" per result, arg "-" when absent
    std::vector<std::wstring> leftovers;  // in the order the parser leaves them
    std::vector<std::wstring> words;      // the whole array afterwards, edits included
};

// Drives the parser the way the program does: stop at the first error.
Scan scan(const std::vector<std::wstring>& input) {
    std::vector<std::wstring> storage = {L"Velkaro"};
    storage.insert(storage.end(), input.begin(), input.end());
    std::vector<wchar_t*> argv;
    for (std::wstring& word : storage)
        argv.push_back(word.data());
    OptionParser parser;
    EXPECT_TRUE(parser.init(static_cast<int>(argv.size()), argv.data()));
    Scan result;
    while (parser.next()) {
        std::wstring entry = std::to_wstring(parser.optionId()) + L"|" +
                             std::to_wstring(parser.lastError()) + L"|" +
                             (parser.optionText() ? parser.optionText() : L"(null)") + L"|" +
                             (parser.optionArg() ? parser.optionArg() : L"-");
        result.results.push_back(entry);
        if (parser.lastError() != PARSE_OK) {
            parser.stop();
            EXPECT_FALSE(parser.next()) << "next after stop";
            break;
        }
    }
    for (int i = 0; i < parser.leftoverCount(); ++i)
        result.leftovers.push_back(parser.leftovers()[i]);
    for (wchar_t* word : argv)
        result.words.push_back(word);
    EXPECT_EQ(result.words.front(), L"Velkaro") << "word 0 is never moved";
    return result;
}

struct Case {
    const char* name;
    std::vector<std::wstring> input;
    std::vector<std::wstring> results;
    std::vector<std::wstring> leftovers;
};

TEST(OptionParserTest, TableOfCommandLines) {
    const Case cases[] = {
        {"nothing", {}, {}, {}},
        {"help forms",
         {L"-?", L"-h", L"-help", L"--help"},
         {L"0|0|-?|-", L"0|0|-h|-", L"0|0|-help|-", L"0|0|--help|-"},
         {}},
        {"slash forms", {L"/?", L"/h", L"/help"}, {L"0|0|-?|-", L"0|0|-h|-", L"0|0|-help|-"}, {}},
        {"slash-hyphen and lone slash are words", {L"/-help", L"/"}, {}, {L"/-help", L"/"}},
        {"case matters (-HELP)", {L"-HELP"}, {L"-1|-1|-HELP|-"}, {}},
        {"case matters (--Help)", {L"--Help", L"x"}, {L"-1|-1|--Help|-"}, {L"x"}},
        {"case matters (config)",
         {L"--uninstallconfigpath=x"},
         {L"-1|-1|--uninstallconfigpath|x"},
         {}},
        {"no abbreviation", {L"--uninstall"}, {L"-1|-1|--uninstall|-"}, {}},
        {"no abbreviation of -help", {L"-hel"}, {L"-1|-1|-hel|-"}, {}},
        {"help with argument", {L"--help=1"}, {L"0|-3|--help|1"}, {}},
        {"config alone", {L"--uninstallConfigPath"}, {L"2|-5|--uninstallConfigPath|-"}, {}},
        {"config with separate path",
         {L"--uninstallConfigPath", L"C:\\a.xml"},
         {L"2|-5|--uninstallConfigPath|-"},
         {L"C:\\a.xml"}},
        {"config empty argument", {L"--uninstallConfigPath="}, {L"2|0|--uninstallConfigPath|"}, {}},
        {"first equals splits",
         {L"--uninstallConfigPath=C:\\a=b.xml"},
         {L"2|0|--uninstallConfigPath|C:\\a=b.xml"},
         {}},
        {"slash config is unrecognised",
         {L"/uninstallConfigPath=x"},
         {L"-1|-1|-uninstallConfigPath|x"},
         {}},
        {"lone hyphen", {L"-"}, {L"-1|-1|-|-"}, {}},
        {"config twice",
         {L"--uninstallConfigPath=a", L"--uninstallConfigPath=b"},
         {L"2|0|--uninstallConfigPath|a", L"2|0|--uninstallConfigPath|b"},
         {}},
        {"words anywhere become leftovers in order",
         {L"a", L"--uninstallConfigPath=c", L"b", L"-h", L"c=d", L"e"},
         {L"2|0|--uninstallConfigPath|c", L"0|0|-h|-"},
         {L"a", L"b", L"c=d", L"e"}},
        {"error stops the scan, rest are leftovers",
         {L"a", L"-x", L"-h", L"b"},
         {L"-1|-1|-x|-"},
         {L"a", L"-h", L"b"}},
        {"empty word is a leftover", {L"", L"-?"}, {L"0|0|-?|-"}, {L""}},
        {"non-ascii word",
         {L"\u00e9t\u00e9", L"--uninstallConfigPath=\u4e2d.xml"},
         {L"2|0|--uninstallConfigPath|\u4e2d.xml"},
         {L"\u00e9t\u00e9"}},
        {"unattended options",
         {L"--setupTimeout=60", L"--resultFile=C:\\r.json", L"--setupTimeout"},
         {L"3|0|--setupTimeout|60", L"4|0|--resultFile|C:\\r.json", L"3|-5|--setupTimeout|-"},
         {}},
        {"unattended options are exact", {L"--resultfile=x"}, {L"-1|-1|--resultfile|x"}, {}},
        {"strict", {L"--strict", L"--strict=1"}, {L"11|0|--strict|-", L"11|-3|--strict|1"}, {}},
        {"process tree", {L"--waitForProcessTree"}, {L"12|0|--waitForProcessTree|-"}, {}},
        {"process tree takes no argument",
         {L"--waitForProcessTree=1"},
         {L"12|-3|--waitForProcessTree|1"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scan result = scan(c.input);
        EXPECT_EQ(result.results, c.results);
        EXPECT_EQ(result.leftovers, c.leftovers);
    }
}

TEST(OptionParserTest, OptionsMoveToTheFrontAndLeftoversBehind) {
    Scan result = scan({L"a", L"-h", L"b", L"/?", L"c"});
    EXPECT_EQ(result.words,
              (std::vector<std::wstring>{L"Velkaro", L"-h", L"-?", L"a", L"b", L"c"}));
}

TEST(OptionParserTest, WordsAreEditedInPlaceOnlyWhenOptions) {
    // An unrecognised word keeps its edits (slash replaced, cut at "="); plain words do not.
    Scan result = scan({L"x=y", L"/bad=1"});
    EXPECT_EQ(result.words, (std::vector<std::wstring>{L"Velkaro", L"-bad", L"x=y"}));
}

TEST(OptionParserTest, ManyWordsBeyondTheOwnRoom) {
    // 120 words alternate between leftovers and options, beyond the parser's own room.
    std::vector<std::wstring> input;
    std::vector<std::wstring> expectedLeftovers;
    for (int i = 0; i < 120; ++i) {
        if (i % 3 == 0) {
            input.push_back(L"--uninstallConfigPath=" + std::to_wstring(i));
        } else {
            input.push_back(L"w" + std::to_wstring(i));
            expectedLeftovers.push_back(input.back());
        }
    }
    Scan result = scan(input);
    ASSERT_EQ(result.results.size(), 40u);
    EXPECT_EQ(result.results.back(), L"2|0|--uninstallConfigPath|117");
    EXPECT_EQ(result.leftovers, expectedLeftovers);
}

TEST(OptionParserTest, StopMakesUnreadWordsLeftovers) {
    std::vector<std::wstring> storage = {L"Velkaro", L"p", L"-h", L"q", L"-?", L"r"};
    std::vector<wchar_t*> argv;
    for (std::wstring& word : storage)
        argv.push_back(word.data());
    OptionParser parser;
    parser.init(static_cast<int>(argv.size()), argv.data());
    ASSERT_TRUE(parser.next());
    EXPECT_EQ(parser.optionId(), OPTION_HELP);
    parser.stop();
    EXPECT_FALSE(parser.next());
    EXPECT_EQ(parser.optionId(), -1) << "the result is cleared at the end";
    std::vector<std::wstring> left(parser.leftovers(), parser.leftovers() + parser.leftoverCount());
    EXPECT_EQ(left, (std::vector<std::wstring>{L"p", L"q", L"-?", L"r"}));
    parser.stop();  // nothing left to read: no change
    EXPECT_EQ(parser.leftoverCount(), 4);
}

TEST(OptionParserTest, InitStartsOver) {
    std::vector<std::wstring> storage = {L"Velkaro", L"-h"};
    std::vector<wchar_t*> argv;
    for (std::wstring& word : storage)
        argv.push_back(word.data());
    OptionParser parser;
    parser.init(static_cast<int>(argv.size()), argv.data());
    while (parser.next()) {
    }
    parser.init(static_cast<int>(argv.size()), argv.data());
    ASSERT_TRUE(parser.next());
    EXPECT_EQ(parser.optionText(), std::wstring(L"-h"));
    // No words at all, not even the program.
    parser.init(0, nullptr);
    EXPECT_FALSE(parser.next());
    EXPECT_EQ(parser.leftoverCount(), 0);
}

TEST(OptionParserTest, SetupTimeoutValues) {
    const struct {
        const wchar_t* text;
        bool ok;
        uint32_t seconds;
    } cases[] = {
        {L"1", true, 1},     {L"86400", true, 86400}, {L"0060", true, 60},
        {L"0", false, 0},    {L"86401", false, 0},    {L"", false, 0},
        {L"-5", false, 0},   {L"+5", false, 0},       {L"5s", false, 0},
        {L" 5", false, 0},   {L"1.5", false, 0},      {L"99999999999999999999", false, 0},
        {nullptr, false, 0},
    };
    for (const auto& c : cases) {
        uint32_t seconds = 7;
        EXPECT_EQ(parseSetupTimeout(c.text, seconds), c.ok) << (c.text ? c.text : L"(null)");
        EXPECT_EQ(seconds, c.ok ? c.seconds : 7u) << "written only on success";
    }
}

TEST(OptionParserTest, ErrorTexts) {
    const struct {
        int code;
        const wchar_t* text;
    } cases[] = {
        {-1, L"Unrecognized option"},
        {-2, L"Option matched multiple strings"},
        {-3, L"Option does not accept argument"},
        {-4, L"Invalid argument format"},
        {-5, L"Required argument is missing"},
        {-6, L"Invalid argument data"},
        {-7, L"Unknown error"},
        {1, L"Unknown error"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(parseErrorText(c.code), c.text) << c.code;
}

}  // namespace
}  // namespace velkaro
