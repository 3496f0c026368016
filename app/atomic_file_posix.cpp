#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/atomic_file.h"
#include "base/posix_io.h"
#include "base/safe_folder_posix.h"
#include "base/unicode.h"
#include "base/unique_fd.h"
#include "support/string_utils.h"

namespace velkaro {

namespace {

using zoka::posix::UniqueFd;

std::wstring systemError(const wchar_t* what, int code) {
    return std::wstring(what) + L": " + zoka::fromUtf8(::strerror(code));
}

std::wstring named(const std::string& path, const wchar_t* what) {
    return zoka::fromUtf8(path) + what;
}

// The folder of `full` (absolute), checked at every step as the temporary folder is: owned by
// this user or root, not writable by others unless sticky, no link on the way.
UniqueFd openOwnFolder(const std::string& full, std::string& name, std::wstring& error) {
    const size_t slash = full.rfind('/');
    name = full.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        error = L"the path names a folder";
        return UniqueFd();
    }
    const std::string folder = slash == 0 ? std::string("/") : full.substr(0, slash);
    std::string reason;
    UniqueFd dir = zoka::posix::openSafeFolder(folder, reason);
    const int code = errno;
    if (!dir.valid() && !reason.empty())
        error = zoka::fromUtf8(reason);
    else if (!dir.valid())
        error = code == ENOENT
                    ? L"the folder " + named(folder, L" does not exist")
                    : systemError((L"cannot open " + zoka::fromUtf8(folder)).c_str(), code);
    return dir;
}

// The absolute form of `path`: a relative one is taken from the current folder, which the
// kernel gives without links, so its own ".." steps can be resolved by their text.
bool absolutePath(const std::wstring& path, std::string& full, std::wstring& error) {
    full = zoka::toUtf8(path);
    if (full.empty() || full.back() == '/') {
        error = L"the path names a folder";
        return false;
    }
    if (full[0] == '/')
        return true;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof(cwd)) == nullptr) {
        error = systemError(L"cannot tell the current folder", errno);
        return false;
    }
    std::string base = cwd;
    while (full.compare(0, 3, "../") == 0 || full.compare(0, 2, "./") == 0) {
        if (full[1] == '.') {
            const size_t up = base.rfind('/');
            base = up == 0 || up == std::string::npos ? std::string("/") : base.substr(0, up);
        }
        full.erase(0, full.find('/') + 1);
    }
    full = (base == "/" ? base : base + "/") + full;
    return true;
}

// Moves another user's entry at `name` to a fresh name beside it, so that nothing of theirs
// stands where this program's file is looked for. Empty when there was none to move.
bool moveAsideIfForeign(int dir, const std::string& name, const std::string& full,
                        std::wstring& movedTo, std::wstring& error) {
    struct stat entry;
    if (::fstatat(dir, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 ||
        entry.st_uid == ::geteuid())
        return true;
    std::wstring guid;
    zoka::newGuidString(guid);
    const std::string aside = name + "." + zoka::toUtf8(guid) + ".aside";
    int moved = ::renameat2(dir, name.c_str(), dir, aside.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS))
        moved = ::renameat(dir, name.c_str(), dir, aside.c_str());  // the name is unguessable
    if (moved != 0) {
        error = systemError(
            (zoka::fromUtf8(full) + L" belongs to another user and cannot be moved aside").c_str(),
            errno);
        return false;
    }
    movedTo = zoka::fromUtf8(full.substr(0, full.size() - name.size()) + aside);
    return true;
}

}  // namespace

bool writeFileAtomically(const std::wstring& path, const std::string& bytes, std::wstring& error,
                         std::wstring* movedAside, bool flush) {
    std::string full, name;
    if (!absolutePath(path, full, error))
        return false;
    UniqueFd dir = openOwnFolder(full, name, error);
    if (!dir.valid())
        return false;
    std::wstring movedTo;
    if (!moveAsideIfForeign(dir.get(), name, full, movedTo, error))
        return false;
    if (movedAside != nullptr)
        *movedAside = movedTo;
    // A device, FIFO or socket is no file to replace: a rename over /dev/null would leave a
    // plain file where the system's device was.
    struct stat entry;
    if (::fstatat(dir.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISCHR(entry.st_mode) || S_ISBLK(entry.st_mode) || S_ISFIFO(entry.st_mode) ||
         S_ISSOCK(entry.st_mode))) {
        error = L"it is not a regular file";
        return false;
    }

    std::wstring guid;
    zoka::newGuidString(guid);
    // A fresh, unguessable name created exclusively: nothing planted there can be followed.
    const std::string temp = name + "." + zoka::toUtf8(guid) + ".tmp";
    UniqueFd file(::openat(dir.get(), temp.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.valid()) {
        error = systemError(L"cannot create the temporary file", errno);
        return false;
    }
    int failure = zoka::posix::writeAll(file.get(), bytes);
    const wchar_t* step = L"cannot write the temporary file";
    if (failure == 0 && flush && ::fsync(file.get()) != 0) {
        failure = errno;
        step = L"cannot flush the temporary file";
    }
    if (::close(file.release()) != 0 && failure == 0) {
        failure = errno;
        step = L"cannot close the temporary file";
    }
    if (failure == 0 && ::renameat(dir.get(), temp.c_str(), dir.get(), name.c_str()) != 0) {
        failure = errno;
        step = L"cannot rename the temporary file over the target";
    }
    if (failure != 0) {
        ::unlinkat(dir.get(), temp.c_str(), 0);
        error = systemError(step, failure);
        return false;
    }
    return true;
}

bool moveForeignEntryAside(const std::wstring& path, std::wstring& movedTo, std::wstring& error) {
    std::string full, name;
    if (!absolutePath(path, full, error))
        return false;
    const UniqueFd dir = openOwnFolder(full, name, error);
    return dir.valid() && moveAsideIfForeign(dir.get(), name, full, movedTo, error);
}

bool sameExistingFile(const std::wstring& path, const std::wstring& other) {
    struct stat a, b;
    return ::stat(zoka::toUtf8(path).c_str(), &a) == 0 &&
           ::stat(zoka::toUtf8(other).c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

}  // namespace velkaro
