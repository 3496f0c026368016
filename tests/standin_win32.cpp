#include <windows.h>
// windows.h first: the other Windows headers depend on it.
#include <shlobj.h>

#include "standin.h"

namespace testutil {

namespace {

std::wstring shellFolder(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    return ::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE) ? buffer : L"";
}

}  // namespace

ProgramRoots programRoots(const std::wstring&) {
    ProgramRoots roots;
    roots.commonFiles = shellFolder(CSIDL_PROGRAM_FILES_COMMON);
    roots.programFiles = shellFolder(CSIDL_PROGRAM_FILES);
    roots.shared = true;
    return roots;
}

}  // namespace testutil
