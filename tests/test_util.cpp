#include "test_util.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "base/platform.h"
#include "base/unicode.h"
#include "child_process.h"

namespace fs = std::filesystem;

namespace testutil {

bool isPosix() {
    return zoka::os::pathSeparator() == L'/';
}

ScratchDir::ScratchDir(const std::wstring& hint) : owner_(processId()) {
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
    if (!path_.empty() && owner_ == processId())
        removeTree(path_);
}

std::wstring ScratchDir::file(const std::wstring& name) const {
    return path_ + zoka::os::pathSeparator() + name;
}

EnvOverride::EnvOverride(const std::vector<std::pair<std::string, std::wstring>>& values) {
    for (const auto& [name, value] : values)
        set(name, value);
}

EnvOverride::~EnvOverride() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
        setEnv(it->first, it->second, it->second.empty());
}

void EnvOverride::save(const std::string& name) {
    saved_.emplace_back(name, getEnv(name));
}

void EnvOverride::set(const std::string& name, const std::wstring& value) {
    save(name);
    setEnv(name, value);
}

void EnvOverride::unset(const std::string& name) {
    save(name);
    setEnv(name, L"", true);
}

TempFolderOverride::TempFolderOverride(const std::wstring& folder) {
    for (const std::string& name : tempFolderVariables())
        set(name, folder);
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

bool makeFolder(const std::wstring& path) {
    std::error_code ec;
    return fs::create_directory(fsPath(path), ec) && !ec;
}

std::vector<std::wstring> makeFolders(const std::wstring& path) {
    std::vector<std::wstring> missing;
    std::error_code ec;
    for (fs::path p = fsPath(path); !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
        missing.push_back(fromFsPath(p));
        if (p == p.parent_path())
            break;
    }
    std::vector<std::wstring> made;
    for (auto it = missing.rbegin(); it != missing.rend() && makeFolder(*it); ++it)
        made.push_back(*it);
    return made;
}

bool copyProgram(const std::wstring& from, const std::wstring& to) {
    std::error_code ec;
    fs::copy_file(fsPath(from), fsPath(to), fs::copy_options::overwrite_existing, ec);
    if (!ec)
        fs::permissions(fsPath(to), fs::perms(0755), ec);
    return !ec;
}

std::string utf16le(const std::wstring& text) {
    std::string bytes;
    for (char16_t unit : zoka::toUtf16(text)) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

std::vector<std::wstring> utf16leLines(const std::string& bytes, std::string* rest) {
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = units.find(u"\r\n", start)) != std::u16string::npos; start = end + 2)
        lines.push_back(zoka::fromUtf16(units.substr(start, end - start)));
    if (rest != nullptr)
        *rest = bytes.substr(std::min(bytes.size(), start * 2));
    return lines;
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

std::vector<std::wstring> childModeArguments(const std::vector<std::wstring>& command) {
    std::vector<std::wstring> args = {L"--child"};
    args.insert(args.end(), command.begin(), command.end());
    return args;
}

std::vector<int> runSelfParallel(const std::vector<std::vector<std::wstring>>& commands) {
    std::vector<ChildProcess> children(commands.size());
    for (size_t i = 0; i < commands.size(); ++i)
        children[i].start(testProgram(), childModeArguments(commands[i]));
    std::vector<int> codes;
    for (ChildProcess& child : children)
        codes.push_back(child.wait().exitCode);  // -1 for one that did not start
    return codes;
}

int runSelf(const std::vector<std::wstring>& command) {
    return runSelfParallel({command})[0];
}

std::wstring programFolder() {
    const std::wstring self = testProgram();
    const size_t end = self.rfind(zoka::os::pathSeparator());
    return end == std::wstring::npos ? L"." : self.substr(0, end);
}

std::wstring siblingProgram(const std::wstring& baseName) {
    return programFolder() + zoka::os::pathSeparator() + baseName + (isPosix() ? L"" : L".exe");
}

}  // namespace testutil
