#include <gtest/gtest.h>

#include <cstdio>

#include "base/platform.h"
#include "base/unicode.h"
#include "child_process.h"
#include "sysutil/admin.h"
#include "sysutil/lock.h"
#include "sysutil/sysutil_helpers.h"

namespace {

// Child modes of this very program, started by the tests below.

// args: lock name, folder. Probes and takes the lock, writes "other|free locked|refused" to
// the file "state" in the folder, then waits for the file "release": "unlock" unlocks first,
// "exit" just ends (the destructor closes the lock).
int holdLockChild(const std::vector<std::wstring>& args) {
    if (args.size() != 2)
        return 2;
    const std::wstring sep(1, zoka::os::pathSeparator());
    korr::VRXSemaphoreLock lock(args[0]);
    const bool other = lock.isLockedByOther();
    const bool locked = lock.lock();
    const std::wstring state = args[1] + sep + L"state";
    if (!testutil::writeBytes(state + L".tmp", std::string(other ? "other " : "free ") +
                                                   (locked ? "locked" : "refused")) ||
        std::rename(zoka::toUtf8(state + L".tmp").c_str(), zoka::toUtf8(state).c_str()) != 0) {
        return 3;
    }
    const std::string release =
        sysutiltest::waitForContent(args[1] + sep + L"release", {"unlock", "exit"}, 120000);
    if (release == "unlock" && !lock.unlock())
        return 4;
    return release.empty() ? 5 : 0;
}
[[maybe_unused]] const bool holdLockRegistered =
    testutil::registerChild("sysutil-hold-lock", holdLockChild);

int adminChild(const std::vector<std::wstring>&) {
    return korr::_utilIsUserAdmin() ? 41 : 42;
}
[[maybe_unused]] const bool adminRegistered = testutil::registerChild("sysutil-admin", adminChild);

// A second instance: the test program in its lock-holding child mode.
class LockHolder {
public:
    LockHolder(const std::wstring& name, const testutil::ScratchDir& folder) : folder_(folder) {
        started_ =
            child_.start(testutil::testProgram(),
                         testutil::childModeArguments({L"sysutil-hold-lock", name, folder.path()}));
    }
    /// The child's "other|free locked|refused" once it has tried.
    std::string state() {
        if (!started_)
            return "not started";
        return sysutiltest::waitForContent(
            folder_.file(L"state"),
            {"free locked", "free refused", "other locked", "other refused"});
    }
    int release(const std::string& how) {
        testutil::writeBytes(folder_.file(L"release"), how);
        return child_.wait().exitCode;
    }
    void kill() {
        child_.kill();
        child_.wait();
    }

private:
    const testutil::ScratchDir& folder_;
    testutil::ChildProcess child_;
    bool started_ = false;
};

class Lock : public ::testing::Test {
protected:
    void TearDown() override { sysutiltest::removeLockFile(name_); }
    const std::wstring name_ = sysutiltest::uniqueLockName();
    testutil::ScratchDir folder_{L"lock"};
};

TEST_F(Lock, FreeLockIsTakenAndKeepsASecondObjectOut) {
    korr::VRXSemaphoreLock first(name_);
    EXPECT_FALSE(first.isLockedByOther());
    EXPECT_TRUE(first.unlock()) << "unlock without lock changes nothing";
    ASSERT_TRUE(first.lock());
    {
        korr::VRXSemaphoreLock second(name_);
        EXPECT_TRUE(second.isLockedByOther());
        EXPECT_TRUE(second.isLockedByOther()) << "the probe gives back what it took";
        EXPECT_FALSE(second.lock());
        EXPECT_TRUE(second.unlock());
    }
    EXPECT_TRUE(first.unlock());
    korr::VRXSemaphoreLock third(name_);
    EXPECT_FALSE(third.isLockedByOther());
    EXPECT_TRUE(third.lock());
}

// Another process holds the lock until it unlocks, ends without unlocking, or is killed.
TEST_F(Lock, HeldByAnotherProcessUntilItLetsGoEndsOrIsKilled) {
    for (const char* end : {"unlock", "exit", "kill"}) {
        SCOPED_TRACE(end);
        // Each case has a lock and a folder of its own: the holder's files stay in the folder.
        const std::wstring name = sysutiltest::uniqueLockName();
        testutil::ScratchDir folder(L"lock");
        {
            LockHolder holder(name, folder);
            ASSERT_EQ(holder.state(), "free locked");
            {
                korr::VRXSemaphoreLock probe(name);
                EXPECT_TRUE(probe.isLockedByOther());
                EXPECT_FALSE(probe.lock());
            }
            if (std::string(end) == "kill") {
                holder.kill();
            } else {
                EXPECT_EQ(holder.release(end), 0);
            }
        }
        {
            korr::VRXSemaphoreLock next(name);
            EXPECT_FALSE(next.isLockedByOther());
            EXPECT_TRUE(next.lock());
        }
        sysutiltest::removeLockFile(name);
    }
}

TEST_F(Lock, SecondProcessIsRefusedWhileWeHoldIt) {
    korr::VRXSemaphoreLock mine(name_);
    ASSERT_TRUE(mine.lock());
    LockHolder other(name_, folder_);
    EXPECT_EQ(other.state(), "other refused");
    EXPECT_EQ(other.release("exit"), 0);
}

TEST(Admin, AnswersForThisProcess) {
    if (!testutil::isPosix()) {
        EXPECT_TRUE(korr::_utilIsUserAdmin()) << "under Wine the process is an administrator";
        return;
    }
    EXPECT_EQ(korr::_utilIsUserAdmin(), sysutiltest::runningAsRoot());
}

TEST(Admin, UnprivilegedUserIsNoAdministrator) {
    if (testutil::isPosix() && !sysutiltest::runningAsRoot()) {
        EXPECT_FALSE(korr::_utilIsUserAdmin());
    }
    // Otherwise the check runs in a child as another user.
    std::wstring program = testutil::testProgram();
    std::vector<std::wstring> args = testutil::childModeArguments({L"sysutil-admin"});
    std::string whyNot;
    if (!testutil::unprivilegedCommand(program, args, whyNot))
        GTEST_SKIP() << whyNot;
    EXPECT_EQ(testutil::runProcess(program, args).exitCode, 42)
        << "41: administrator; other: the child could not run";
}

}  // namespace
