#include <shlobj.h>
#include <windows.h>

#include "e2e/e2e_platform.h"
#include "support/win32_handle.h"

namespace e2e {

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

std::vector<EnvChange> tempFolderEnv(const std::wstring& folder) {
    // GetTempPathW reads TMP first, then TEMP.
    return {{"TMP", folder}, {"TEMP", folder}};
}

bool killProcessId(unsigned long pid) {
    zoka::win32::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process)
        return false;
    const bool ok = ::TerminateProcess(process.get(), 1) != 0;
    ::WaitForSingleObject(process.get(), 10000);
    return ok;
}

bool unprivilegedCommand(std::wstring&, std::vector<std::wstring>&, std::string& whyNot) {
    whyNot = "every process runs as an administrator here (Wine); a filtered token cannot be made";
    return false;
}

void openFolderToEveryone(const std::wstring&) {}

bool copyProgram(const std::wstring& from, const std::wstring& to) {
    return ::CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

bool makeFolder(const std::wstring& path) {
    return ::CreateDirectoryW(path.c_str(), nullptr) != 0;
}

bool removeEntry(const std::wstring& path) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return ::DeleteFileW(path.c_str()) != 0 || ::RemoveDirectoryW(path.c_str()) != 0;
}

std::vector<std::wstring> listFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

}  // namespace e2e
