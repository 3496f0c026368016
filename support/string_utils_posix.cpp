#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <random>
#include <stdexcept>

#include "base/posix_io.h"
#include "base/unicode.h"
#include "base/unique_fd.h"
#include "logging/logger.h"
#include "support/string_utils.h"

namespace zoka {
namespace {

constexpr const wchar_t* kModule = L"StringUtils";

// Fills `buffer` from the kernel's random source; false only when none can be read.
bool randomBytes(unsigned char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::getrandom(buffer + done, size - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (done == size)
        return true;
    posix::UniqueFd fd(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    while (fd.valid() && done < size) {
        const ssize_t n = posix::readSome(fd.get(), buffer + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done == size;
}

}  // namespace

bool nativeToUTF8(const wchar_t* native, std::string& utf8) {
    if (native == nullptr)
        native = L"";
    try {
        std::string converted = toUtf8(std::wstring_view(native, std::wcslen(native)));
        utf8.swap(converted);
        return true;
    } catch (const std::exception&) {
        libraryLog(nullptr, LEVEL_WARN, kModule,
                   L"Error allocating memory while converting Native string to UTF8 string");
        return false;
    }
}

bool utf8ToNative(const char* utf8, std::wstring& native) {
    if (utf8 == nullptr)
        utf8 = "";
    try {
        std::wstring converted = fromUtf8(std::string_view(utf8, std::strlen(utf8)));
        native.swap(converted);
        return true;
    } catch (const std::exception&) {
        libraryLog(nullptr, LEVEL_WARN, kModule,
                   L"Error allocating memory while converting UTF8 string to Native string");
        return false;
    }
}

bool newGuidString(std::wstring& guid) {
    unsigned char bytes[16];
    if (!randomBytes(bytes, sizeof(bytes))) {
        // No kernel source at all: still a fresh value, from the C++ library's generator.
        std::random_device device;
        for (unsigned char& b : bytes)
            b = static_cast<unsigned char>(device());
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring text = L"{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text.push_back(L'-');
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 0x0F]);
    }
    text.push_back(L'}');
    guid = text;
    return true;
}

}  // namespace zoka
