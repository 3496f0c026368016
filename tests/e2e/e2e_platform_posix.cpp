#include <signal.h>
#include <sys/stat.h>

#include "e2e/e2e_platform.h"
#include "support/unicode.h"

namespace e2e {

bool killProcessId(unsigned long pid) {
    return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

void openFolderToEveryone(const std::wstring& folder) {
    ::chmod(zoka::toUtf8(folder).c_str(), 0777);
}

X86FolderView::X86FolderView() : reason_("a 32-bit folder view exists only on 64-bit Windows") {}

X86FolderView::~X86FolderView() = default;

}  // namespace e2e
