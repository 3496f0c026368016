// Real processes writing one log at once, and the shared logger in a process of its own (it
// is created once per process, in the temporary folder of that moment).

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/unicode.h"
#include "logging/log_target.h"
#include "logging/registry.h"
#include "logging/shared_logger.h"
#include "test_util.h"

namespace {

const std::string kMark = "\xFF\xFE";
constexpr int kWriters = 4;
constexpr int kLinesPerWriter = 500;
// Long enough that an unserialised write would show up as a torn or interleaved line.
const std::wstring kPayload(300, L'\u00e9');

// args: folder, file name, writer number.
int logWriter(const std::vector<std::wstring>& args) {
    if (args.size() != 3)
        return 2;
    zoka::LogTargetDefault target(L"mp-writer");
    if (!target.setFile(args[1], args[0]))
        return 3;
    if (!zoka::LogTargetRegistry::instance().addTarget(&target))
        return 4;
    zoka::Logger logger;
    logger.targetKey = L"mp-writer";
    for (int i = 0; i < kLinesPerWriter; ++i) {
        logger.info(L"writer %s line %d %s", args[2].c_str(), i, kPayload.c_str());
    }
    return 0;
}
[[maybe_unused]] const bool logWriterRegistered = testutil::registerChild("log-writer", logWriter);

TEST(MultiProcessTest, FourWritersLoseAndTearNoLine) {
    testutil::ScratchDir dir(L"mp");
    const std::wstring name = L"logtest-writers.log";
    std::vector<std::vector<std::wstring>> commands;
    for (int w = 0; w < kWriters; ++w) {
        commands.push_back({L"log-writer", dir.path(), name, std::to_wstring(w)});
    }
    const std::vector<int> codes = testutil::runSelfParallel(commands);
    for (int w = 0; w < kWriters; ++w)
        ASSERT_EQ(0, codes[w]) << "writer " << w;

    const std::string bytes = testutil::readBytes(dir.file(name));
    ASSERT_EQ(0u, bytes.rfind(kMark, 0));
    std::string rest;
    const std::vector<std::wstring> lines =
        testutil::utf16leLines(bytes.substr(kMark.size()), &rest);
    EXPECT_TRUE(rest.empty()) << "bytes after the last line end";
    ASSERT_EQ(static_cast<size_t>(kWriters * kLinesPerWriter), lines.size());
    std::set<std::pair<int, int>> seen;
    for (const std::wstring& line : lines) {
        const size_t at = line.find(L" | writer ");
        ASSERT_NE(std::wstring::npos, at) << zoka::toUtf8(line.substr(0, 80));
        EXPECT_EQ(std::wstring::npos, line.find(L'\uFEFF'));
        int w = -1;
        int i = -1;
        const std::wstring tail = line.substr(at + 10);
        const size_t space = tail.find(L" line ");
        ASSERT_NE(std::wstring::npos, space);
        w = std::stoi(tail.substr(0, space));
        const size_t number = space + 6;
        const size_t afterNumber = tail.find(L' ', number);
        ASSERT_NE(std::wstring::npos, afterNumber);
        i = std::stoi(tail.substr(number, afterNumber - number));
        EXPECT_EQ(kPayload, tail.substr(afterNumber + 1)) << "writer " << w << " line " << i;
        EXPECT_TRUE(seen.insert({w, i}).second) << "duplicate " << w << "/" << i;
    }
    EXPECT_EQ(static_cast<size_t>(kWriters * kLinesPerWriter), seen.size());
    // Nothing was moved aside: the writers never took the new file for a foreign one.
    EXPECT_EQ(1u, testutil::listFolder(dir.path()).size());
}

// args: "create" or "messages".
int sharedLoggerChild(const std::vector<std::wstring>& args) {
    Logger& logger = getSharedLogger();
    if (&getSharedLogger() != &logger)
        return 2;
    if (logger.targetKey != L"KIV" || logger.context2 != L"KIV" || !logger.context1.empty() ||
        !logger.context3.empty() || !logger.context4.empty()) {
        return 3;
    }
    // Switches off: nothing is written.
    logDebug(logger, L"KorrUtilities", L"off %d", 1);
    logInfo(logger, L"KorrUtilities", L"off %d", 2);
    logError(logger, L"KorrUtilities", L"off %d", 3);
    if (!args.empty() && args[0] == L"messages") {
        logger.infoEnabled = true;
        logger.errorEnabled = true;
        logger.debugEnabled = true;  // still below the target's INFO threshold
        const std::wstring longText(1500, L'm');
        logInfo(logger, L"KorrUtilities", L"%s", longText.c_str());
        logDebug(logger, L"KorrUtilities", L"debug");
        logError(logger, L"KorrUtilities", L"failed with %d", 5);
    }
    return 0;
}
[[maybe_unused]] const bool sharedRegistered =
    testutil::registerChild("shared-logger", sharedLoggerChild);

TEST(SharedLoggerTest, FirstUseCreatesTheSharedLogAndWritesNothing) {
    testutil::ScratchDir temp(L"shared");
    testutil::TempFolderOverride override(temp.path());
    ASSERT_EQ(0, testutil::runSelf({L"shared-logger", L"create"}));
    EXPECT_EQ(kMark, testutil::readBytes(temp.file(L"Plimm.log")));
    // A second process appends to the same file without a second mark.
    ASSERT_EQ(0, testutil::runSelf({L"shared-logger", L"create"}));
    EXPECT_EQ(kMark, testutil::readBytes(temp.file(L"Plimm.log")));
}

TEST(SharedLoggerTest, MessagesAreCutAndCarryTheSharedColumns) {
    testutil::ScratchDir temp(L"shared");
    testutil::TempFolderOverride override(temp.path());
    ASSERT_EQ(0, testutil::runSelf({L"shared-logger", L"messages"}));
    const std::string bytes = testutil::readBytes(temp.file(L"Plimm.log"));
    ASSERT_EQ(0u, bytes.rfind(kMark, 0));
    std::string rest;
    const std::vector<std::wstring> lines =
        testutil::utf16leLines(bytes.substr(kMark.size()), &rest);
    ASSERT_EQ(2u, lines.size());
    // time | [LEVEL] | context1 | "KIV" | context3 | module tag | tag1 | tag2 | thread | message
    const std::wstring infoHead = L" | [INFO] |  | KIV |  | KorrUtilities |  |  | ";
    ASSERT_NE(std::wstring::npos, lines[0].find(infoHead));
    const std::wstring message = lines[0].substr(lines[0].rfind(L" | ") + 3);
    EXPECT_EQ(std::wstring(1022, L'm'), message);
    EXPECT_NE(std::wstring::npos,
              lines[1].find(L" | [ERROR] |  | KIV |  | KorrUtilities |  |  | "));
    EXPECT_EQ(L" | failed with 5", lines[1].substr(lines[1].rfind(L" | ")));
}

}  // namespace
