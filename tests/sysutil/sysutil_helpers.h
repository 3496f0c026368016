#pragma once
// Helpers of the system-utility tests: what the utilities log, file modes, named objects.

#include <string>
#include <vector>

namespace sysutiltest {

/// True when the POSIX test runs as root (false on Windows).
bool runningAsRoot();

/// CommandLineToArgvW on Windows; false on POSIX.
bool systemSplitCommandLine(const std::wstring& commandLine, std::vector<std::wstring>& words);

/// POSIX: chmod; Windows: nothing. False on failure.
bool setMode(const std::wstring& path, unsigned mode);
/// POSIX permission bits of a path (not following a link); 0 on Windows or on failure.
unsigned modeOf(const std::wstring& path);
/// POSIX: a symbolic link; false on Windows.
bool makeSymlink(const std::wstring& target, const std::wstring& link);
/// POSIX: hands a path to another user (root only); false on Windows.
bool giveAway(const std::wstring& path, unsigned uid);
/// Windows: the folder's access list in SDDL ("D:P(A;OICI;FA;;;S-1-5-...)..."), and the
/// running account's SID in `user`; empty on POSIX or on failure.
std::wstring accessList(const std::wstring& path, std::wstring& user);
/// POSIX: removes the lock file that stands for a named object; nothing on Windows.
void removeLockFile(const std::wstring& objectName);

/// Linux: true (a process can make the pidfd system calls fail as on a kernel without them).
bool canHidePidfd();
/// Makes every later pidfd_open of this process fail with ENOSYS; false when it could not.
bool hidePidfd();

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

/// Polls until the file holds one of `expected` (then returns it) or `timeoutMs` pass ("").
std::string waitForContent(const std::wstring& path, const std::vector<std::string>& expected,
                           int timeoutMs = 60000);

}  // namespace sysutiltest
