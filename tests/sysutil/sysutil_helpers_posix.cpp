#include <errno.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "base/named_lock_posix.h"
#include "base/unicode.h"
#include "sysutil/sysutil_helpers.h"

namespace sysutiltest {

bool runningAsRoot() {
    return ::geteuid() == 0;
}

bool systemSplitCommandLine(const std::wstring&, std::vector<std::wstring>&) {
    return false;
}

bool setMode(const std::wstring& path, unsigned mode) {
    return ::chmod(zoka::toUtf8(path).c_str(), static_cast<mode_t>(mode)) == 0;
}

unsigned modeOf(const std::wstring& path) {
    struct stat st;
    if (::lstat(zoka::toUtf8(path).c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

bool makeSymlink(const std::wstring& target, const std::wstring& link) {
    return ::symlink(zoka::toUtf8(target).c_str(), zoka::toUtf8(link).c_str()) == 0;
}

bool giveAway(const std::wstring& path, unsigned uid) {
    return ::lchown(zoka::toUtf8(path).c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(-1)) ==
           0;
}

void removeLockFile(const std::wstring& objectName) {
    ::unlink(zoka::posix::NamedLock::lockFilePath(objectName).c_str());
}

std::wstring accessList(const std::wstring&, std::wstring&) {
    return L"";
}

bool canHidePidfd() {
    return true;
}

bool hidePidfd() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pidfd_open, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program = {static_cast<unsigned short>(sizeof(filter) / sizeof(filter[0])), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

}  // namespace sysutiltest
