#include "support/platform.h"

#include <windows.h>

#include "support/win32_handle.h"

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

bool isDirectory(const std::wstring& path) {
    DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool regularFileSize(const std::wstring& path, int64_t& size) {
    // Device names (\\.\, NUL, CON, pipes) are never regular files.
    if (path.empty() || path.compare(0, 4, L"\\\\.\\") == 0) {
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
