#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "support/unicode.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace testutil {

fs::path fsPath(const std::wstring& path) { return fs::u8path(zoka::toUtf8(path)); }
std::wstring fromFsPath(const fs::path& path) { return zoka::fromUtf8(path.u8string()); }

std::wstring programFolder() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return L".";
    std::string path(buffer, static_cast<size_t>(n));
    return zoka::fromUtf8(path.substr(0, path.rfind('/')));
}

void setEnv(const std::string& name, const std::wstring& value, bool unset) {
    if (unset)
        ::unsetenv(name.c_str());
    else
        ::setenv(name.c_str(), zoka::toUtf8(value).c_str(), 1);
}

std::wstring getEnv(const std::string& name) {
    const char* v = ::getenv(name.c_str());
    return v ? zoka::fromUtf8(v) : std::wstring();
}

TempFolderOverride::TempFolderOverride(const std::wstring& folder) {
    const char* v = ::getenv("TMPDIR");
    had_.push_back(v != nullptr);
    saved_.emplace_back("TMPDIR", v ? zoka::fromUtf8(v) : std::wstring());
    setEnv("TMPDIR", folder);
}

TempFolderOverride::~TempFolderOverride() {
    for (size_t i = 0; i < saved_.size(); ++i)
        setEnv(saved_[i].first, saved_[i].second, !had_[i]);
}

}  // namespace testutil
