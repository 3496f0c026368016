#include <windows.h>

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

}  // namespace testutil
