#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
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

std::wstring accessList(const std::wstring& path, std::wstring& user) {
    PACL dacl = nullptr;
    zoka::win32::LocalPtr<PSECURITY_DESCRIPTOR> descriptor;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, descriptor.put()) != ERROR_SUCCESS)
        return L"";
    zoka::win32::LocalPtr<wchar_t*> text;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, text.put(), nullptr))
        return L"";
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
        return L"";
    zoka::win32::UniqueHandle token(raw);
    BYTE buffer[512];
    DWORD size = 0;
    zoka::win32::LocalPtr<wchar_t*> sid;
    if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid.put()))
        return L"";
    user = sid.get();
    return text.get();
}

bool canHidePidfd() {
    return false;
}

bool hidePidfd() {
    return false;
}

}  // namespace sysutiltest
