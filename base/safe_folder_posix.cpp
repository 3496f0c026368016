#include "base/safe_folder_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace zoka::posix {

UniqueFd openSafeFolder(const std::string& path, std::string& reason) {
    if (path.empty() || path.front() != '/') {
        reason = path + " is not an absolute path";
        return UniqueFd();
    }
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    UniqueFd folder(::open("/", kFlags));
    std::string reached = "/";
    size_t pos = 0;
    for (;;) {
        struct stat st;
        if (!folder.valid() || ::fstat(folder.get(), &st) != 0) {
            reason.clear();  // errno tells why
            return UniqueFd();
        }
        if (st.st_uid != ::geteuid() && st.st_uid != 0) {
            reason = reached + " belongs to another user";
            return UniqueFd();
        }
        // Group members count as other users: any of them could rename the entries.
        if ((st.st_mode & 022) != 0 && (st.st_mode & S_ISVTX) == 0) {
            reason = reached + " is writable by other users";
            return UniqueFd();
        }
        while (pos < path.size() && path[pos] == '/')
            ++pos;
        if (pos >= path.size())
            return folder;
        const size_t end = path.find('/', pos);
        const std::string name = path.substr(pos, end == std::string::npos ? end : end - pos);
        pos = end == std::string::npos ? path.size() : end;
        if (reached.back() != '/')
            reached += '/';
        reached += name;
        if (name == "..") {
            reason = reached + " climbs out of a folder";
            return UniqueFd();
        }
        struct stat entry;
        if (::fstatat(folder.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(entry.st_mode)) {
            reason = reached + " is a symbolic link";
            return UniqueFd();
        }
        folder.reset(::openat(folder.get(), name.c_str(), kFlags));
    }
}

}  // namespace zoka::posix
