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

bool getTempFolder(std::wstring& path) {
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
