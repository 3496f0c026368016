#include <windows.h>

#include "base/win32_handle.h"
#include "e2e/e2e_platform.h"

namespace e2e {

bool killProcessId(unsigned long pid) {
    zoka::win32::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process)
        return false;
    const bool ok = ::TerminateProcess(process.get(), 1) != 0;
    ::WaitForSingleObject(process.get(), 10000);
    return ok;
}

bool processAlive(unsigned long pid) {
    zoka::win32::UniqueHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    return process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

bool processReaped(unsigned long pid) {
    return !processAlive(pid);
}

bool makeReadOnly(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           ::SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY) != 0;
}

void openFolderToEveryone(const std::wstring&) {}

namespace {

const wchar_t kCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";

/// Owns an open registry key.
struct RegKey {
    HKEY key = nullptr;
    ~RegKey() {
        if (key != nullptr)
            ::RegCloseKey(key);
    }
};

bool setValue(HKEY key, const std::wstring& name, const std::wstring& value) {
    return ::RegSetValueExW(
               key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

// The shell answers CSIDL_PROGRAM_FILES(_COMMON) from these settings (Wine reads them on every
// call), which is how the 64-bit program can be shown the folders of a 32-bit one.
X86FolderView::X86FolderView() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr) {
        reason_ = "changes the machine's folder settings: only done in a Wine prefix";
        return;
    }
    RegKey reg;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        &reg.key) != ERROR_SUCCESS) {
        reason_ = "cannot open the folder settings";
        return;
    }
    const std::pair<const wchar_t*, const wchar_t*> view[] = {
        {L"CommonFilesDir", L"C:\\Program Files (x86)\\Common Files"},
        {L"ProgramFilesDir", L"C:\\Program Files (x86)"},
    };
    for (const auto& [name, value] : view) {
        wchar_t old[MAX_PATH] = {};
        DWORD size = sizeof(old) - sizeof(wchar_t);
        if (::RegQueryValueExW(reg.key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(old),
                               &size) != ERROR_SUCCESS ||
            !setValue(reg.key, name, value)) {
            reason_ = "cannot change the folder settings";
            return;
        }
        saved_.emplace_back(name, old);
    }
}

X86FolderView::~X86FolderView() {
    RegKey reg;
    if (saved_.empty() || ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE,
                                          &reg.key) != ERROR_SUCCESS)
        return;
    for (const auto& [name, value] : saved_)
        setValue(reg.key, name, value);
}

}  // namespace e2e
