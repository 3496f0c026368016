// POSIX-only behaviour of the file utilities: links are never followed, base folders come from
// the environment, the no-follow rules of writeTextFile.

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/platform.h"
#include "base/unicode.h"
#include "child_process.h"
#include "support/file_utils.h"
#include "support_test_util.h"
#include "test_util.h"

namespace {

using supporttest::LibraryLogCapture;

std::string u8(const std::wstring& s) {
    return zoka::toUtf8(s);
}

// args: a folder, removed with its read-only entries; exit 0 when it is gone and no entry
// failed.
int deleteTreeChild(const std::vector<std::wstring>& args) {
    if (args.size() != 1)
        return 2;
    std::wstring failed;
    const bool removed = zoka::deleteDirectory(args[0], failed, true, true, nullptr, false);
    return removed && failed.empty() && !zoka::os::pathExists(args[0]) ? 0 : 1;
}
[[maybe_unused]] const bool deleteTreeRegistered =
    testutil::registerChild("support-delete-tree", deleteTreeChild);

class FileUtilsPosix : public ::testing::Test {
protected:
    testutil::ScratchDir scratch{L"fileutils-posix"};
};

TEST_F(FileUtilsPosix, DeleteDirectoryRemovesLinksAsLinks) {
    // outside/ holds what the links point to; it must survive the removal of tree/.
    const std::wstring outside = scratch.file(L"outside");
    ASSERT_TRUE(zoka::ensureFolder(outside));
    ASSERT_TRUE(testutil::writeBytes(outside + L"/precious.txt", "keep"));
    const std::wstring tree = scratch.file(L"tree");
    ASSERT_TRUE(zoka::ensureFolder(tree + L"/sub"));
    ASSERT_EQ(::symlink(u8(outside).c_str(), u8(tree + L"/dirlink").c_str()), 0);
    ASSERT_EQ(
        ::symlink(u8(outside + L"/precious.txt").c_str(), u8(tree + L"/sub/filelink").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", u8(tree + L"/dangling").c_str()), 0);
    // A read-only target must not matter either: the link is removed, not its target.
    ASSERT_TRUE(supporttest::setReadOnly(outside + L"/precious.txt", true));

    std::wstring failed;
    EXPECT_TRUE(zoka::deleteDirectory(tree, failed, true, false, nullptr, false));
    EXPECT_TRUE(failed.empty()) << u8(failed);
    EXPECT_FALSE(zoka::os::pathExists(tree));
    EXPECT_EQ(testutil::readBytes(outside + L"/precious.txt"), "keep");
    supporttest::setReadOnly(outside + L"/precious.txt", false);
}

TEST_F(FileUtilsPosix, DeleteDirectoryOfALinkRemovesOnlyTheLink) {
    const std::wstring target = scratch.file(L"target");
    ASSERT_TRUE(zoka::ensureFolder(target));
    ASSERT_TRUE(testutil::writeBytes(target + L"/f.txt", "f"));
    const std::wstring link = scratch.file(L"link");
    ASSERT_EQ(::symlink(u8(target).c_str(), u8(link).c_str()), 0);
    for (const std::wstring& path : {link + L"/", link}) {
        std::wstring failed;
        LibraryLogCapture log;
        bool removed = zoka::deleteDirectory(path, failed, true, false, nullptr, false);
        EXPECT_EQ(testutil::readBytes(target + L"/f.txt"), "f") << u8(path);
        if (removed) {
            struct stat st;
            EXPECT_NE(::lstat(u8(link).c_str(), &st), 0) << u8(path);
        }
    }
    struct stat st;
    EXPECT_NE(::lstat(u8(link).c_str(), &st), 0) << "the link itself is removed";
}

TEST_F(FileUtilsPosix, DeleteDirectoryHandlesNamesThatAreNotUtf8) {
    const std::wstring tree = scratch.file(L"tree");
    ASSERT_TRUE(zoka::ensureFolder(tree));
    const std::string odd = u8(tree) + "/bad-\xff\xfe-name";
    ASSERT_TRUE(testutil::writeBytes(zoka::fromUtf8(u8(tree)) + L"/plain", "p"));
    int fd = ::open(odd.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::wstring failed;
    EXPECT_TRUE(zoka::deleteDirectory(tree, failed, true, false, nullptr, false));
    EXPECT_FALSE(zoka::os::pathExists(tree));
}

TEST_F(FileUtilsPosix, DeleteFileRemovesALinkNotItsTarget) {
    const std::wstring target = scratch.file(L"target.txt");
    ASSERT_TRUE(testutil::writeBytes(target, "t"));
    ASSERT_TRUE(supporttest::setReadOnly(target, true));
    const std::wstring link = scratch.file(L"link.txt");
    ASSERT_EQ(::symlink(u8(target).c_str(), u8(link).c_str()), 0);
    EXPECT_TRUE(zoka::deleteFile(link, false));
    EXPECT_EQ(testutil::readBytes(target), "t");
    struct stat st;
    EXPECT_NE(::lstat(u8(link).c_str(), &st), 0);
    supporttest::setReadOnly(target, false);
}

TEST_F(FileUtilsPosix, WriteTextFileRefusesLinksAndSpecialFiles) {
    LibraryLogCapture log;
    const std::wstring target = scratch.file(L"victim.txt");
    ASSERT_TRUE(testutil::writeBytes(target, "original"));
    const std::wstring link = scratch.file(L"planted");
    ASSERT_EQ(::symlink(u8(target).c_str(), u8(link).c_str()), 0);
    EXPECT_FALSE(zoka::writeTextFile(link, L"attack"));
    EXPECT_EQ(testutil::readBytes(target), "original");
    EXPECT_EQ(log.count(zoka::LEVEL_ERROR, L"Failed to create file at path :" + link + L" Error:" +
                                               std::to_wstring(ELOOP)),
              1)
        << log.dump();

    // A dangling link must not create its target either.
    const std::wstring dangling = scratch.file(L"dangling");
    const std::wstring created = scratch.file(L"would-be-created");
    ASSERT_EQ(::symlink(u8(created).c_str(), u8(dangling).c_str()), 0);
    EXPECT_FALSE(zoka::writeTextFile(dangling, L"attack"));
    EXPECT_FALSE(zoka::os::pathExists(created));

    // A FIFO with no reader: refused at once rather than waiting for one.
    const std::wstring fifo = scratch.file(L"fifo");
    ASSERT_EQ(::mkfifo(u8(fifo).c_str(), 0600), 0);
    EXPECT_FALSE(zoka::writeTextFile(fifo, L"x"));
}

TEST_F(FileUtilsPosix, MakerFoldersFollowTheEnvironment) {
    struct Saved {
        std::string name;
        std::wstring value;
        bool had;
    } saved[] = {
        {"CommonProgramFiles", testutil::getEnv("CommonProgramFiles"),
         ::getenv("CommonProgramFiles") != nullptr},
        {"ProgramFiles", testutil::getEnv("ProgramFiles"), ::getenv("ProgramFiles") != nullptr}};
    struct Case {
        const char* common;  // nullptr: unset
        const char* program;
        std::wstring commonFolder, productFolder;
    } cases[] = {
        {nullptr, nullptr, L"/opt/Common Files/Quenda", L"/opt/Quenda/Quenda Loomwork"},
        {"", "", L"/opt/Common Files/Quenda", L"/opt/Quenda/Quenda Loomwork"},
        {"/srv/common", "/srv/prog", L"/srv/common/Quenda", L"/srv/prog/Quenda/Quenda Loomwork"},
        {"/srv/common/", "/srv/prog/", L"/srv/common/Quenda", L"/srv/prog/Quenda/Quenda Loomwork"},
    };
    for (const auto& c : cases) {
        testutil::setEnv("CommonProgramFiles", c.common ? zoka::fromUtf8(c.common) : L"",
                         !c.common);
        testutil::setEnv("ProgramFiles", c.program ? zoka::fromUtf8(c.program) : L"", !c.program);
        std::wstring common, product;
        EXPECT_TRUE(zoka::getMakerCommonFilesFolder(common));
        EXPECT_TRUE(zoka::getMakerProductFolder(product));
        EXPECT_EQ(common, c.commonFolder);
        EXPECT_EQ(product, c.productFolder);
    }
    for (const auto& s : saved)
        testutil::setEnv(s.name, s.value, !s.had);
}

TEST(FileUtilsPosixPaths, RootAndRelativePaths) {
    struct Case {
        std::wstring in, out;
        bool ok;
    } cases[] = {
        {L"/a", L"/", true},  {L"/a//b", L"/a", true}, {L"a/b", L"a", true},
        {L"name", L"", true}, {L"///", L"///", false},
    };
    LibraryLogCapture log;
    for (const auto& c : cases) {
        std::wstring path = c.in;
        EXPECT_EQ(zoka::removeFileSpec(path), c.ok) << u8(c.in);
        EXPECT_EQ(path, c.out) << u8(c.in);
    }
    std::wstring base = L"/";
    EXPECT_TRUE(zoka::appendPath(base, L"x"));
    EXPECT_EQ(base, L"/x");
    base = L"/a";
    EXPECT_TRUE(zoka::appendPath(base, L"/x"));
    EXPECT_EQ(base, L"/a/x");
}

// An ordinary user removes its own read-only entries, even those it cannot read: the
// permission is changed through a descriptor that never follows a link, so a link swapped in
// after the check is never changed instead.
TEST_F(FileUtilsPosix, ReadOnlyEntriesThatCannotBeReadAreRemovedByTheirOwner) {
    std::wstring program = testutil::testProgram();
    const std::wstring tree = scratch.file(L"tree");
    std::vector<std::wstring> args = testutil::childModeArguments({L"support-delete-tree", tree});
    std::string whyNot;
    if (!testutil::unprivilegedCommand(program, args, whyNot))
        GTEST_SKIP() << whyNot;
    ASSERT_EQ(0, ::chmod(u8(scratch.path()).c_str(), 0777));
    ASSERT_TRUE(zoka::ensureFolder(tree + L"/sub"));
    ASSERT_TRUE(testutil::writeBytes(tree + L"/locked", "x"));
    ASSERT_TRUE(testutil::writeBytes(tree + L"/sub/locked", "y"));
    for (const wchar_t* entry : {L"", L"/sub", L"/locked", L"/sub/locked"})
        ASSERT_EQ(0, ::chown(u8(tree + entry).c_str(), 65534, 65534)) << u8(entry);
    ASSERT_EQ(0, ::chmod(u8(tree + L"/locked").c_str(), 0));
    ASSERT_EQ(0, ::chmod(u8(tree + L"/sub/locked").c_str(), 0));
    ASSERT_EQ(0, ::chmod(u8(tree + L"/sub").c_str(), 0500));
    EXPECT_EQ(testutil::runProcess(program, args).exitCode, 0);
    EXPECT_FALSE(zoka::os::pathExists(tree));
}

}  // namespace
