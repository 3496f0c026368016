#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/atomic_file.h"
#include "base/posix_io.h"
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

// Another user who owns the folder, or may write into it without the sticky bit, could put
// their own file or link at the name between two runs, or rename the file away.
const wchar_t* foreignFolder(const struct stat& st) {
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return L" belongs to another user";
    const bool groupOfOthers = st.st_gid != 0 && st.st_gid != ::getegid();
    const bool othersWrite =
        (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && groupOfOthers);
    if (othersWrite && (st.st_mode & S_ISVTX) == 0)
        return L" is writable by other users";
    return nullptr;
}

// Opens the folder `folder` (absolute) one step at a time without following a link, and
// checks the folder reached; `error` says why it is refused.
UniqueFd openOwnFolder(const std::string& folder, std::wstring& error) {
    UniqueFd dir(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) {
        error = systemError(L"cannot open the root folder", errno);
        return UniqueFd();
    }
    std::string walked;
    size_t from = 0;
    while (from < folder.size()) {
        size_t to = folder.find('/', from);
        if (to == std::string::npos)
            to = folder.size();
        const std::string step = folder.substr(from, to - from);
        from = to + 1;
        if (step.empty() || step == ".")
            continue;
        walked += "/" + step;
        struct stat st;
        if (::fstatat(dir.get(), step.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            error = errno == ENOENT
                        ? L"the folder " + named(walked, L" does not exist")
                        : systemError((L"cannot reach " + zoka::fromUtf8(walked)).c_str(), errno);
            return UniqueFd();
        }
        if (S_ISLNK(st.st_mode)) {
            error = named(walked,
                          L" is a link: the results file's folder must be reached "
                          L"without one");
            return UniqueFd();
        }
        UniqueFd next(
            ::openat(dir.get(), step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid()) {
            error = errno == ENOTDIR
                        ? named(walked, L" is not a folder")
                        : systemError((L"cannot open " + zoka::fromUtf8(walked)).c_str(), errno);
            return UniqueFd();
        }
        dir = std::move(next);
    }
    struct stat st;
    if (::fstat(dir.get(), &st) != 0) {
        error = systemError(L"cannot examine the folder", errno);
        return UniqueFd();
    }
    if (const wchar_t* why = foreignFolder(st)) {
        error = L"the folder " + named(walked.empty() ? "/" : walked, why);
        return UniqueFd();
    }
    return dir;
}

}  // namespace

bool writeFileAtomically(const std::wstring& path, const std::string& bytes, std::wstring& error) {
    std::string full = zoka::toUtf8(path);
    if (full.empty() || full.back() == '/') {
        error = L"the path names a folder";
        return false;
    }
    if (full[0] != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof(cwd)) == nullptr) {
            error = systemError(L"cannot tell the current folder", errno);
            return false;
        }
        full = std::string(cwd) + "/" + full;
    }
    const size_t slash = full.rfind('/');
    const std::string name = full.substr(slash + 1);
    if (name == "." || name == "..") {
        error = L"the path names a folder";
        return false;
    }
    UniqueFd dir = openOwnFolder(full.substr(0, slash), error);
    if (!dir.valid())
        return false;
    // In a folder others may write into (sticky), whatever stands at the name must be ours:
    // a folder or file planted there by someone else is not quietly replaced or kept.
    struct stat folder;
    struct stat entry;
    if (::fstat(dir.get(), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 &&
        ::fstatat(dir.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
        (!S_ISREG(entry.st_mode) || entry.st_uid != ::geteuid())) {
        error = zoka::fromUtf8(full) +
                L" is not this user's own file, in a folder other users may write into";
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
    if (failure == 0 && ::fsync(file.get()) != 0) {
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

bool sameExistingFile(const std::wstring& path, const std::wstring& other) {
    struct stat a, b;
    return ::stat(zoka::toUtf8(path).c_str(), &a) == 0 &&
           ::stat(zoka::toUtf8(other).c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

}  // namespace velkaro
