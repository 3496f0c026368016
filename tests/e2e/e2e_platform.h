#pragma once
// What the end-to-end tests do differently on Windows and on POSIX.

#include <string>
#include <utility>
#include <vector>

namespace e2e {

/// Ends a process by its id (a setup stand-in left hanging). False when it could not.
bool killProcessId(unsigned long pid);

/// True while the process runs (a zombie counts as ended; one whose main thread has ended while
/// another runs does not).
bool processAlive(unsigned long pid);

/// True once the process has ended and been collected: no zombie is left (Windows keeps none).
bool processReaped(unsigned long pid);

/// Makes a file or folder read-only (POSIX: no write permission; Windows: the attribute).
bool makeReadOnly(const std::wstring& path);

/// Lets an unprivileged user write into the folder, sticky as /tmp is (no-op on Windows).
void openFolderToEveryone(const std::wstring& folder);

/// The machine's identity as the system keeps it (POSIX: /etc/machine-id when it holds one;
/// Windows: MachineGuid in the 64-bit registry view); "" when it keeps none.
std::string machineIdOnRecord();

/// Puts another MachineGuid in the 32-bit registry view (WOW6432Node) until destroyed, so that a
/// 32-bit program that read that view would show it. Only in a Wine prefix; a no-op elsewhere.
class MachineIdDecoy {
public:
    MachineIdDecoy();
    ~MachineIdDecoy();
    MachineIdDecoy(const MachineIdDecoy&) = delete;
    MachineIdDecoy& operator=(const MachineIdDecoy&) = delete;

private:
    bool planted_ = false;
};

/// Gives programs started from now on the program-files folders that Windows gives a 32-bit
/// program on 64-bit Windows ("Program Files (x86)" and its "Common Files"), until destroyed.
/// It changes the shell's machine-wide folder settings, so it acts only in a Wine prefix;
/// elsewhere it is not active and says why.
class X86FolderView {
public:
    X86FolderView();
    ~X86FolderView();
    X86FolderView(const X86FolderView&) = delete;
    X86FolderView& operator=(const X86FolderView&) = delete;

    bool active() const { return reason_.empty(); }
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
    std::vector<std::pair<std::wstring, std::wstring>> saved_;  ///< setting name, old value
};

}  // namespace e2e
