#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

#include "app/startup.h"
#include "base/platform.h"
#include "base/safe_folder_posix.h"
#include "base/unicode.h"

namespace velkaro {

std::vector<std::wstring> commandLineWords(int argc, char** argv) {
    std::vector<std::wstring> words;
    for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i)
        words.push_back(zoka::fromUtf8(argv[i]));
    return words;
}

void initializeCom() {}

void ensureStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open() takes the lowest free descriptor, which is this one.
        int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd)
            ::close(opened);
    }
}

bool getTempFolder(std::wstring& path, std::wstring& whyNot) {
    std::wstring folder;
    if (!zoka::os::getTempPath(folder))
        return false;
    std::string native = zoka::toUtf8(folder);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    // Another user who can rename entries in it (or above it) could swap the run folder, or
    // point the log elsewhere. A missing folder is made private, like a Windows user's
    // temporary folder, and only in a parent that passes the same check, so that no link
    // decides where it goes.
    std::string reason;
    zoka::posix::UniqueFd usable = zoka::posix::openSafeFolder(native, reason);
    const size_t slash = native.rfind('/');
    if (!usable.valid() && errno == ENOENT && slash != std::string::npos && slash > 0) {
        std::string parentReason;
        zoka::posix::UniqueFd parent =
            zoka::posix::openSafeFolder(native.substr(0, slash), parentReason);
        if (!parent.valid()) {
            reason = parentReason;
        } else if (::mkdirat(parent.get(), native.c_str() + slash + 1, 0700) == 0 ||
                   errno == EEXIST) {
            usable = zoka::posix::openSafeFolder(native, reason);
        }
    }
    if (!usable.valid()) {
        // A folder that cannot be had at all says no more than that.
        if (!reason.empty())
            whyNot = L"The temporary folder " + zoka::fromUtf8(reason) + L".";
        return false;
    }
    path = folder;
    return true;
}

std::wstring hostName() {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof(buffer) - 1) != 0)
        return std::wstring();
    return zoka::fromUtf8(buffer);
}

std::wstring machineId() {
    // 32 hexadecimal digits and a line end; anything else ("uninitialized" early in a boot, an
    // empty file in a container) is no identity.
    char buffer[64];
    zoka::posix::UniqueFd file(::open("/etc/machine-id", O_RDONLY | O_CLOEXEC | O_NOCTTY));
    const ssize_t n = file.valid() ? ::read(file.get(), buffer, sizeof(buffer)) : -1;
    if (n < 32 || (n > 32 && buffer[32] != '\n') || n > 33)
        return std::wstring();
    std::wstring id;
    for (int i = 0; i < 32; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(buffer[i])))
            return std::wstring();
        id += static_cast<wchar_t>(buffer[i]);
    }
    return id;
}

unsigned long processId() {
    return static_cast<unsigned long>(::getpid());
}

bool getExecutableFolder(std::wstring& path) {
    // The link's target can be longer than PATH_MAX only in theory; a cut path is refused.
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(buffer))
        return false;
    std::string file(buffer, static_cast<size_t>(n));
    size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return false;
    // The root keeps its separator, as PathRemoveFileSpecW keeps "C:\".
    path = zoka::fromUtf8(file.substr(0, slash == 0 ? 1 : slash));
    return true;
}

}  // namespace velkaro
