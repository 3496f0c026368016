#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/digest.h"
#include "base/unicode.h"
#include "base/unique_fd.h"

namespace velkaro {

std::wstring sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        return std::wstring();
    std::wstring hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += L"0123456789abcdef"[digest[i] >> 4];
        hex += L"0123456789abcdef"[digest[i] & 0xF];
    }
    return hex;
}

std::wstring fileSha256(const std::wstring& path) {
    // O_NONBLOCK: a FIFO at the path must not hold the run up; only a regular file is read.
    zoka::posix::UniqueFd file(
        ::open(zoka::toUtf8(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!file.valid() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::wstring();
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof(buffer));
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::wstring();
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return sha256Hex(bytes);
}

}  // namespace velkaro
