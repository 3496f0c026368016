#include "test_util.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "support/platform.h"

namespace fs = std::filesystem;

namespace testutil {

fs::path fsPath(const std::wstring& path);  // per platform
std::wstring fromFsPath(const fs::path& path);

ScratchDir::ScratchDir(const std::wstring& hint) {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    std::wstring base;
    zoka::os::getTempPath(base);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring candidate = base + L"velkaro-test-" + hint + L"-" +
                                 std::to_wstring(rd() % 1000000) + L"-" +
                                 std::to_wstring(counter++);
        std::error_code ec;
        if (fs::create_directory(fsPath(candidate), ec) && !ec) {
            path_ = candidate;
            return;
        }
    }
}

ScratchDir::~ScratchDir() {
    if (!path_.empty()) removeTree(path_);
}

std::wstring ScratchDir::file(const std::wstring& name) const {
    return path_ + zoka::os::pathSeparator() + name;
}

std::string readBytes(const std::wstring& path) {
    std::ifstream in(fsPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(fsPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool removeTree(const std::wstring& path) {
    std::error_code ec;
    // Read-only entries would stop the removal on Windows; make everything writable first.
    for (auto it = fs::recursive_directory_iterator(fsPath(path), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (!it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(fsPath(path), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(fsPath(path), ec);
    return !ec;
}

std::vector<std::wstring> listFolder(const std::wstring& path) {
    std::vector<std::wstring> names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(fsPath(path), ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        names.push_back(fromFsPath(it->path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

std::map<std::string, ChildMain>& children() {
    static std::map<std::string, ChildMain> registered;
    return registered;
}

}  // namespace

// Per platform: the child's arguments after "--child", as wide strings.
std::vector<std::wstring> childArguments(int argc, char** argv);

bool registerChild(const std::string& name, ChildMain fn) {
    children()[name] = fn;
    return true;
}

bool runChildMode(int argc, char** argv, int& exitCode) {
    if (argc < 3 || std::string(argv[1]) != "--child")
        return false;
    auto it = children().find(argv[2]);
    if (it == children().end()) {
        exitCode = 127;
        return true;
    }
    const std::vector<std::wstring> all = childArguments(argc, argv);
    exitCode = it->second(
        std::vector<std::wstring>(all.size() > 1 ? all.begin() + 1 : all.end(), all.end()));
    return true;
}

int runSelf(const std::vector<std::wstring>& command) {
    return runSelfParallel({command})[0];
}

std::wstring siblingProgram(const std::wstring& baseName) {
    std::wstring path = programFolder() + zoka::os::pathSeparator() + baseName;
    if (zoka::os::pathSeparator() == L'\\') path += L".exe";
    return path;
}

}  // namespace testutil
