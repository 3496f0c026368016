#include "base/platform.h"

#include <errno.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

#include "base/unicode.h"

namespace zoka::os {

wchar_t pathSeparator() {
    return L'/';
}

bool getTempPath(std::wstring& path) {
    const char* dir = std::getenv("TMPDIR");
    std::wstring result = (dir != nullptr && *dir != '\0') ? fromUtf8(dir) : std::wstring(L"/tmp");
    if (result.back() != L'/')
        result.push_back(L'/');
    path = result;
    return true;
}

bool pathExists(const std::wstring& path) {
    struct stat st;
    return !path.empty() && ::stat(toUtf8(path).c_str(), &st) == 0;
}

bool pathMissing(const std::wstring& path) {
    struct stat st;
    return path.empty() ||
           (::stat(toUtf8(path).c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR));
}

bool isDirectory(const std::wstring& path) {
    struct stat st;
    return !path.empty() && ::stat(toUtf8(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool regularFileSize(const std::wstring& path, int64_t& size) {
    struct stat st;
    if (path.empty() || ::stat(toUtf8(path).c_str(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    size = static_cast<int64_t>(st.st_size);
    return true;
}

unsigned long currentThreadId() {
    return static_cast<unsigned long>(::syscall(SYS_gettid));
}

int lastError() {
    return errno;
}

}  // namespace zoka::os
