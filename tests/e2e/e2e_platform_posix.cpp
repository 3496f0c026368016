#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "e2e/e2e_platform.h"
#include "support/unicode.h"

namespace fs = std::filesystem;

namespace e2e {

ProgramRoots programRoots(const std::wstring& scratch) {
    ProgramRoots roots;
    roots.commonFiles = scratch + L"/Common Files";
    roots.programFiles = scratch + L"/Program Files";
    makeFolder(roots.commonFiles);
    makeFolder(roots.programFiles);
    roots.env = {{"CommonProgramFiles", roots.commonFiles}, {"ProgramFiles", roots.programFiles}};
    return roots;
}

std::vector<EnvChange> tempFolderEnv(const std::wstring& folder) {
    return {{"TMPDIR", folder}};
}

bool killProcessId(unsigned long pid) {
    return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

bool unprivilegedCommand(std::wstring& program, std::vector<std::wstring>& args,
                         std::string& whyNot) {
    if (::geteuid() != 0) {
        whyNot = "needs root to switch to an unprivileged user (run the tests as root)";
        return false;
    }
    const char* setpriv = "/usr/bin/setpriv";
    if (::access(setpriv, X_OK) != 0) {
        whyNot = "setpriv (util-linux) is not installed";
        return false;
    }
    std::vector<std::wstring> wrapped = {L"--reuid=65534", L"--regid=65534", L"--clear-groups",
                                         program};
    wrapped.insert(wrapped.end(), args.begin(), args.end());
    program = zoka::fromUtf8(setpriv);
    args = wrapped;
    return true;
}

void openFolderToEveryone(const std::wstring& folder) {
    ::chmod(zoka::toUtf8(folder).c_str(), 0777);
}

bool copyProgram(const std::wstring& from, const std::wstring& to) {
    std::error_code ec;
    fs::copy_file(fs::u8path(zoka::toUtf8(from)), fs::u8path(zoka::toUtf8(to)),
                  fs::copy_options::overwrite_existing, ec);
    return !ec && ::chmod(zoka::toUtf8(to).c_str(), 0755) == 0;
}

bool makeFolder(const std::wstring& path) {
    return ::mkdir(zoka::toUtf8(path).c_str(), 0755) == 0;
}

bool removeEntry(const std::wstring& path) {
    const std::string p = zoka::toUtf8(path);
    return ::unlink(p.c_str()) == 0 || ::rmdir(p.c_str()) == 0;
}

std::vector<std::wstring> listFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    DIR* dir = ::opendir(zoka::toUtf8(folder).c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(zoka::fromUtf8(name));
    }
    ::closedir(dir);
    return names;
}

}  // namespace e2e
