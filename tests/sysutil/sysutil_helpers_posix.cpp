#include <sys/stat.h>
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

}  // namespace sysutiltest
