#include <windows.h>
// windows.h first: the other Windows headers depend on it.
#include <shellapi.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "test_util.h"

namespace fs = std::filesystem;

namespace testutil {

fs::path fsPath(const std::wstring& path) { return fs::path(path); }
std::wstring fromFsPath(const fs::path& path) { return path.wstring(); }

std::wstring programFolder() {
    wchar_t buffer[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, n);
    return path.substr(0, path.rfind(L'\\'));
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

TempFolderOverride::TempFolderOverride(const std::wstring& folder) {
    // GetTempPathW reads TMP first, then TEMP.
    for (const char* name : {"TMP", "TEMP"}) {
        std::wstring old = getEnv(name);
        had_.push_back(!old.empty());
        saved_.emplace_back(name, old);
        setEnv(name, folder);
    }
}

TempFolderOverride::~TempFolderOverride() {
    for (size_t i = 0; i < saved_.size(); ++i)
        setEnv(saved_[i].first, saved_[i].second, !had_[i]);
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

namespace {

// Quotes one word so that CommandLineToArgvW gives it back unchanged.
std::wstring quoteWord(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return word;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, L'\\');
    out.push_back(L'"');
    return out;
}

}  // namespace

std::vector<int> runSelfParallel(const std::vector<std::vector<std::wstring>>& commands) {
    wchar_t self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::vector<HANDLE> processes(commands.size(), nullptr);
    for (size_t i = 0; length > 0 && length < MAX_PATH && i < commands.size(); ++i) {
        std::wstring line = quoteWord(self) + L" --child";
        for (const std::wstring& w : commands[i])
            line += L" " + quoteWord(w);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        if (::CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                             &pi)) {
            ::CloseHandle(pi.hThread);
            processes[i] = pi.hProcess;
        }
    }
    std::vector<int> codes(commands.size(), -1);
    for (size_t i = 0; i < processes.size(); ++i) {
        if (processes[i] == nullptr)
            continue;
        DWORD code = 0;
        if (::WaitForSingleObject(processes[i], INFINITE) == WAIT_OBJECT_0 &&
            ::GetExitCodeProcess(processes[i], &code)) {
            codes[i] = static_cast<int>(code);
        }
        ::CloseHandle(processes[i]);
    }
    return codes;
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
