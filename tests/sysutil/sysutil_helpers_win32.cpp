#include <windows.h>

#include <shellapi.h>

#include "base/win32_handle.h"
#include "sysutil/sysutil_helpers.h"

namespace sysutiltest {

bool runningAsRoot() {
    return false;
}

bool systemSplitCommandLine(const std::wstring& commandLine, std::vector<std::wstring>& words) {
    int count = 0;
    zoka::win32::LocalPtr<LPWSTR*> argv(::CommandLineToArgvW(commandLine.c_str(), &count));
    if (!argv.get())
        return false;
    words.assign(argv.get(), argv.get() + count);
    return true;
}

bool setMode(const std::wstring&, unsigned) {
    return true;
}
unsigned modeOf(const std::wstring&) {
    return 0;
}
bool makeSymlink(const std::wstring&, const std::wstring&) {
    return false;
}
bool giveAway(const std::wstring&, unsigned) {
    return false;
}
void removeLockFile(const std::wstring&) {}

}  // namespace sysutiltest
