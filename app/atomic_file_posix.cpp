#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "app/atomic_file.h"
#include "base/posix_io.h"
#include "base/unicode.h"
#include "support/string_utils.h"

namespace velkaro {

namespace {

std::wstring systemError(const wchar_t* what, int code) {
    return std::wstring(what) + L": " + zoka::fromUtf8(::strerror(code));
}

}  // namespace

bool writeFileAtomically(const std::wstring& path, const std::string& bytes, std::wstring& error) {
    std::wstring guid;
    zoka::newGuidString(guid);
    // A fresh, unguessable name created exclusively: nothing planted there can be followed.
    const std::string temp = zoka::toUtf8(path + L"." + guid + L".tmp");
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = systemError(L"cannot create the temporary file", errno);
        return false;
    }
    int failure = zoka::posix::writeAll(fd, bytes);
    const wchar_t* step = L"cannot write the temporary file";
    if (failure == 0 && ::fsync(fd) != 0) {
        failure = errno;
        step = L"cannot flush the temporary file";
    }
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
        step = L"cannot close the temporary file";
    }
    if (failure == 0 && ::rename(temp.c_str(), zoka::toUtf8(path).c_str()) != 0) {
        failure = errno;
        step = L"cannot rename the temporary file over the target";
    }
    if (failure != 0) {
        ::unlink(temp.c_str());
        error = systemError(step, failure);
        return false;
    }
    return true;
}

}  // namespace velkaro
