#pragma once
// Reads and writes on a POSIX file descriptor that a signal cannot cut short, for the
// *_posix.cpp files only (header-only, so every library and program can use it).

#include <errno.h>
#include <unistd.h>

#include <cstddef>
#include <string_view>

namespace zoka::posix {

/// read(2), repeated while a signal interrupts it: the count read, 0 at the end, -1 on error.
inline ssize_t readSome(int fd, void* buffer, size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

/// Writes every byte to `fd`; 0, or the errno value of the failure (EIO when nothing is taken).
inline int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

}  // namespace zoka::posix
