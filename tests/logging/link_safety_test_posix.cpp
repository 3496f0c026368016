// On POSIX the temporary folder may be the machine-wide /tmp, where another user can plant a
// link or a special file under a log's name: the target must refuse to write through them.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "logging/log_target.h"
#include "support/unicode.h"
#include "test_util.h"

namespace {

using zoka::LogTargetDefault;

std::string native(const std::wstring& path) {
    return zoka::toUtf8(path);
}

bool isSymlink(const std::wstring& path) {
    struct stat st;
    return ::lstat(native(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEST(LogTargetPosixTest, PlantedEntriesAreNeverWrittenThrough) {
    testutil::ScratchDir dir(L"planted");
    const std::wstring victim = dir.file(L"victim.txt");
    ASSERT_TRUE(testutil::writeBytes(victim, "precious"));
    ASSERT_EQ(0, ::symlink(native(victim).c_str(), native(dir.file(L"link.log")).c_str()));
    ASSERT_EQ(0, ::symlink(native(dir.file(L"nowhere")).c_str(),
                           native(dir.file(L"dangling.log")).c_str()));
    ASSERT_EQ(0, ::mkfifo(native(dir.file(L"fifo.log")).c_str(), 0600));
    ASSERT_EQ(0, ::mkdir(native(dir.file(L"folder.log")).c_str(), 0700));

    for (const wchar_t* name : {L"link.log", L"dangling.log", L"fifo.log", L"folder.log"}) {
        LogTargetDefault target(L"posix-planted");
        EXPECT_FALSE(target.setFile(name, dir.path().c_str())) << zoka::toUtf8(name);
        EXPECT_FALSE(target.enabled);
        EXPECT_TRUE(target.movedAsidePath.empty()) << zoka::toUtf8(name);
    }
    EXPECT_EQ("precious", testutil::readBytes(victim));
    EXPECT_TRUE(isSymlink(dir.file(L"link.log")));
    EXPECT_TRUE(isSymlink(dir.file(L"dangling.log")));
    EXPECT_NE(0, ::access(native(dir.file(L"nowhere")).c_str(), F_OK));
}

TEST(LogTargetPosixTest, RotationAndMovingAsideNeverFollowALinkAtTheStampedName) {
    testutil::ScratchDir dir(L"stamplink");
    const std::wstring victim = dir.file(L"victim.txt");
    ASSERT_TRUE(testutil::writeBytes(victim, "precious"));
    const std::wstring big = dir.file(L"big.log");
    const std::wstring foreign = dir.file(L"foreign.log");
    const std::string bigContent =
        "\xFF\xFE" + std::string(static_cast<size_t>(LogTargetDefault::kRotateSize) - 2, 'b');
    ASSERT_TRUE(testutil::writeBytes(big, bigContent));
    ASSERT_TRUE(testutil::writeBytes(foreign, "not utf-16"));
    const int64_t now = zoka::logfile::nowMs() / 1000;
    for (int64_t s = now - 1; s <= now + 5; ++s) {
        zoka::logfile::LocalTime t;
        ASSERT_TRUE(zoka::logfile::toLocalTime(s, t));
        for (const std::wstring& path : {big, foreign}) {
            ASSERT_EQ(0, ::symlink(native(victim).c_str(),
                                   native(zoka::logfile::stampedName(path, t)).c_str()));
        }
    }
    LogTargetDefault rotating(L"posix-stamplink");
    ASSERT_TRUE(rotating.setFile(L"big.log", dir.path().c_str()));
    ASSERT_TRUE(rotating.open());
    LogTargetDefault moving(L"posix-stamplink");
    ASSERT_TRUE(moving.setFile(L"foreign.log", dir.path().c_str()));
    EXPECT_TRUE(moving.movedAsidePath.empty());
    // Nothing could be copied or moved safely, so nothing was emptied or lost.
    EXPECT_EQ("precious", testutil::readBytes(victim));
    EXPECT_TRUE(testutil::readBytes(big) == bigContent);
    EXPECT_EQ(0u, testutil::readBytes(foreign).rfind("not utf-16", 0));
}

}  // namespace
