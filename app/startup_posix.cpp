#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/startup.h"
#include "base/platform.h"
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

bool getTempFolder(std::wstring& path) {
    std::wstring folder;
    if (!zoka::os::getTempPath(folder))
        return false;
    if (!zoka::os::isDirectory(folder)) {
        // Private like a Windows user's temporary folder.
        if (::mkdir(zoka::toUtf8(folder).c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (!zoka::os::isDirectory(folder))
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
