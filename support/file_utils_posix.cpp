// File utilities over POSIX calls. The Windows notions map as follows:
// - the base folders come from $CommonProgramFiles and $ProgramFiles (else "/opt/Common Files"
//   and "/opt"), and every join uses '/';
// - "read-only" is a file or folder without the owner's write permission. Windows refuses to
//   delete a read-only file or folder (ERROR_ACCESS_DENIED) whoever asks, so the same refusal is
//   made here as EACCES before unlink or rmdir; clearing the attribute is chmod u+w;
// - GetLastError() is errno, reported as its number;
// - nothing is followed through a symbolic link: trees are walked with directory descriptors,
//   fstatat(AT_SYMLINK_NOFOLLOW) and unlinkat, and a link is removed as a link.

#include "support/file_utils.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/unicode.h"
#include "base/unique_fd.h"
#include "logging/logger.h"
#include "support/file_utils_platform.h"
#include "support/file_utils_posix.h"
#include "support/string_utils.h"

namespace zoka {

namespace {

constexpr wchar_t kModule[] = L"FileUtils";

bool isReadOnly(const struct stat& st) {
    return (st.st_mode & S_IWUSR) == 0;
}

int permissionBits(const struct stat& st) {
    return static_cast<int>(st.st_mode & 07777);
}

std::wstring baseFolder(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    std::wstring folder = fromUtf8(value != nullptr && *value != '\0' ? value : fallback);
    while (!folder.empty() && folder.back() == L'/')
        folder.pop_back();
    return folder;
}

// chmod of the entry `name` that was found as `seen`, never through a link: another user may
// swap a link in after the check. The entry is opened without following links (O_PATH when it
// cannot be read) and changed only when it is still the very entry that was checked.
int chmodNoFollow(int dirFd, const std::string& name, const struct stat& seen, mode_t mode) {
    posix::UniqueFd fd(
        ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    bool pathOnly = false;
    if (!fd.valid()) {
        fd.reset(::openat(dirFd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        pathOnly = true;
    }
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0)
        return -1;
    if (S_ISLNK(st.st_mode) || st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) {
        errno = ELOOP;
        return -1;
    }
    if (!pathOnly)
        return ::fchmod(fd.get(), mode);
    // fchmod refuses a path-only descriptor; its /proc name is the entry itself.
    return ::chmod(("/proc/self/fd/" + std::to_string(fd.get())).c_str(), mode);
}

// unlinkat of a non-folder entry, with the read-only refusal that Windows makes.
int unlinkEntry(int dirFd, const std::string& name) {
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode) &&
        !S_ISDIR(st.st_mode) && isReadOnly(st))
        return EACCES;
    return ::unlinkat(dirFd, name.c_str(), 0) == 0 ? 0 : errno;
}

bool deleteFileAt(int dirFd, const std::string& name, const std::wstring& path, bool removeReadOnly,
                  AbstractLogger* logger) {
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
        (errno == ENOENT || errno == ENOTDIR))
        return true;
    int error = unlinkEntry(dirFd, name);
    if (error == 0)
        return true;
    if (removeReadOnly && error == EACCES &&
        ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode) &&
        isReadOnly(st)) {
        libraryLog(logger, LEVEL_DEBUG, kModule,
                   L"File '%s' is with read-only. Its attribute is: '%d'. UnSetting its read-only "
                   L"attr and retry deleting",
                   path.c_str(), permissionBits(st));
        chmodNoFollow(dirFd, name, st, (st.st_mode & 07777) | S_IWUSR);
        error = unlinkEntry(dirFd, name);
        if (error == 0)
            return true;
    }
    libraryLog(logger, LEVEL_ERROR, kModule, L"Failed to delete file: '%s' LastError:%d",
               path.c_str(), error);
    errno = error;
    return false;
}

bool removeFolderAt(int dirFd, const std::string& name, const std::wstring& path,
                    std::wstring& failedPath, bool recursive, bool removeReadOnly,
                    AbstractLogger* logger);

void deleteEntries(int folderFd, const std::wstring& path, std::wstring& failedPath,
                   bool removeReadOnly, AbstractLogger* logger) {
    int listFd = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (listFd < 0)
        return;
    DIR* dir = ::fdopendir(listFd);
    if (dir == nullptr) {
        ::close(listFd);
        return;
    }
    // Names first, removals after: the listing never runs over entries being removed.
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        std::wstring child = path;
        appendPath(child, fromUtf8(name));
        struct stat st;
        bool isFolder =
            ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        if (isFolder)
            removeFolderAt(folderFd, name, child, failedPath, true, removeReadOnly, logger);
        else if (!deleteFileAt(folderFd, name, child, removeReadOnly, logger))
            failedPath = child;
    }
}

bool removeFolderAt(int dirFd, const std::string& name, const std::wstring& path,
                    std::wstring& failedPath, bool recursive, bool removeReadOnly,
                    AbstractLogger* logger) {
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    // A link to a folder goes as a link; what it points to is never touched.
    if (S_ISLNK(st.st_mode))
        return ::unlinkat(dirFd, name.c_str(), 0) == 0;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    posix::UniqueFd folder(
        ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // POSIX cannot remove the entries of a folder without write permission, so a read-only
    // folder is made writable before its entries go (Windows clears it just before removal).
    if (removeReadOnly && isReadOnly(st)) {
        libraryLog(logger, LEVEL_DEBUG, kModule,
                   L"Directory '%s' is with read-only. Its attribute is: '%d'. UnSetting its "
                   L"read-only attr and retry deleting",
                   path.c_str(), permissionBits(st));
        mode_t mode = (st.st_mode & 07777) | S_IWUSR;
        int changed =
            folder.valid() ? ::fchmod(folder.get(), mode) : chmodNoFollow(dirFd, name, st, mode);
        if (changed == 0)
            st.st_mode |= S_IWUSR;
    }
    if (recursive && folder.valid())
        deleteEntries(folder.get(), path, failedPath, removeReadOnly, logger);
    folder.reset();
    if (isReadOnly(st)) {
        errno = EACCES;
        return false;
    }
    return ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) == 0;
}

std::wstring decodeText(const std::string& bytes) {
    std::wstring text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                  static_cast<unsigned char>(bytes[i + 1]) << 8));
        text = fromUtf16(units);
    } else {
        size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        text = fromUtf8(std::string_view(bytes).substr(start));
    }
    // Text mode: CR LF reads as LF.
    size_t out = 0;
    for (size_t in = 0; in < text.size(); ++in) {
        if (text[in] == L'\r' && in + 1 < text.size() && text[in + 1] == L'\n')
            continue;
        text[out++] = text[in];
    }
    text.resize(out);
    return text;
}

}  // namespace

namespace posix {

int createRegularFile(const std::string& path, UniqueFd& fd) {
    constexpr int kFlags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    UniqueFd file(::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666));
    if (!file.valid()) {
        if (errno != EEXIST)
            return errno;
        // It exists: open it without following a link, and truncate it only once it has been
        // seen to be a writable regular file.
        file.reset(::open(path.c_str(), kFlags));
        if (!file.valid())
            return errno;
        struct stat st;
        if (::fstat(file.get(), &st) != 0)
            return errno;
        if (!S_ISREG(st.st_mode))
            return EINVAL;
        if (isReadOnly(st))
            return EACCES;
        if (::ftruncate(file.get(), 0) != 0)
            return errno;
    }
    int flags = ::fcntl(file.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);
    fd = std::move(file);
    return 0;
}

}  // namespace posix

namespace fileplatform {

bool removeLastComponent(std::wstring& path) {
    if (path.empty()) {
        errno = EINVAL;
        return false;
    }
    size_t slash = path.rfind(L'/');
    if (slash == std::wstring::npos) {
        path.clear();
        return true;
    }
    size_t end = slash;
    while (end > 0 && path[end - 1] == L'/')
        --end;
    // The root stays: "/a" becomes "/".
    path.resize(end == 0 ? 1 : end);
    return true;
}

bool joinPath(std::wstring& base, const std::wstring& more) {
    try {
        std::wstring joined = base;
        while (joined.size() > 1 && joined.back() == L'/')
            joined.pop_back();
        size_t start = more.find_first_not_of(L'/');
        if (joined.back() != L'/')
            joined.push_back(L'/');
        if (start != std::wstring::npos)
            joined.append(more, start, std::wstring::npos);
        base = std::move(joined);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int createFolderTree(const std::wstring& path) {
    std::string target = toUtf8(path);
    if (target.empty())
        return ENOENT;
    for (size_t i = 1; i <= target.size(); ++i) {
        if (i < target.size() && target[i] != '/')
            continue;
        if (target[i - 1] == '/')
            continue;
        std::string prefix = target.substr(0, i);
        if (::mkdir(prefix.c_str(), 0777) == 0)
            continue;
        int error = errno;
        struct stat st;
        if (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        return error == EEXIST ? ENOTDIR : error;
    }
    return 0;
}

}  // namespace fileplatform

bool getMakerCommonFilesFolder(std::wstring& path) {
    path = baseFolder("CommonProgramFiles", "/opt/Common Files") + L"/Quenda";
    return true;
}

bool getMakerProductFolder(std::wstring& path) {
    path = baseFolder("ProgramFiles", "/opt") + L"/Quenda/Quenda Loomwork";
    return true;
}

bool deleteDirectory(const std::wstring& path, std::wstring& failedPath, bool recursive,
                     bool removeReadOnly, AbstractLogger* logger, bool logSuccess) {
    if (!os::isDirectory(path)) {
        libraryLog(logger, LEVEL_WARN, kModule, L"Directory to delete not present at location '%s'",
                   path.c_str());
        return false;
    }
    // A trailing '/' would make even the no-follow calls go through a link.
    std::string target = toUtf8(path);
    while (target.size() > 1 && target.back() == '/')
        target.pop_back();
    bool removed =
        removeFolderAt(AT_FDCWD, target, path, failedPath, recursive, removeReadOnly, logger);
    if (removed && logSuccess)
        libraryLog(logger, LEVEL_INFO, kModule,
                   L"Successfully deleted directory from path: %s. Recursive: %d", path.c_str(),
                   recursive ? 1 : 0);
    return removed;
}

bool deleteFile(const std::wstring& path, bool removeReadOnly, AbstractLogger* logger) {
    return deleteFileAt(AT_FDCWD, toUtf8(path), path, removeReadOnly, logger);
}

bool writeTextFile(const std::wstring& path, const std::wstring& text) {
    posix::UniqueFd fd;
    int error = posix::createRegularFile(toUtf8(path), fd);
    if (error != 0) {
        libraryLog(nullptr, LEVEL_ERROR, kModule, L"Failed to create file at path :%s Error:%d",
                   path.c_str(), error);
        errno = error;
        return false;
    }
    std::string utf8;
    if (!nativeToUTF8(text.c_str(), utf8))
        return false;
    error = posix::writeAll(fd.get(), utf8);
    if (error != 0) {
        libraryLog(nullptr, LEVEL_ERROR, kModule, L"Failed to write in file ERROR_VAL:%d\n", error);
        errno = error;
        return false;
    }
    ::fsync(fd.get());
    return true;
}

bool readTextFile(const std::wstring& path, std::wstring& text) {
    text.clear();
    posix::UniqueFd fd(::open(toUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return false;
    // Only a regular file has an end: a device or a pipe could be read for ever.
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    try {
        // Never more than the size the file had when opened, even if it grows meanwhile.
        std::string bytes(static_cast<size_t>(st.st_size), '\0');
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = posix::readSome(fd.get(), &bytes[done], bytes.size() - done);
            if (n <= 0)
                break;  // end of file, or a read error: keep what was read
            done += static_cast<size_t>(n);
        }
        bytes.resize(done);
        text = decodeText(bytes);
        return true;
    } catch (const std::bad_alloc&) {
        text.clear();
        return false;
    }
}

}  // namespace zoka
