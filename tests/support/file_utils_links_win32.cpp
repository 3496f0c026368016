// Windows links inside a tree are removed as links (a directory symbolic link here; junctions
// take the same branch, FILE_ATTRIBUTE_REPARSE_POINT).

#include <windows.h>

#include <gtest/gtest.h>

#include "support/file_utils.h"
#include "support/platform.h"
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

}  // namespace
