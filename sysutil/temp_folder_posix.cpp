#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "base/posix_io.h"
#include "base/safe_folder_posix.h"
#include "base/unicode.h"
#include "base/unique_fd.h"
#include "sysutil/temp_folder_platform.h"

namespace korr::detail {

using zoka::posix::UniqueFd;

struct HeldFolder {
    UniqueFd fd;
    dev_t device = 0;
    ino_t inode = 0;
};

void HeldFolderDeleter::operator()(HeldFolder* folder) const {
    delete folder;
}

namespace {

std::string native(const std::wstring& path) {
    std::string text = zoka::toUtf8(path);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

}  // namespace

HeldFolderPtr createHeldFolder(const std::wstring& parent, const std::wstring& name) {
    // The temporary folder has been checked at start; checking it again here keeps a run
    // folder out of any folder another user could rename it out of.
    std::string reason;
    UniqueFd temp = zoka::posix::openSafeFolder(native(parent), reason);
    if (!temp.valid())
        return nullptr;
    const std::string leaf = zoka::toUtf8(name);
    // mkdirat is exclusive and never follows a link: the folder is new, and ours.
    if (::mkdirat(temp.get(), leaf.c_str(), 0700) != 0)
        return nullptr;
    HeldFolderPtr held(new HeldFolder);
    held->fd.reset(
        ::openat(temp.get(), leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!held->fd.valid() || ::fstat(held->fd.get(), &st) != 0 || st.st_uid != ::geteuid()) {
        ::unlinkat(temp.get(), leaf.c_str(), AT_REMOVEDIR);
        return nullptr;
    }
    // A umask may have taken the owner's bits.
    if ((st.st_mode & 07777) != 0700 && ::fchmod(held->fd.get(), 0700) != 0)
        return nullptr;
    held->device = st.st_dev;
    held->inode = st.st_ino;
    return held;
}

bool writeNewFile(HeldFolder& folder, const std::wstring& name, const std::string& bytes) {
    UniqueFd file(::openat(folder.fd.get(), zoka::toUtf8(name).c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.valid())
        return false;
    if (zoka::posix::writeAll(file.get(), bytes) != 0) {
        ::unlinkat(folder.fd.get(), zoka::toUtf8(name).c_str(), 0);
        return false;
    }
    return true;
}

bool leadsTo(const HeldFolder& folder, const std::wstring& path) {
    struct stat st;
    return ::lstat(native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_dev == folder.device && st.st_ino == folder.inode;
}

bool isGone(const std::wstring& path) {
    struct stat st;
    return ::lstat(native(path).c_str(), &st) != 0 && errno == ENOENT;
}

void release(HeldFolderPtr& folder) {
    folder.reset();
}

unsigned long currentProcessId() {
    return static_cast<unsigned long>(::getpid());
}

bool processStartTime(unsigned long processId, uint64_t& startTime) {
    std::ifstream in("/proc/" + std::to_string(processId) + "/stat");
    std::string text;
    if (!in || !std::getline(in, text))
        return false;
    // The command name (field 2) may hold blanks and parentheses: fields count from its end.
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    // Fields 3 to 21, then the start time (field 22).
    for (int i = 3; i <= 21; ++i) {
        if (!(fields >> field))
            return false;
    }
    unsigned long long start = 0;
    if (!(fields >> start))
        return false;
    startTime = start;
    return true;
}

std::vector<std::wstring> ownFolders(const std::wstring& parent) {
    std::vector<std::wstring> names;
    UniqueFd fd(::open(native(parent).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return names;
    DIR* dir = ::fdopendir(fd.get());
    if (dir == nullptr)
        return names;
    const int dirFd = fd.release();  // closedir closes it
    while (const struct dirent* entry = ::readdir(dir)) {
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
            st.st_uid == ::geteuid())
            names.push_back(zoka::fromUtf8(entry->d_name));
    }
    ::closedir(dir);
    return names;
}

std::vector<std::wstring> entryNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    UniqueFd fd(::open(native(folder).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return names;
    DIR* dir = ::fdopendir(fd.get());
    if (dir == nullptr)
        return names;
    fd.release();  // closedir closes it
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(zoka::fromUtf8(name));
    }
    ::closedir(dir);
    return names;
}

bool readOwnFile(const std::wstring& folder, const std::wstring& name, size_t limit,
                 std::string& bytes) {
    UniqueFd dir(::open(native(folder).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid())
        return false;
    UniqueFd file(::openat(dir.get(), zoka::toUtf8(name).c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!file.valid() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() || static_cast<size_t>(st.st_size) > limit)
        return false;
    std::string text(limit, '\0');
    const ssize_t n = zoka::posix::readSome(file.get(), &text[0], limit);
    if (n < 0)
        return false;
    text.resize(static_cast<size_t>(n));
    bytes = text;
    return true;
}

}  // namespace korr::detail
