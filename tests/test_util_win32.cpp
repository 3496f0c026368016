#include <windows.h>
// windows.h first: the other Windows headers depend on it.
#include <shellapi.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "test_util.h"

namespace fs = std::filesystem;

namespace testutil {

fs::path fsPath(const std::wstring& path) {
    return fs::path(path);
}
std::wstring fromFsPath(const fs::path& path) {
    return path.wstring();
}

bool underWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool makeFifo(const std::wstring&) {
    return false;
}

unsigned long processId() {
    return ::GetCurrentProcessId();
}

std::wstring testProgram() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

void setEnv(const std::string& name, const std::wstring& value, bool unset) {
    std::wstring wname(name.begin(), name.end());
    ::SetEnvironmentVariableW(wname.c_str(), unset ? nullptr : value.c_str());
}

std::wstring getEnv(const std::string& name) {
    std::wstring wname(name.begin(), name.end());
    wchar_t buffer[32768];
    DWORD n = ::GetEnvironmentVariableW(wname.c_str(), buffer, 32768);
    return n == 0 || n >= 32768 ? std::wstring() : std::wstring(buffer, n);
}

std::vector<std::string> tempFolderVariables() {
    // GetTempPathW reads TMP first, then TEMP.
    return {"TMP", "TEMP"};
}

bool unprivilegedCommand(std::wstring&, std::vector<std::wstring>&, std::string& whyNot) {
    whyNot = "every process runs as an administrator here (Wine); a filtered token cannot be made";
    return false;
}

std::vector<std::wstring> childArguments(int, char**) {
    // The narrow argv of main() loses characters outside the code page: read the wide line.
    std::vector<std::wstring> args;
    int n = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    if (words == nullptr)
        return args;
    for (int i = 2; i < n; ++i)
        args.push_back(words[i]);
    ::LocalFree(words);
    return args;
}

UtcTimeZone::UtcTimeZone() {
    // The runtime reads TZ from its own copy of the environment: set it through the runtime.
    const wchar_t* v = ::_wgetenv(L"TZ");
    had_ = v != nullptr;
    if (had_)
        saved_ = v;
    ::_wputenv_s(L"TZ", L"UTC0");
    ::_tzset();
}

UtcTimeZone::~UtcTimeZone() {
    ::_wputenv_s(L"TZ", had_ ? saved_.c_str() : L"");
    ::_tzset();
}

}  // namespace testutil
