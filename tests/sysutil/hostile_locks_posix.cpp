// Another local user (uid 65534) attacks the locks that an elevated run waits on.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "base/named_lock_posix.h"
#include "base/unicode.h"
#include "child_process.h"
#include "sysutil/lock.h"
#include "sysutil/sysutil_helpers.h"
#include "test_util.h"

namespace {

// Runs a shell command as the unprivileged user; its exit code, or -1 when it could not run.
int runAsOtherUser(const std::string& command, std::string& whyNot) {
    std::wstring program = L"/bin/sh";
    std::vector<std::wstring> args = {L"-c", zoka::fromUtf8(command)};
    if (!testutil::unprivilegedCommand(program, args, whyNot))
        return -1;
    return testutil::runProcess(program, args).exitCode;
}

TEST(HostileLocks, AnotherUserCanNeitherPlantNorHoldTheInstanceLock) {
    const std::wstring name = sysutiltest::uniqueLockName();
    const std::string path = zoka::posix::NamedLock::lockFilePath(name);
    // Another lock held meanwhile keeps the lock folder in place for the attacks.
    korr::VRXSemaphoreLock keeper(sysutiltest::uniqueLockName());
    ASSERT_TRUE(keeper.lock());
    struct Case {
        const char* what;
        std::string command;  // run as uid 65534 before the elevated run takes the lock
    } cases[] = {
        {"hold it", "flock -n '" + path + "' true"},
        {"create it for everybody", "umask 0; : > '" + path + "'"},
        {"plant a FIFO", "mkfifo '" + path + "'"},
        {"plant a folder", "mkdir '" + path + "'"},
        {"plant a link", "ln -s /etc/passwd '" + path + "'"},
        {"list the lock folder", "ls '" + zoka::posix::NamedLock::lockFolder() + "'"},
    };
    for (const auto& c : cases) {
        std::string whyNot;
        const int code = runAsOtherUser(c.command, whyNot);
        if (code == -1 && !whyNot.empty())
            GTEST_SKIP() << whyNot;
        EXPECT_NE(code, 0) << c.what << ": the other user succeeded";
        korr::VRXSemaphoreLock lock(name);
        EXPECT_FALSE(lock.isLockedByOther()) << c.what;
        EXPECT_TRUE(lock.lock()) << c.what;
        EXPECT_TRUE(lock.unlock()) << c.what;
    }
    struct stat st;
    EXPECT_NE(::lstat(path.c_str(), &st), 0) << "the last holder removes the lock file";
}

// The other user's own copy of the program takes "the same" lock: it gets one of its own and
// the elevated run is not refused.
TEST(HostileLocks, AnotherUsersInstanceHoldsOnlyItsOwnLock) {
    const std::wstring name = sysutiltest::uniqueLockName();
    testutil::ScratchDir folder(L"hostile-lock");
    ASSERT_EQ(::chmod(zoka::toUtf8(folder.path()).c_str(), 0777), 0);
    std::wstring program = testutil::testProgram();
    std::vector<std::wstring> args =
        testutil::childModeArguments({L"sysutil-hold-lock", name, folder.path()});
    std::string whyNot;
    if (!testutil::unprivilegedCommand(program, args, whyNot))
        GTEST_SKIP() << whyNot;
    testutil::ChildProcess other;
    ASSERT_TRUE(other.start(program, args));
    EXPECT_EQ(sysutiltest::waitForContent(folder.file(L"state"), {"free locked", "free refused"}),
              "free locked");
    {
        korr::VRXSemaphoreLock mine(name);
        EXPECT_FALSE(mine.isLockedByOther());
        EXPECT_TRUE(mine.lock());
    }
    testutil::writeBytes(folder.file(L"release"), "exit");
    EXPECT_EQ(other.wait().exitCode, 0);
}

// Whatever stands under a lock file's name and is not this user's own regular file is never
// locked, written or followed; a file left by a holder that died is cleared by the next probe.
TEST(HostileLocks, OnlyOwnRegularLockFilesAreUsed) {
    korr::VRXSemaphoreLock keeper(sysutiltest::uniqueLockName());
    ASSERT_TRUE(keeper.lock());
    const std::string target = zoka::posix::NamedLock::lockFolder() + "/target";
    struct Case {
        const char* what;
        std::function<int(const std::string&)> plant;
        bool usable;
    } cases[] = {
        {"a folder", [](const std::string& p) { return ::mkdir(p.c_str(), 0700); }, false},
        {"a FIFO", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600); }, false},
        {"a link", [&](const std::string& p) { return ::symlink(target.c_str(), p.c_str()); },
         false},
        {"another user's file",
         [](const std::string& p) {
             return testutil::writeBytes(zoka::fromUtf8(p), "") ? ::chown(p.c_str(), 65534, 65534)
                                                                : -1;
         },
         false},
        {"a file left by a holder that died",
         [](const std::string& p) { return testutil::writeBytes(zoka::fromUtf8(p), "") ? 0 : -1; },
         true},
    };
    ASSERT_TRUE(testutil::writeBytes(zoka::fromUtf8(target), "target"));
    for (const auto& c : cases) {
        const std::wstring name = sysutiltest::uniqueLockName();
        const std::string path = zoka::posix::NamedLock::lockFilePath(name);
        ASSERT_EQ(c.plant(path), 0) << c.what;
        {
            zoka::posix::NamedLock lock(name);
            EXPECT_FALSE(lock.heldElsewhere()) << c.what;
            EXPECT_EQ(lock.tryLock(), c.usable) << c.what;
        }
        struct stat st;
        EXPECT_EQ(::lstat(path.c_str(), &st) == 0, !c.usable) << c.what;
        ::rmdir(path.c_str());
        ::unlink(path.c_str());
    }
    EXPECT_EQ(testutil::readBytes(zoka::fromUtf8(target)), "target");
    ::unlink(target.c_str());
}

}  // namespace
