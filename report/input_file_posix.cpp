#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <system_error>

#include "base/posix_io.h"
#include "base/unique_fd.h"
#include "report/input_file.h"

namespace velkaro::report {

namespace {

const char* kindOf(mode_t mode) {
    return S_ISFIFO(mode)                   ? "a FIFO, not a file"
           : S_ISCHR(mode) || S_ISBLK(mode) ? "a device, not a file"
           : S_ISSOCK(mode)                 ? "a socket, not a file"
           : S_ISDIR(mode)                  ? "a folder, not a file"
                                            : "a special file, not a file";
}

}  // namespace

InputFault readInputFile(const std::filesystem::path::value_type* path, char* buffer,
                         size_t capacity, size_t& size, std::string& error) {
    size = 0;
    // Without blocking: opening a FIFO would otherwise wait for a writer.
    zoka::posix::UniqueFd fd(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        const int code = errno;
        if (code == ENXIO) {  // a socket, or a device without its driver
            error = "a socket or device, not a file";
            return InputFault::NotAFile;
        }
        error =
            code == ELOOP ? "the link leads back to itself" : std::generic_category().message(code);
        return code == ELOOP ? InputFault::LinkLoop : InputFault::CannotRead;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        error = std::generic_category().message(errno);
        return InputFault::CannotRead;
    }
    if (!S_ISREG(st.st_mode)) {
        error = kindOf(st.st_mode);
        return InputFault::NotAFile;
    }
    while (size < capacity) {
        const size_t want = capacity - size;
        const ssize_t n = zoka::posix::readSome(fd.get(), buffer + size, want);
        if (n < 0) {
            error = std::generic_category().message(errno);
            return InputFault::CannotRead;
        }
        if (n == 0)
            break;
        size += static_cast<size_t>(n);
        // A short read that brought the whole size the file had is its end: no read more to
        // learn it (a file of size 0, as the system's own files are, is read to its end).
        if (static_cast<size_t>(n) < want && st.st_size > 0 &&
            size == static_cast<size_t>(st.st_size))
            break;
    }
    return InputFault::None;
}

}  // namespace velkaro::report
