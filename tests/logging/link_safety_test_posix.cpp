// On POSIX the temporary folder may be the machine-wide /tmp, where another user can plant a
// link or a special file under a log's name: the target must refuse to write through them.

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/unicode.h"
#include "child_process.h"
#include "logging/log_target.h"
#include "logging/registry.h"
#include "test_util.h"

namespace {

using zoka::LogTargetDefault;

std::string native(const std::wstring& path) {
    return zoka::toUtf8(path);
}

mode_t modeOf(const std::wstring& path) {
    struct stat st;
    return ::lstat(native(path).c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Runs `run` with writes past `bytes` refused (EFBIG), as on a full disk.
bool withFileSizeLimit(rlim_t bytes, const std::function<bool()>& run) {
    struct rlimit saved;
    if (::getrlimit(RLIMIT_FSIZE, &saved) != 0)
        return true;  // the caller's expectation of failure then fails
    struct sigaction ignore = {}, previous;
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    struct rlimit limited = saved;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const bool result = run();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    return result;
}

// Runs `run` in a child process in which one system call fails with `error`: every call, or
// with kNextDescriptor only the calls on the next descriptor the child opens. 1 when `run` says
// true, 0 when false, -1 when the child could not set the failure up.
constexpr int kEveryDescriptor = -1;
constexpr int kNextDescriptor = -2;
int withFailingSystemCall(long call, int error, int descriptor, const std::function<bool()>& run) {
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (descriptor == kNextDescriptor) {
            descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            ::close(descriptor);
        }
        const auto jump = [](__u32 value, __u8 ifEqual, __u8 ifNot) {
            return sock_filter BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, ifEqual, ifNot);
        };
        const bool every = descriptor == kEveryDescriptor;
        std::vector<sock_filter> filter = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            jump(static_cast<__u32>(call), 0, every ? 1 : 2),
        };
        if (!every) {
            filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])));
            filter.push_back(jump(static_cast<__u32>(descriptor), 1, 0));
            filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        }
        filter.push_back(BPF_STMT(
            BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<__u32>(error) & SECCOMP_RET_DATA)));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        sock_fprog program = {static_cast<unsigned short>(filter.size()), filter.data()};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            std::exit(2);
        const bool result = run();
        // The coverage counters are merged at exit through the next free descriptor: keep
        // that one from being the failing one.
        if (descriptor >= 0)
            ::dup2(STDIN_FILENO, descriptor);
        std::exit(result ? 1 : 0);  // exit, not _exit: the child's coverage counters are kept
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        return -1;
    return WEXITSTATUS(status);
}

// The entry is moved out of the way (the link itself, never what it points to) and the log
// starts afresh: the run is neither silenced nor made to write through the entry.
TEST(LogTargetPosixTest, PlantedEntriesAreMovedAsideNeverWrittenThrough) {
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
        EXPECT_TRUE(target.setFile(name, dir.path().c_str())) << zoka::toUtf8(name);
        EXPECT_FALSE(target.movedAsidePath.empty()) << zoka::toUtf8(name);
        EXPECT_EQ("\xFF\xFE", testutil::readBytes(dir.file(name))) << zoka::toUtf8(name);
        EXPECT_EQ(0600, modeOf(dir.file(name))) << zoka::toUtf8(name);
    }
    EXPECT_EQ("precious", testutil::readBytes(victim));
    EXPECT_NE(0, ::access(native(dir.file(L"nowhere")).c_str(), F_OK));
}

// A stamped name taken by a link: the copy or the moved file takes the next counted name. With
// every counted name of the moment taken (another user's links), a name with a random part, so
// the log neither grows past its limit nor stays in someone else's file.
TEST(LogTargetPosixTest, RotationAndMovingAsideNeverFollowALinkAtTheStampedName) {
    for (const int taken : {1, 100}) {
        SCOPED_TRACE(taken);
        testutil::ScratchDir dir(L"stamplink");
        const std::wstring victim = dir.file(L"victim.txt");
        ASSERT_TRUE(testutil::writeBytes(victim, "precious"));
        const std::wstring big = dir.file(L"big.log");
        const std::wstring foreign = dir.file(L"foreign.log");
        const std::string bigContent =
            "\xFF\xFE" + std::string(static_cast<size_t>(LogTargetDefault::kRotateSize) - 2, 'b');
        ASSERT_TRUE(testutil::writeBytes(big, bigContent));
        ASSERT_EQ(0, ::chmod(native(big).c_str(), 0600));
        ASSERT_TRUE(testutil::writeBytes(foreign, "not utf-16"));
        std::vector<std::wstring> existing = {L"victim.txt", L"big.log", L"foreign.log"};
        const int64_t now = zoka::logfile::nowMs() / 1000;
        for (int64_t s = now - 1; s <= now + 5; ++s) {
            zoka::logfile::LocalTime t;
            ASSERT_TRUE(zoka::logfile::toLocalTime(s, t));
            for (const std::wstring& path : {big, foreign}) {
                for (int n = 1; n <= taken; ++n) {
                    std::wstring counted = zoka::logfile::stampedName(path, t);
                    if (n > 1)
                        counted.insert(counted.size() - 4, L" (" + std::to_wstring(n) + L")");
                    ASSERT_EQ(0, ::symlink(native(victim).c_str(), native(counted).c_str()));
                    existing.push_back(counted.substr(dir.path().size() + 1));
                }
            }
        }
        LogTargetDefault rotating(L"posix-stamplink");
        ASSERT_TRUE(rotating.setFile(L"big.log", dir.path().c_str()));
        ASSERT_TRUE(rotating.open());
        LogTargetDefault moving(L"posix-stamplink");
        ASSERT_TRUE(moving.setFile(L"foreign.log", dir.path().c_str()));
        EXPECT_EQ("not utf-16", testutil::readBytes(moving.movedAsidePath));
        EXPECT_EQ("precious", testutil::readBytes(victim));
        EXPECT_EQ("\xFF\xFE", testutil::readBytes(big)) << "rotated, not left to grow";
        std::vector<std::wstring> made;
        for (const std::wstring& entry : testutil::listFolder(dir.path())) {
            if (std::find(existing.begin(), existing.end(), entry) == existing.end())
                made.push_back(entry);
        }
        ASSERT_EQ(made.size(), 2u);
        for (const std::wstring& entry : made) {
            SCOPED_TRACE(native(entry));
            EXPECT_EQ(testutil::readBytes(dir.file(entry)),
                      entry.rfind(L"big ", 0) == 0 ? bigContent : "not utf-16");
            if (taken == 1) {
                EXPECT_NE(entry.find(L" (2).log"), std::wstring::npos);
                continue;
            }
            // "<name> <stamp> <16 hexadecimal digits>.log"
            const size_t blank = entry.rfind(L' ');
            ASSERT_NE(blank, std::wstring::npos);
            const std::wstring random = entry.substr(blank + 1, entry.size() - blank - 5);
            EXPECT_EQ(random.size(), 16u);
            EXPECT_EQ(random.find_first_not_of(L"0123456789abcdef"), std::wstring::npos);
        }
    }
}

// Lines the file refuses (a full disk) are never lost silently: the first is told, every one
// counted, and a line that fits again is written.
TEST(LogTargetPosixTest, LinesThatCannotBeWrittenAreToldOnceAndCounted) {
    testutil::ScratchDir dir(L"lost");
    LogTargetDefault target(L"posix-lost");
    std::vector<std::wstring> notices;
    target.onNotice = [&](const std::wstring& text) { notices.push_back(text); };
    ASSERT_TRUE(target.setFile(L"lost.log", dir.path().c_str()));
    ASSERT_TRUE(target.open());
    va_list* none = nullptr;
    const auto line = [&](const wchar_t* text) {
        target.write(zoka::LEVEL_INFO, L"", L"", L"", L"", L"", L"", text, none, 0);
    };
    withFileSizeLimit(2, [&] {
        for (const wchar_t* text : {L"one", L"two", L"three"})
            line(text);
        return true;
    });
    line(L"after");
    EXPECT_EQ(target.lostLines, 3u);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], L"A line cannot be written to the log " + dir.file(L"lost.log") +
                              L": lines that cannot be written are lost from here on.");
    const std::string bytes = testutil::readBytes(dir.file(L"lost.log"));
    EXPECT_EQ(bytes.find(testutil::utf16le(L"one")), std::string::npos);
    EXPECT_NE(bytes.find(testutil::utf16le(L"after")), std::string::npos);
}

// A temporary-folder cleaner deletes or replaces the log while it is open: the next line goes
// into a new log under the name, never into the void or into the replacement.
TEST(LogTargetPosixTest, LogDeletedOrReplacedWhileOpenIsRecreated) {
    for (const bool replaced : {false, true}) {
        testutil::ScratchDir dir(L"deleted");
        const std::wstring path = dir.file(L"cleaned.log");
        LogTargetDefault target(L"posix-cleaned");
        ASSERT_TRUE(target.setFile(L"cleaned.log", dir.path().c_str()));
        ASSERT_TRUE(zoka::LogTargetRegistry::instance().addTarget(&target));
        ASSERT_EQ(0, ::unlink(native(path).c_str()));
        if (replaced) {
            ASSERT_TRUE(testutil::writeBytes(path, "planted"));
            ASSERT_EQ(0, ::chmod(native(path).c_str(), 0666));
        }
        va_list* none = nullptr;
        target.write(zoka::LEVEL_INFO, L"", L"", L"", L"", L"", L"", L"after", none, 0);
        const std::string bytes = testutil::readBytes(path);
        EXPECT_EQ(0u, bytes.rfind("\xFF\xFE", 0)) << replaced;
        EXPECT_NE(std::string::npos, bytes.find(testutil::utf16le(L"after"))) << replaced;
        zoka::LogTargetRegistry::instance().removeTarget(&target);
    }
}

// Files planted by another user (uid 65534) in a shared sticky folder, and files that other
// users could write: never adopted, moved aside untouched, the new log readable by its owner
// only.
TEST(LogTargetPosixTest, AnotherUsersFilesAreNeverAdopted) {
    std::wstring probe = L"/bin/true";
    std::vector<std::wstring> probeArgs;
    std::string whyNot;
    if (!testutil::unprivilegedCommand(probe, probeArgs, whyNot))
        GTEST_SKIP() << whyNot;
    const std::string utf16 = "\xFF\xFE" + testutil::utf16le(L"theirs\r\n");
    struct Case {
        const char* what;
        unsigned owner;  // uid of the planted file
        mode_t mode;
        bool hardLink;  // a second name of a file of the elevated user
    } cases[] = {
        {"UTF-16 log of another user", 65534, 0600, false},
        {"UTF-16 log of another user, readable", 65534, 0644, false},
        {"own log that others may write", 0, 0666, false},
        {"own log writable by the group", 0, 0620, false},
        {"hard link to an own file", 0, 0600, true},
    };
    for (const auto& c : cases) {
        testutil::ScratchDir dir(L"shared");
        ASSERT_EQ(0, ::chmod(native(dir.path()).c_str(), 01777));
        const std::wstring path = dir.file(L"Velkaro.log");
        const std::wstring victim = dir.file(L"victim.txt");
        if (c.hardLink) {
            ASSERT_TRUE(testutil::writeBytes(victim, utf16));
            ASSERT_EQ(0, ::link(native(victim).c_str(), native(path).c_str()));
        } else {
            ASSERT_TRUE(testutil::writeBytes(path, utf16));
            ASSERT_EQ(0, ::chown(native(path).c_str(), c.owner, c.owner));
        }
        ASSERT_EQ(0, ::chmod(native(path).c_str(), c.mode));
        {
            LogTargetDefault target(L"posix-shared");
            ASSERT_TRUE(target.setFile(L"Velkaro.log", dir.path().c_str())) << c.what;
            ASSERT_TRUE(zoka::LogTargetRegistry::instance().addTarget(&target));
            va_list* none = nullptr;
            target.write(zoka::LEVEL_INFO, L"", L"", L"", L"", L"", L"", L"secret", none, 0);
            zoka::LogTargetRegistry::instance().removeTarget(&target);
            EXPECT_FALSE(target.movedAsidePath.empty()) << c.what;
            EXPECT_EQ(utf16, testutil::readBytes(target.movedAsidePath)) << c.what;
        }
        const std::string mine = testutil::readBytes(path);
        EXPECT_NE(std::string::npos, mine.find(testutil::utf16le(L"secret"))) << c.what;
        EXPECT_EQ(0600, modeOf(path)) << c.what;
        if (c.hardLink) {
            EXPECT_EQ(utf16, testutil::readBytes(victim)) << c.what;
        }
        std::wstring reader = L"/bin/cat";
        std::vector<std::wstring> args = {path};
        ASSERT_TRUE(testutil::unprivilegedCommand(reader, args, whyNot));
        EXPECT_NE(0, testutil::runProcess(reader, args).exitCode) << c.what << ": readable";
    }
}

// The file operations under rotation and moving aside: each refuses, and changes nothing,
// where it cannot act safely.
TEST(LogTargetPosixTest, RotationHelpersFailWithoutHarm) {
    testutil::ScratchDir dir(L"helpers");
    const std::wstring own = dir.file(L"own.log");
    const std::wstring other = dir.file(L"other.log");
    const std::wstring fifo = dir.file(L"fifo.log");
    const std::wstring missing = dir.file(L"missing.log");
    const std::wstring plain = dir.file(L"plain");
    const std::wstring full = dir.file(L"full.log");
    ASSERT_TRUE(testutil::writeBytes(own, "own"));
    ASSERT_EQ(0, ::chmod(native(own).c_str(), 0600));
    ASSERT_TRUE(testutil::writeBytes(full, "full"));
    ASSERT_EQ(0, ::chmod(native(full).c_str(), 0600));
    ASSERT_TRUE(testutil::writeBytes(other, "other"));
    ASSERT_EQ(0, ::chmod(native(other).c_str(), 0666));
    ASSERT_EQ(0, ::mkfifo(native(fifo).c_str(), 0600));
    ASSERT_TRUE(testutil::writeBytes(plain, "x"));
    ASSERT_EQ(0, ::symlink(native(own).c_str(), native(dir.file(L"link.log")).c_str()));
    namespace lf = zoka::logfile;
    int64_t size = -1;
    struct Case {
        const char* what;
        std::function<bool()> run;
        bool succeeds;
    } cases[] = {
        {"size of a missing file", [&] { return lf::fileSize(missing, size); }, false},
        {"size of a folder", [&] { return lf::fileSize(dir.path(), size); }, false},
        {"size through a link", [&] { return lf::fileSize(dir.file(L"link.log"), size); }, false},
        {"copy of a missing file", [&] { return lf::copyToNewFile(missing, dir.file(L"c1")); },
         false},
        {"copy of a FIFO", [&] { return lf::copyToNewFile(fifo, dir.file(L"c2")); }, false},
        {"copy onto an existing file", [&] { return lf::copyToNewFile(own, other); }, false},
        {"copy to no name", [&] { return lf::copyToNewFile(own, L""); }, false},
        {"copy into a missing folder", [&] { return lf::copyToNewFile(own, dir.file(L"none/c3")); },
         false},
        {"copy onto a full disk",
         [&] {
             return withFileSizeLimit(2, [&] { return lf::copyToNewFile(own, dir.file(L"c4")); });
         },
         false},
        {"reset onto a full disk",
         [&] { return withFileSizeLimit(1, [&] { return lf::resetFile(full, "\xFF\xFE", 2); }); },
         false},
        {"append onto a full disk",
         [&] {
             zoka::FileHandle file = lf::openForAppend(full);
             return withFileSizeLimit(1, [&] { return lf::appendAtEnd(file, "more", 4); });
         },
         false},
        {"reset of a missing file", [&] { return lf::resetFile(missing, "\xFF\xFE", 2); }, false},
        {"reset of a file others may write", [&] { return lf::resetFile(other, "\xFF\xFE", 2); },
         false},
        {"reset through a link",
         [&] { return lf::resetFile(dir.file(L"link.log"), "\xFF\xFE", 2); }, false},
        {"rename onto an existing file", [&] { return lf::renameNoReplace(own, other); }, false},
        {"rename of a missing file", [&] { return lf::renameNoReplace(missing, dir.file(L"r")); },
         false},
        {"folder tree under a file", [&] { return lf::createFolderTree(plain + L"/a/b"); }, false},
        {"folder that exists", [&] { return lf::createFolder(dir.path()); }, false},
        {"folder tree that exists", [&] { return lf::createFolderTree(dir.path()); }, true},
        {"copy of an own file", [&] { return lf::copyToNewFile(own, dir.file(L"copy")); }, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.run(), c.succeeds) << c.what;
    EXPECT_EQ("own", testutil::readBytes(own));
    EXPECT_EQ("other", testutil::readBytes(other));
    EXPECT_EQ("own", testutil::readBytes(dir.file(L"copy")));
    // A copy cut short is not left behind as if it were the whole log.
    EXPECT_FALSE(zoka::os::pathExists(dir.file(L"c4")));
    EXPECT_EQ("\xFF", testutil::readBytes(full));
    EXPECT_EQ(0600, modeOf(dir.file(L"copy")));
    EXPECT_EQ(-1, size);
}

// The same helpers where the system fails them: a flush or a read that fails leaves no copy
// behind (the log is emptied only after a whole copy), and a file system without no-replace
// renames still never overwrites an existing name.
TEST(LogTargetPosixTest, RotationHelpersSurviveFailingSystemCalls) {
    if (withFailingSystemCall(SYS_fsync, EIO, kEveryDescriptor, [] { return true; }) != 1)
        GTEST_SKIP() << "system call filters are not available here";
    testutil::ScratchDir dir(L"syscalls");
    const std::wstring own = dir.file(L"own.log");
    const std::wstring other = dir.file(L"other.log");
    const std::wstring moving = dir.file(L"moving.log");
    for (const std::wstring& path : {own, other, moving}) {
        ASSERT_TRUE(testutil::writeBytes(path, zoka::toUtf8(path)));
        ASSERT_EQ(0, ::chmod(native(path).c_str(), 0600));
    }
    namespace lf = zoka::logfile;
    struct Case {
        const char* what;
        long call;
        int error;
        int descriptor;
        std::function<bool()> run;
        int result;
    } cases[] = {
        {"copy whose flush fails", SYS_fsync, EIO, kEveryDescriptor,
         [&] { return lf::copyToNewFile(own, dir.file(L"c1")); }, 0},
        {"copy whose reading fails", SYS_read, EIO, kNextDescriptor,
         [&] { return lf::copyToNewFile(own, dir.file(L"c2")); }, 0},
        {"rename without no-replace", SYS_renameat2, EINVAL, kEveryDescriptor,
         [&] { return lf::renameNoReplace(moving, dir.file(L"moved.log")); }, 1},
        {"rename without no-replace onto an existing file", SYS_renameat2, EINVAL, kEveryDescriptor,
         [&] { return lf::renameNoReplace(own, other); }, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(withFailingSystemCall(c.call, c.error, c.descriptor, c.run), c.result) << c.what;
    EXPECT_FALSE(zoka::os::pathExists(dir.file(L"c1")));
    EXPECT_FALSE(zoka::os::pathExists(dir.file(L"c2")));
    EXPECT_FALSE(zoka::os::pathExists(moving));
    EXPECT_EQ(zoka::toUtf8(moving), testutil::readBytes(dir.file(L"moved.log")));
    EXPECT_EQ(zoka::toUtf8(own), testutil::readBytes(own));
    EXPECT_EQ(zoka::toUtf8(other), testutil::readBytes(other));
}

// A forked child is a new thread of a new process: its lines show its own thread id, not the
// one its parent remembered.
TEST(LogTargetPosixTest, ForkedChildShowsItsOwnThreadId) {
    const unsigned long parent = zoka::logfile::threadId();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool own = zoka::logfile::threadId() == static_cast<unsigned long>(::getpid());
        std::exit(own ? 0 : 1);  // exit, not _exit: the child's coverage counters are kept
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(zoka::logfile::threadId(), parent);
}

}  // namespace
