#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <windows.h>

#include "app/startup.h"
#include "base/win32_handle.h"

namespace velkaro {

std::vector<std::wstring> commandLineWords(int, char**) {
    std::vector<std::wstring> words;
    int count = 0;
    zoka::win32::LocalPtr<LPWSTR*> argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (argv.get() == nullptr)
        return words;
    for (int i = 0; i < count; ++i)
        words.emplace_back(argv.get()[i]);
    return words;
}

void initializeCom() {
    // The result does not matter: the XML service initialises COM for itself when needed.
    (void)::CoInitialize(nullptr);
}

// A missing standard handle only makes the console writer skip its lines.
void ensureStandardStreams() {}

bool getTempFolder(std::wstring& path, std::wstring&) {
    wchar_t buffer[512];
    DWORD n = ::GetTempPathW(512, buffer);
    if (n == 0 || n >= 512)
        return false;
    if (!::PathIsDirectoryW(buffer) && !::CreateDirectoryW(buffer, nullptr))
        return false;
    path.assign(buffer, n);
    return true;
}

std::wstring hostName() {
    wchar_t buffer[256];
    DWORD size = 256;
    if (!::GetComputerNameExW(ComputerNameDnsHostname, buffer, &size))
        return std::wstring();
    return std::wstring(buffer, size);
}

std::wstring machineId() {
    // KEY_WOW64_64KEY: the 32-bit program would otherwise be shown the WOW6432Node key, which
    // holds no MachineGuid.
    zoka::win32::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return std::wstring();
    wchar_t buffer[128] = {};
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);  // room for a terminator the value may lack
    DWORD type = 0;
    if (::RegQueryValueExW(key.get(), L"MachineGuid", nullptr, &type,
                           reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    return std::wstring(buffer);
}

unsigned long processId() {
    return ::GetCurrentProcessId();
}

bool getExecutableFolder(std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    // A full buffer means a cut path, which names some other folder.
    if (n == 0 || n >= MAX_PATH)
        return false;
    if (!::PathRemoveFileSpecW(buffer))
        return false;
    path = buffer;
    return true;
}

}  // namespace velkaro
