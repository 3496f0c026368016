#include <gtest/gtest.h>

#include <cwctype>

#include "base/platform.h"
#include "base/unicode.h"
#include "logging/logger.h"
#include "sysutil/sysutil_helpers.h"
#include "sysutil/temp_folder.h"
#include "sysutil/temp_folder_platform.h"
#include "test_util.h"

namespace {

bool isGuidText(const std::wstring& text) {
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}')
        return false;
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash != (text[i] == L'-'))
            return false;
        if (!dash && !std::iswxdigit(text[i]))
            return false;
    }
    return true;
}

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(scratch_.path().empty()); }
    std::wstring temp() const { return scratch_.path() + zoka::os::pathSeparator(); }

    testutil::ScratchDir scratch_{L"temp"};
    testutil::TempFolderOverride override_{scratch_.path()};
};

TEST_F(TempFolder, RunFoldersAndFilePathsAreFreshGuidNamesDirectlyInside) {
    std::wstring first, second;
    ASSERT_TRUE(korr::_utilCreateAndGetTempFolderPath(first));
    ASSERT_TRUE(korr::_utilCreateAndGetTempFolderPath(second));
    EXPECT_NE(first, second);
    for (const auto& folder : {first, second}) {
        SCOPED_TRACE(zoka::toUtf8(folder));
        // The temporary folder already ends with its separator: the GUID follows directly.
        ASSERT_EQ(folder.compare(0, temp().size(), temp()), 0);
        EXPECT_TRUE(isGuidText(folder.substr(temp().size())));
        EXPECT_TRUE(zoka::os::isDirectory(folder));
        if (testutil::isPosix()) {
            EXPECT_EQ(sysutiltest::modeOf(folder), 0700u);
        }
    }

    std::wstring a, b;
    ASSERT_TRUE(korr::_utilGetTempFilePath(first, a));
    ASSERT_TRUE(korr::_utilGetTempFilePath(first, b));
    EXPECT_NE(a, b);
    for (const auto& file : {a, b}) {
        SCOPED_TRACE(zoka::toUtf8(file));
        const std::wstring prefix = first + zoka::os::pathSeparator();
        ASSERT_EQ(file.compare(0, prefix.size(), prefix), 0);
        EXPECT_TRUE(isGuidText(file.substr(prefix.size())));  // no extension, nothing nested
        EXPECT_FALSE(zoka::os::pathExists(file));             // named, not created
    }

    // A folder given with its separator gets no second one.
    std::wstring c;
    ASSERT_TRUE(korr::_utilGetTempFilePath(first + zoka::os::pathSeparator(), c));
    EXPECT_TRUE(isGuidText(c.substr(first.size() + 1))) << zoka::toUtf8(c);
}

TEST_F(TempFolder, FilePathLogsAtDebug) {
    std::wstring folder, file;
    ASSERT_TRUE(korr::_utilCreateAndGetTempFolderPath(folder));
    sysutiltest::SharedLogCapture log;
    ASSERT_TRUE(korr::_utilGetTempFilePath(folder, file));
    EXPECT_EQ(log.at(zoka::LEVEL_DEBUG),
              std::vector<std::wstring>{L"File being created is :" + file + L"\n"});
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(TempFolder, VanishedFolderIsRecreated) {
    std::wstring folder, file;
    ASSERT_TRUE(korr::_utilCreateAndGetTempFolderPath(folder));
    ASSERT_TRUE(testutil::removeTree(folder));
    ASSERT_FALSE(zoka::os::pathExists(folder));
    ASSERT_TRUE(korr::_utilGetTempFilePath(folder, file));
    EXPECT_TRUE(zoka::os::isDirectory(folder));
    if (testutil::isPosix()) {
        EXPECT_EQ(sysutiltest::modeOf(folder), 0700u);
    }
}

TEST_F(TempFolder, FileInTheWayFailsWithoutTouchingTheOutputs) {
    const std::wstring blocker = scratch_.file(L"blocker");
    ASSERT_TRUE(testutil::writeBytes(blocker, "x"));
    std::wstring file = L"unchanged";
    EXPECT_FALSE(korr::_utilGetTempFilePath(blocker, file));
    EXPECT_EQ(file, L"unchanged");

    // The temporary folder itself is a file: the run folder cannot be created below it.
    testutil::TempFolderOverride broken(blocker);
    sysutiltest::SharedLogCapture log;
    std::wstring folder = L"unchanged";
    EXPECT_FALSE(korr::_utilCreateAndGetTempFolderPath(folder));
    EXPECT_EQ(folder, L"unchanged");
    const auto infos = log.at(zoka::LEVEL_INFO);
    ASSERT_EQ(infos.size(), 1u);
    const std::wstring prefix = L"Unable to create directoryPath at desired location:" + blocker +
                                zoka::os::pathSeparator();
    ASSERT_EQ(infos[0].compare(0, prefix.size(), prefix), 0) << zoka::toUtf8(infos[0]);
    EXPECT_TRUE(isGuidText(infos[0].substr(prefix.size())));
}

// The run folder's platform half: on POSIX nothing planted under its name is ever used.
TEST_F(TempFolder, RunFolderCreationRefusesWhatIsNotOurs) {
    const std::wstring fresh = scratch_.file(L"a") + zoka::os::pathSeparator() + L"b";
    EXPECT_TRUE(korr::detail::createRunFolder(fresh));  // with its missing parent
    EXPECT_TRUE(zoka::os::isDirectory(fresh));
    EXPECT_TRUE(korr::detail::createRunFolder(fresh));  // an existing folder of ours is fine
    if (!testutil::isPosix())
        return;

    EXPECT_EQ(sysutiltest::modeOf(fresh), 0700u);
    EXPECT_EQ(sysutiltest::modeOf(scratch_.file(L"a")), 0700u);

    const std::wstring open = scratch_.file(L"open");
    ASSERT_TRUE(testutil::makeFolder(open));
    ASSERT_TRUE(sysutiltest::setMode(open, 0777));
    EXPECT_TRUE(korr::detail::createRunFolder(open));
    EXPECT_EQ(sysutiltest::modeOf(open), 0700u) << "an existing folder of ours is made private";

    const std::wstring elsewhere = scratch_.file(L"elsewhere");
    ASSERT_TRUE(testutil::makeFolder(elsewhere));
    ASSERT_TRUE(sysutiltest::setMode(elsewhere, 0755));
    const std::wstring link = scratch_.file(L"planted");
    ASSERT_TRUE(sysutiltest::makeSymlink(elsewhere, link));
    EXPECT_FALSE(korr::detail::createRunFolder(link));
    EXPECT_EQ(sysutiltest::modeOf(elsewhere), 0755u) << "the link's target must stay untouched";

    const std::wstring file = scratch_.file(L"file");
    ASSERT_TRUE(testutil::writeBytes(file, "x"));
    EXPECT_FALSE(korr::detail::createRunFolder(file));

    if (!sysutiltest::runningAsRoot())
        return;
    const std::wstring foreign = scratch_.file(L"foreign");
    ASSERT_TRUE(testutil::makeFolder(foreign));
    ASSERT_TRUE(sysutiltest::giveAway(foreign, 65534));
    EXPECT_FALSE(korr::detail::createRunFolder(foreign));
}

}  // namespace
