#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
    korr::RunFolder first, second;
    ASSERT_TRUE(first.create());
    ASSERT_TRUE(second.create());
    EXPECT_NE(first.path(), second.path());
    for (const auto& folder : {first.path(), second.path()}) {
        SCOPED_TRACE(zoka::toUtf8(folder));
        // The temporary folder already ends with its separator: the GUID follows directly.
        ASSERT_EQ(folder.compare(0, temp().size(), temp()), 0);
        EXPECT_TRUE(isGuidText(folder.substr(temp().size())));
        EXPECT_TRUE(zoka::os::isDirectory(folder));
        if (testutil::isPosix()) {
            EXPECT_EQ(sysutiltest::modeOf(folder), 0700u);
        } else {
            // The running account and Administrators, nothing inherited. Wine 8 keeps no access
            // list given at creation: it shows one made from the Unix mode, which names the
            // running account too.
            std::wstring user;
            const std::wstring list = sysutiltest::accessList(folder, user);
            if (!testutil::underWine()) {
                EXPECT_EQ(list, L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;BA)");
            } else {
                EXPECT_NE(list.find(L";;;" + user + L")"), std::wstring::npos)
                    << zoka::toUtf8(list);
            }
        }
    }

    std::wstring a, b;
    ASSERT_TRUE(first.newFile(a));
    ASSERT_TRUE(first.newFile(b));
    EXPECT_NE(a, b);
    for (const auto& file : {a, b}) {
        SCOPED_TRACE(zoka::toUtf8(file));
        const std::wstring prefix = first.path() + zoka::os::pathSeparator();
        ASSERT_EQ(file.compare(0, prefix.size(), prefix), 0);
        EXPECT_TRUE(isGuidText(file.substr(prefix.size())));  // no extension, nothing nested
        EXPECT_EQ(testutil::readBytes(file), "");             // created empty, for its user to fill
        if (testutil::isPosix()) {
            EXPECT_EQ(sysutiltest::modeOf(file), 0600u);
        }
    }
    // The folder goes, its marker with it.
    const std::wstring gone = first.path();
    std::wstring failed;
    EXPECT_TRUE(first.remove(failed)) << zoka::toUtf8(failed);
    EXPECT_FALSE(zoka::os::pathExists(gone));
}

TEST_F(TempFolder, FilePathLogsAtDebug) {
    korr::RunFolder folder;
    std::wstring file;
    ASSERT_TRUE(folder.create());
    sysutiltest::SharedLogCapture log;
    ASSERT_TRUE(folder.newFile(file));
    EXPECT_EQ(log.at(zoka::LEVEL_DEBUG),
              std::vector<std::wstring>{L"File being created is :" + file + L"\n"});
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(TempFolder, VanishedFolderIsRecreated) {
    korr::RunFolder folder;
    std::wstring file;
    ASSERT_TRUE(folder.create());
    ASSERT_TRUE(folder.newFile(file));
    if (!testutil::isPosix())
        return;  // a held folder cannot be deleted on Windows
    ASSERT_TRUE(testutil::removeTree(folder.path()));
    ASSERT_FALSE(zoka::os::pathExists(folder.path()));
    EXPECT_FALSE(folder.displaced());
    ASSERT_TRUE(folder.newFile(file));
    EXPECT_TRUE(zoka::os::isDirectory(folder.path()));
    EXPECT_TRUE(folder.stillInPlace());
    EXPECT_EQ(sysutiltest::modeOf(folder.path()), 0700u);
}

TEST_F(TempFolder, FileInTheWayFailsWithoutTouchingTheOutputs) {
    korr::RunFolder never;
    std::wstring file = L"unchanged";
    EXPECT_FALSE(never.newFile(file));
    EXPECT_EQ(file, L"unchanged");

    // The temporary folder itself is a file: the run folder cannot be created below it.
    const std::wstring blocker = scratch_.file(L"blocker");
    ASSERT_TRUE(testutil::writeBytes(blocker, "x"));
    testutil::TempFolderOverride broken(blocker);
    sysutiltest::SharedLogCapture log;
    korr::RunFolder folder;
    EXPECT_FALSE(folder.create());
    EXPECT_TRUE(folder.path().empty());
    const auto infos = log.at(zoka::LEVEL_INFO);
    ASSERT_EQ(infos.size(), 1u);
    const std::wstring prefix = L"Unable to create directoryPath at desired location:" + blocker +
                                zoka::os::pathSeparator();
    ASSERT_EQ(infos[0].compare(0, prefix.size(), prefix), 0) << zoka::toUtf8(infos[0]);
    EXPECT_TRUE(isGuidText(infos[0].substr(prefix.size())));
}

// The run folder's platform half creates exclusively: nothing that stood under the name before,
// or in a temporary folder that another user can change, is ever used.
TEST_F(TempFolder, RunFolderCreationRefusesWhatIsNotOurs) {
    const std::wstring name = L"{00000000-0000-4000-8000-000000000000}";
    struct Case {
        const char* what;
        bool (*plant)(const std::wstring& path);
        bool posixOnly;
    } cases[] = {
        {"a folder of ours", [](const std::wstring& p) { return testutil::makeFolder(p); }, false},
        {"a file", [](const std::wstring& p) { return testutil::writeBytes(p, "x"); }, false},
        {"a link to a folder",
         [](const std::wstring& p) {
             return testutil::makeFolder(p + L".target") &&
                    sysutiltest::makeSymlink(p + L".target", p);
         },
         true},
        {"another user's folder",
         [](const std::wstring& p) {
             return testutil::makeFolder(p) && sysutiltest::giveAway(p, 65534);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.posixOnly && !sysutiltest::runningAsRoot())
            continue;
        testutil::ScratchDir parent(L"held");
        ASSERT_TRUE(c.plant(parent.file(name)));
        EXPECT_FALSE(
            korr::detail::createHeldFolder(parent.path() + zoka::os::pathSeparator(), name));
    }
    if (!sysutiltest::runningAsRoot())
        return;
    // A temporary folder that another user could rename entries in.
    struct Unsafe {
        const char* what;
        unsigned mode;
        unsigned owner;
    } unsafe[] = {{"writable by everybody", 0777, 0}, {"another user's", 0700, 65534}};
    for (const auto& u : unsafe) {
        SCOPED_TRACE(u.what);
        testutil::ScratchDir parent(L"unsafe");
        ASSERT_TRUE(sysutiltest::setMode(parent.path(), u.mode));
        if (u.owner != 0) {
            ASSERT_TRUE(sysutiltest::giveAway(parent.path(), u.owner));
        }
        EXPECT_FALSE(korr::detail::createHeldFolder(parent.path() + L"/", name));
        EXPECT_TRUE(testutil::listFolder(parent.path()).empty());
    }
}

// Folders of killed runs go at the next start; nothing else in the temporary folder is touched.
TEST_F(TempFolder, StaleRunFoldersGoAndEverythingElseStays) {
    korr::RunFolder live;
    ASSERT_TRUE(live.create());
    const std::string own =
        testutil::readBytes(live.path() + zoka::os::pathSeparator() + L"Velkaro.owner");
    const std::string pid = std::to_string(testutil::processId());
    ASSERT_EQ(own.rfind("Velkaro " + pid + " ", 0), 0u) << own;
    const std::string dead = "Velkaro 2147483646 12345\n";
    struct Case {
        const wchar_t* name;
        std::string marker;  // empty: none
        bool removed;
        bool link = false;
        bool foreign = false;
    } cases[] = {
        {L"{10000000-0000-4000-8000-000000000001}", dead, true},
        {L"{10000000-0000-4000-8000-000000000002}", "Velkaro " + pid + " 1\n", true},  // reused id
        {L"{10000000-0000-4000-8000-000000000003}", own, false},  // its owner still runs
        {L"{10000000-0000-4000-8000-000000000004}", "", false},
        {L"{10000000-0000-4000-8000-000000000005}", "Velkaro 2147483646\n", false},
        {L"{10000000-0000-4000-8000-000000000006}", "Other 2147483646 1\n", false},
        {L"not-a-run-folder", dead, false},
        {L"{10000000-0000-4000-8000-00000000000G}", dead, false},  // not hexadecimal
        {L"{10000000-0000-4000-8000-00000000000a}", "Velkaro 2147483646 1 more\n", false},
        {L"{10000000-0000-4000-8000-000000000007}", dead, false, true},
        {L"{10000000-0000-4000-8000-000000000008}", dead, false, false, true},
    };
    for (const auto& c : cases) {
        if ((c.link || c.foreign) && !sysutiltest::runningAsRoot())
            continue;
        const std::wstring path = temp() + c.name;
        const std::wstring real = c.link ? scratch_.path() + L"-target" : path;
        ASSERT_TRUE(testutil::makeFolder(real));
        if (!c.marker.empty()) {
            ASSERT_TRUE(testutil::writeBytes(real + zoka::os::pathSeparator() + L"Velkaro.owner",
                                             c.marker));
        }
        if (c.link) {
            ASSERT_TRUE(sysutiltest::makeSymlink(real, path));
        }
        if (c.foreign) {
            ASSERT_TRUE(sysutiltest::giveAway(path, 65534));
        }
    }
    std::vector<std::wstring> removed;
    for (const korr::StaleRunFolder& stale : korr::removeStaleRunFolders()) {
        if (stale.removed)
            removed.push_back(stale.path);
    }
    for (const auto& c : cases) {
        if ((c.link || c.foreign) && !sysutiltest::runningAsRoot())
            continue;
        SCOPED_TRACE(zoka::toUtf8(c.name));
        const std::wstring path = temp() + c.name;
        EXPECT_EQ(zoka::os::pathExists(path), !c.removed);
        EXPECT_EQ(std::count(removed.begin(), removed.end(), path), c.removed ? 1 : 0);
    }
    EXPECT_TRUE(live.stillInPlace());
    if (sysutiltest::runningAsRoot()) {
        EXPECT_EQ(testutil::readBytes(scratch_.path() + L"-target/Velkaro.owner"), dead);
    }
    testutil::removeTree(scratch_.path() + L"-target");
}

}  // namespace
