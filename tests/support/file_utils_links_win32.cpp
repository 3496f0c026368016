// Windows links inside a tree are removed as links (a directory symbolic link here; junctions
// take the same branch, FILE_ATTRIBUTE_REPARSE_POINT).

#include <windows.h>

#include <gtest/gtest.h>

#include "base/platform.h"
#include "support/file_utils.h"
#include "test_util.h"

namespace {

TEST(FileUtilsLinks, DeleteDirectoryRemovesAFolderLinkNotItsTarget) {
    testutil::ScratchDir scratch{L"links"};
    const std::wstring outside = scratch.file(L"outside");
    const std::wstring tree = scratch.file(L"tree");
    ASSERT_TRUE(zoka::ensureFolder(outside));
    ASSERT_TRUE(zoka::ensureFolder(tree));
    ASSERT_TRUE(testutil::writeBytes(outside + L"\\precious.txt", "keep"));
    const std::wstring link = tree + L"\\dirlink";
    if (!::CreateSymbolicLinkW(link.c_str(), outside.c_str(),
                               SYMBOLIC_LINK_FLAG_DIRECTORY |
                                   0x2 /* SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE */)) {
        GTEST_SKIP() << "cannot create a folder link here, error " << ::GetLastError();
    }
    ASSERT_NE(::GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);

    std::wstring failed;
    EXPECT_TRUE(zoka::deleteDirectory(tree, failed, true, false, nullptr, false));
    EXPECT_FALSE(zoka::os::pathExists(tree));
    EXPECT_EQ(testutil::readBytes(outside + L"\\precious.txt"), "keep");
}

// Links whose targets are gone: each goes as a link, and the folder with them.
TEST(FileUtilsLinks, DeleteDirectoryRemovesDanglingLinks) {
    struct Case {
        const char* what;
        DWORD flags;
    } cases[] = {
        {"file link", 0},
        {"folder link", SYMBOLIC_LINK_FLAG_DIRECTORY},
    };
    for (const auto& c : cases) {
        testutil::ScratchDir scratch{L"dangling"};
        const std::wstring tree = scratch.file(L"tree");
        ASSERT_TRUE(zoka::ensureFolder(tree));
        const std::wstring link = tree + L"\\dangling";
        if (!::CreateSymbolicLinkW(link.c_str(), scratch.file(L"gone").c_str(),
                                   c.flags | 0x2 /* ALLOW_UNPRIVILEGED_CREATE */)) {
            GTEST_SKIP() << "cannot create a link here, error " << ::GetLastError();
        }
        std::wstring failed;
        EXPECT_TRUE(zoka::deleteDirectory(tree, failed, true, false, nullptr, false)) << c.what;
        EXPECT_TRUE(failed.empty()) << c.what;
        EXPECT_FALSE(zoka::os::pathExists(tree)) << c.what;
    }
}

}  // namespace
