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
    // The state follows the command name, which ends with the last ')'.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' &&
           text[close + 2] != 'X';
}

bool processReaped(unsigned long pid) {
    return ::access(("/proc/" + std::to_string(pid)).c_str(), F_OK) != 0;
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
