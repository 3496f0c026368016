#include <windows.h>

#include "support_test_util.h"

namespace supporttest {

bool setReadOnly(const std::wstring& path, bool readOnly) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    attributes = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY)
                          : (attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    return ::SetFileAttributesW(path.c_str(), attributes) != 0;
}

bool isReadOnly(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace supporttest
