#include "base/platform.h"

#include <windows.h>

#include <cwctype>

#include "base/win32_handle.h"

namespace zoka::os {

wchar_t pathSeparator() {
    return L'\\';
}

bool getTempPath(std::wstring& path) {
    wchar_t buffer[MAX_PATH + 1];
    DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH)
        return false;
    path.assign(buffer, n);
    return true;
}

bool pathExists(const std::wstring& path) {
    return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool pathMissing(const std::wstring& path) {
    if (path.empty())
        return true;
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool isDirectory(const std::wstring& path) {
    DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// The reserved DOS device names, alone or with an extension, in any folder ("C:\x\nul.txt" is
// the null device). Wine reports some of them as disk files, so they are refused by name.
bool isDeviceName(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/:");
    const size_t start = separator == std::wstring::npos ? 0 : separator + 1;
    std::wstring base = path.substr(start, path.find(L'.', start) - start);
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (wchar_t& c : base)
        c = static_cast<wchar_t>(::towupper(c));
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
        base == L"CONOUT$")
        return true;
    return base.size() == 4 &&
           (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

}  // namespace

bool regularFileSize(const std::wstring& path, int64_t& size) {
    // Device names (\\.\, NUL, CON, pipes) are never regular files.
    if (path.empty() || path.compare(0, 4, L"\\\\.\\") == 0 || isDeviceName(path)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    win32::UniqueHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return false;
    LARGE_INTEGER bytes;
    if (::GetFileType(file.get()) != FILE_TYPE_DISK || !::GetFileSizeEx(file.get(), &bytes)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    size = static_cast<int64_t>(bytes.QuadPart);
    return true;
}

unsigned long currentThreadId() {
    return ::GetCurrentThreadId();
}

int lastError() {
    return static_cast<int>(::GetLastError());
}

}  // namespace zoka::os
