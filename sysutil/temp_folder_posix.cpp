#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/unicode.h"
#include "sysutil/temp_folder_platform.h"

namespace korr::detail {
namespace {

constexpr mode_t kPrivate = 0700;

// Accepts an entry only when it is a real folder of ours (never a link), and makes it private.
// Nobody else can swap it between the two calls: it is ours, in a folder that is ours or sticky.
bool adoptExisting(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        errno = EEXIST;
        return false;
    }
    return (st.st_mode & 07777) == kPrivate || ::chmod(path.c_str(), kPrivate) == 0;
}

// mkdir never follows a link at the last component; whatever stands there afterwards, new or
// planted, must pass adoptExisting (which also undoes a umask that took the owner's bits).
bool makePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), kPrivate) != 0 && errno != EEXIST)
        return false;
    return adoptExisting(path);
}

}  // namespace

bool createRunFolder(const std::wstring& path) {
    std::string target = zoka::toUtf8(path);
    while (target.size() > 1 && target.back() == '/')
        target.pop_back();
    if (target.empty())
        return false;

    // Missing parents are created private too, like every folder this program makes.
    for (size_t slash = target.find('/', 1); slash != std::string::npos;
         slash = target.find('/', slash + 1)) {
        const std::string parent = target.substr(0, slash);
        if (parent.back() == '/')
            continue;
        struct stat st;
        if (::stat(parent.c_str(), &st) == 0)
            continue;
        if (::mkdir(parent.c_str(), kPrivate) != 0 && errno != EEXIST)
            return false;
    }
    return makePrivateFolder(target);
}

void recreateVanishedFolder(const std::wstring& path) {
    struct stat st;
    const std::string target = zoka::toUtf8(path);
    if (!target.empty() && ::lstat(target.c_str(), &st) != 0 && errno == ENOENT) {
        createRunFolder(path);
    }
}

}  // namespace korr::detail
