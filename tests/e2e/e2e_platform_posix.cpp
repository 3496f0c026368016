#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "base/unicode.h"
#include "e2e/e2e_platform.h"

namespace e2e {

bool killProcessId(unsigned long pid) {
    return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

bool processAlive(unsigned long pid) {
    // A zombie whose other threads still run has only lost its main thread.
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    bool zombie = false;
    while (std::getline(status, line)) {
        if (line.rfind("State:", 0) == 0)
            zombie = line.find_first_of("ZX", 6) != std::string::npos;
        else if (line.rfind("Threads:", 0) == 0)
            return !zombie || std::stoi(line.substr(8)) > 1;
    }
    return false;
}

bool processReaped(unsigned long pid) {
    return ::access(("/proc/" + std::to_string(pid)).c_str(), F_OK) != 0;
}

bool makeReadOnly(const std::wstring& path) {
    struct stat st;
    const std::string native = zoka::toUtf8(path);
    return ::lstat(native.c_str(), &st) == 0 && ::chmod(native.c_str(), st.st_mode & 07555) == 0;
}

void openFolderToEveryone(const std::wstring& folder) {
    // Sticky, as /tmp: a folder anybody may rename entries in is refused as a temporary folder.
    ::chmod(zoka::toUtf8(folder).c_str(), 01777);
}

std::string machineIdOnRecord() {
    std::ifstream file("/etc/machine-id");
    std::string id;
    std::getline(file, id);
    return id.size() == 32 && id.find_first_not_of("0123456789abcdef") == std::string::npos
               ? id
               : std::string();
}

MachineIdDecoy::MachineIdDecoy() = default;
MachineIdDecoy::~MachineIdDecoy() = default;

X86FolderView::X86FolderView() : reason_("a 32-bit folder view exists only on 64-bit Windows") {}

X86FolderView::~X86FolderView() = default;

}  // namespace e2e
