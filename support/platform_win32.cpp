#include "support/platform.h"

#include <windows.h>

namespace zoka::os {

wchar_t pathSeparator() { return L'\\'; }

bool getTempPath(std::wstring& path) {
    wchar_t buffer[MAX_PATH + 1];
    DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH) return false;
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

unsigned long currentThreadId() { return ::GetCurrentThreadId(); }

int lastError() { return static_cast<int>(::GetLastError()); }

void setLastError(int code) { ::SetLastError(static_cast<DWORD>(code)); }

}  // namespace zoka::os
