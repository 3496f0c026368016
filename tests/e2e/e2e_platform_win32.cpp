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

const wchar_t kCryptography[] = L"SOFTWARE\\Microsoft\\Cryptography";

bool inWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

std::string machineIdOnRecord() {
    RegKey reg;
    wchar_t value[128] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCryptography, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                        &reg.key) != ERROR_SUCCESS ||
        ::RegQueryValueExW(reg.key, L"MachineGuid", nullptr, nullptr,
                           reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
        return std::string();
    std::string ascii;
    for (const wchar_t* c = value; *c != L'\0'; ++c)
        ascii += static_cast<char>(*c);  // a GUID's characters
    return ascii;
}

MachineIdDecoy::MachineIdDecoy() {
    RegKey reg;
    if (!inWine() ||
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kCryptography, 0, nullptr, 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &reg.key,
                          nullptr) != ERROR_SUCCESS ||
        ::RegQueryValueExW(reg.key, L"MachineGuid", nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS)
        return;  // a value of the 32-bit view's own is left alone
    planted_ = setValue(reg.key, L"MachineGuid", L"00000000-dec0-4000-8000-000000000000");
}

MachineIdDecoy::~MachineIdDecoy() {
    RegKey reg;
    if (planted_ && ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCryptography, 0,
                                    KEY_SET_VALUE | KEY_WOW64_32KEY, &reg.key) == ERROR_SUCCESS)
        ::RegDeleteValueW(reg.key, L"MachineGuid");
}

// The shell answers CSIDL_PROGRAM_FILES(_COMMON) from these settings (Wine reads them on every
// call), which is how the 64-bit program can be shown the folders of a 32-bit one.
X86FolderView::X86FolderView() {
    if (!inWine()) {
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
