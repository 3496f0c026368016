#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "base/posix_io.h"
#include "report/output_file_platform.h"

namespace velkaro::report::platform {

std::string outputRefusal(const std::filesystem::path& target) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return std::string();  // nothing there (or unreachable: creating the file will say)
    const char* kind = S_ISLNK(st.st_mode)                          ? "a link"
                       : S_ISDIR(st.st_mode)                        ? "a folder"
                       : S_ISFIFO(st.st_mode)                       ? "a FIFO"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                    : "a special file";
    return std::string("it is ") + kind + ", not a file";
}

intptr_t createOutput(const std::filesystem::path& temp, std::string& error) {
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = std::generic_category().message(errno);
        return kNoHandle;
    }
    return fd;
}

bool writeOutput(intptr_t handle, const char* data, size_t size, std::string& error) {
    const int code = zoka::posix::writeAll(static_cast<int>(handle), std::string_view(data, size));
    if (code != 0)
        error = std::generic_category().message(code);
    return code == 0;
}

bool closeOutput(intptr_t handle, bool flush, std::string& error) {
    const int fd = static_cast<int>(handle);
    int code = flush && ::fsync(fd) != 0 ? errno : 0;
    // EINVAL: a file system that cannot flush, nothing lost.
    if (code == EINVAL)
        code = 0;
    if (::close(fd) != 0 && code == 0 && flush)
        code = errno;
    if (code != 0)
        error = std::generic_category().message(code);
    return code == 0;
}

bool replaceOutput(const std::filesystem::path& temp, const std::filesystem::path& target,
                   std::string& error) {
    // Checked again right before: a rename would replace a device node or FIFO put there since.
    error = outputRefusal(target);
    if (!error.empty())
        return false;
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        error = std::generic_category().message(errno);
        return false;
    }
    return true;
}

void removeOutput(const std::filesystem::path& temp) {
    ::unlink(temp.c_str());
}

}  // namespace velkaro::report::platform
