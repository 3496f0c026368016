#pragma once
// Helpers shared by the tests: scratch folders, files and programs, the environment, child
// modes of the test program, and the few platform facts the tests need.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testutil {

/// True on the POSIX build.
bool isPosix();
/// True when the Windows build runs under Wine.
bool underWine();
/// This process's id.
unsigned long processId();

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
    unsigned long owner_;  ///< a forked child leaves its parent's folder alone
};

/// Sets or removes environment variables; puts back what was there on destruction.
class EnvOverride {
public:
    EnvOverride() = default;
    explicit EnvOverride(const std::vector<std::pair<std::string, std::wstring>>& values);
    ~EnvOverride();
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;
    void set(const std::string& name, const std::wstring& value);
    void unset(const std::string& name);

private:
    void save(const std::string& name);
    std::vector<std::pair<std::string, std::wstring>> saved_;  // an empty value: was unset
};

/// The variables that name the user's temporary folder: TMPDIR on POSIX; TMP, then TEMP, on
/// Windows.
std::vector<std::string> tempFolderVariables();

/// Points the user's temporary folder at a folder for the object's lifetime.
class TempFolderOverride : public EnvOverride {
public:
    explicit TempFolderOverride(const std::wstring& folder);
};

/// The path as std::filesystem takes it.
std::filesystem::path fsPath(const std::wstring& path);
std::wstring fromFsPath(const std::filesystem::path& path);

std::string readBytes(const std::wstring& path);
bool writeBytes(const std::wstring& path, const std::string& bytes);
bool removeTree(const std::wstring& path);
/// Names of the entries of a folder, sorted.
std::vector<std::wstring> listFolder(const std::wstring& path);
/// Creates one folder (not its parents).
bool makeFolder(const std::wstring& path);
/// Creates a folder and its missing parents; the folders it made, outermost first.
std::vector<std::wstring> makeFolders(const std::wstring& path);
/// Creates a FIFO (POSIX); false where the system has none.
bool makeFifo(const std::wstring& path);
/// Copies a program, replacing the target, and keeps it executable.
bool copyProgram(const std::wstring& from, const std::wstring& to);

/// UTF-16LE bytes of a text, as the log files hold it.
std::string utf16le(const std::wstring& text);
/// The CR LF terminated lines of UTF-16LE bytes (a byte-order mark is the caller's to skip);
/// `rest`, when given, receives the bytes after the last line end.
std::vector<std::wstring> utf16leLines(const std::string& bytes, std::string* rest = nullptr);

/// The running test program.
std::wstring testProgram();
/// Folder of the running test program (programs of the build lie beside it).
std::wstring programFolder();
/// A program of the build beside the tests ("Velkaro", "standin_setup"), with ".exe" on Windows.
std::wstring siblingProgram(const std::wstring& baseName);

/// Sets or (with an empty value and unset=true) removes an environment variable.
void setEnv(const std::string& name, const std::wstring& value, bool unset = false);
std::wstring getEnv(const std::string& name);

/// Wraps a command so that it runs without administrator rights. False, with the reason, when
/// this machine cannot do that (POSIX: not root or no setpriv; Windows under Wine: every
/// process is an administrator).
bool unprivilegedCommand(std::wstring& program, std::vector<std::wstring>& args,
                         std::string& whyNot);

/// Child mode: `velkaro_tests --child NAME ARGS...` runs the function registered under NAME
/// instead of the tests and exits with its result, so tests can use real processes.
using ChildMain = int (*)(const std::vector<std::wstring>& args);
/// Registers a child function; at namespace scope: `const bool r = registerChild("n", fn);`.
bool registerChild(const std::string& name, ChildMain fn);
/// For main(): true, with the child's exit code, when the command line asks for child mode.
bool runChildMode(int argc, char** argv, int& exitCode);
/// The arguments that start this test program in child mode: "--child", then the command (NAME
/// first, then its arguments).
std::vector<std::wstring> childModeArguments(const std::vector<std::wstring>& command);
/// Starts this test program in child mode once per command, all at once, then waits for every
/// one. The exit codes, in order; -1 when a child could not start or ended without an exit
/// code. The children inherit the environment.
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
