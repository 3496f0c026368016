#pragma once
// Helpers of the system-utility tests: child processes, the stand-in's journal, and the few
// platform facts the tests need.

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sysutiltest {

/// True on the POSIX build.
bool isPosix();
/// True when the Windows build runs under Wine.
bool isWine();
/// True when the POSIX test runs as root (false on Windows).
bool runningAsRoot();

/// A process started without waiting; killed and reaped on destruction.
class Child {
public:
    Child();
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    /// Starts `args[0]` (POSIX: searched in PATH when it has no '/') with `args`.
    bool start(const std::vector<std::wstring>& args);
    /// SIGKILL / TerminateProcess.
    void kill();
    /// Waits for the end: the exit code, 128 + the signal on POSIX, -1 on error.
    int wait();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

/// The test program itself, for child modes.
std::wstring testProgram();

/// CommandLineToArgvW on Windows; false on POSIX.
bool systemSplitCommandLine(const std::wstring& commandLine, std::vector<std::wstring>& words);

/// Creates one folder.
bool makeFolder(const std::wstring& path);
/// Copies a program and keeps it executable.
bool copyProgram(const std::wstring& from, const std::wstring& to);
/// POSIX: chmod; Windows: nothing. False on failure.
bool setMode(const std::wstring& path, unsigned mode);
/// POSIX permission bits of a path (not following a link); 0 on Windows or on failure.
unsigned modeOf(const std::wstring& path);
/// POSIX: a symbolic link; false on Windows.
bool makeSymlink(const std::wstring& target, const std::wstring& link);
/// POSIX: hands a path to another user (root only); false on Windows.
bool giveAway(const std::wstring& path, unsigned uid);
/// POSIX: removes the lock file that stands for a named object; nothing on Windows.
void removeLockFile(const std::wstring& objectName);

/// A name no other test or process uses, in the global namespace.
std::wstring uniqueLockName();

/// One message of the shared logger, as the utilities wrote it.
struct LoggedLine {
    int level;
    std::wstring moduleTag;
    std::wstring message;
};

/// Turns the shared logger's DEBUG, INFO and ERROR switches on for its lifetime and collects
/// what the utilities log through it (a target registered under the shared key "KIV").
class SharedLogCapture {
public:
    SharedLogCapture();
    ~SharedLogCapture();
    SharedLogCapture(const SharedLogCapture&) = delete;
    SharedLogCapture& operator=(const SharedLogCapture&) = delete;
    std::vector<LoggedLine> lines() const;
    /// The messages of one level, in order.
    std::vector<std::wstring> at(int level) const;

private:
    bool saved_[3];
};

/// One run of the stand-in setup program as its journal records it.
struct JournalRecord {
    std::map<std::string, std::vector<std::wstring>> values;
    std::wstring get(const std::string& key) const;
    bool has(const std::string& key) const { return values.count(key) != 0; }
    const std::vector<std::wstring>& args() const;
};

/// The records of a journal, oldest first; a record cut short is left out.
std::vector<JournalRecord> readJournal(const std::wstring& path);

/// Polls until the file holds one of `expected` (then returns it) or `timeoutMs` pass ("").
std::string waitForContent(const std::wstring& path, const std::vector<std::string>& expected,
                           int timeoutMs = 60000);

/// Lower-case hexadecimal of bytes, as the journal writes a parameter file.
std::string hex(const std::string& bytes);

}  // namespace sysutiltest
