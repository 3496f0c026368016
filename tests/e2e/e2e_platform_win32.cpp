#include <windows.h>

#include "e2e/e2e_platform.h"
#include "support/win32_handle.h"

namespace e2e {

bool killProcessId(unsigned long pid) {
    zoka::win32::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process)
        return false;
    const bool ok = ::TerminateProcess(process.get(), 1) != 0;
    ::WaitForSingleObject(process.get(), 10000);
    return ok;
}

bool processAlive(unsigned long pid) {
    zoka::win32::UniqueHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    return process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void openFolderToEveryone(const std::wstring&) {}

}  // namespace e2e
