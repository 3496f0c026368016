#pragma once
// Helpers shared by the tests: scratch folders, file bytes, sibling programs.

#include <string>
#include <vector>

namespace testutil {

/// A fresh, empty folder below the system's temporary folder, removed (tree and all) on
/// destruction. Its path ends without a separator.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& hint = L"t");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& path() const { return path_; }
    /// path() + separator + name.
    std::wstring file(const std::wstring& name) const;

private:
    std::wstring path_;
};

/// Points the user's temporary folder (TMP/TEMP on Windows, TMPDIR on POSIX) at a folder for
/// the object's lifetime.
class TempFolderOverride {
public:
    explicit TempFolderOverride(const std::wstring& folder);
    ~TempFolderOverride();

private:
    std::vector<std::pair<std::string, std::wstring>> saved_;
    std::vector<bool> had_;
};

std::string readBytes(const std::wstring& path);
bool writeBytes(const std::wstring& path, const std::string& bytes);
bool removeTree(const std::wstring& path);
/// Names of the entries of a folder, sorted.
std::vector<std::wstring> listFolder(const std::wstring& path);

/// Folder of the running test program (programs of the build lie beside it).
std::wstring programFolder();
/// A program of the build beside the tests ("Velkaro", "standin_setup"), with ".exe" on Windows.
std::wstring siblingProgram(const std::wstring& baseName);

/// Sets or (with an empty value and unset=true) removes an environment variable.
void setEnv(const std::string& name, const std::wstring& value, bool unset = false);
std::wstring getEnv(const std::string& name);

/// Child mode: `velkaro_tests --child NAME ARGS...` runs the function registered under NAME
/// instead of the tests and exits with its result, so tests can use real processes.
using ChildMain = int (*)(const std::vector<std::wstring>& args);
/// Registers a child function; at namespace scope: `const bool r = registerChild("n", fn);`.
bool registerChild(const std::string& name, ChildMain fn);
/// For main(): true, with the child's exit code, when the command line asks for child mode.
bool runChildMode(int argc, char** argv, int& exitCode);
/// Starts this test program in child mode once per command (NAME first, then its arguments),
/// all at once, then waits for every one. The exit codes, in order; -1 when a child could not
/// start or ended without an exit code. The children inherit the environment.
std::vector<int> runSelfParallel(const std::vector<std::vector<std::wstring>>& commands);
/// One child, waited for.
int runSelf(const std::vector<std::wstring>& command);

/// Makes the C runtime's local time UTC for the object's lifetime (TZ, then tzset).
class UtcTimeZone {
public:
    UtcTimeZone();
    ~UtcTimeZone();
    UtcTimeZone(const UtcTimeZone&) = delete;
    UtcTimeZone& operator=(const UtcTimeZone&) = delete;

private:
    std::wstring saved_;
    bool had_ = false;
};

}  // namespace testutil
