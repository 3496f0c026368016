#include <windows.h>
// windows.h first: the other Windows headers depend on it.
#include <objbase.h>

#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "logging/logger.h"
#include "support/string_utils.h"

namespace zoka {
namespace {

constexpr const wchar_t* kModule = L"StringUtils";

}  // namespace

bool nativeToUTF8(const wchar_t* native, std::string& utf8) {
    if (native == nullptr)
        native = L"";
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, native, -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> buffer;
    try {
        buffer.resize(static_cast<size_t>(n > 0 ? n : 0) + 1);
    } catch (const std::exception&) {
        libraryLog(nullptr, LEVEL_WARN, kModule,
                   L"Error allocating memory while converting Native string to UTF8 string");
        return false;
    }
    const int converted =
        ::WideCharToMultiByte(CP_UTF8, 0, native, -1, buffer.data(), n + 1, nullptr, nullptr);
    if (converted <= 0) {
        libraryLog(nullptr, LEVEL_WARN, kModule,
                   L"Failed to convert WideCharToMultiByte. ErrorCode::%d",
                   static_cast<int>(::GetLastError()));
        return false;
    }
    buffer[static_cast<size_t>(n)] = '\0';
    utf8.assign(buffer.data());
    return true;
}

bool utf8ToNative(const char* utf8, std::wstring& native) {
    if (utf8 == nullptr)
        utf8 = "";
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::vector<wchar_t> buffer;
    try {
        // A size whose bytes would not fit 32 bits is refused, as the allocator would.
        const uint64_t units = static_cast<uint64_t>(n > 0 ? n : 0) + 1;
        if (units * sizeof(wchar_t) > std::numeric_limits<uint32_t>::max())
            throw std::bad_alloc();
        buffer.resize(static_cast<size_t>(units));
    } catch (const std::exception&) {
        libraryLog(nullptr, LEVEL_WARN, kModule,
                   L"Error allocating memory while converting UTF8 string to Native string");
        return false;
    }
    const int converted = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buffer.data(), n);
    if (converted <= 0) {
        libraryLog(nullptr, LEVEL_WARN, kModule,
                   L"Failed to convert MultiByteToWideChar. ErrorCode::%d",
                   static_cast<int>(::GetLastError()));
        return false;
    }
    buffer[static_cast<size_t>(n)] = L'\0';
    native.assign(buffer.data());
    return true;
}

bool newGuidString(std::wstring& guid) {
    GUID value{};
    ::CoCreateGuid(&value);
    wchar_t buffer[260];
    const int n = ::StringFromGUID2(value, buffer, 260);
    guid.assign(buffer, n > 0 ? static_cast<size_t>(n - 1) : 0);
    return true;
}

}  // namespace zoka
