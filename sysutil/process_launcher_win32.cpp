#include <windows.h>

#include <vector>

#include "logging/shared_logger.h"
#include "support/win32_handle.h"
#include "sysutil/process_launcher_platform.h"

namespace korr::detail {
namespace {

constexpr wchar_t kModule[] = L"KorrUtilities";

}  // namespace

LaunchResult startAndWait(Logger& logger, const std::wstring& programPath,
                          const std::wstring& commandLine, const std::wstring& workingFolder,
                          bool quoteProgramPath, uint32_t& exitCode) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');

    const BOOL created =
        ::CreateProcessW(quoteProgramPath ? nullptr : programPath.c_str(), buffer.data(), nullptr,
                         nullptr, FALSE, 0, nullptr, workingFolder.c_str(), &startup, &info);
    const DWORD createError = ::GetLastError();
    zoka::win32::UniqueHandle process(info.hProcess);
    zoka::win32::UniqueHandle thread(info.hThread);

    LaunchResult result = LAUNCH_OK;
    if (!created) {
        logError(logger, kModule, L"CreateProcess failed (%d).\n", static_cast<int>(createError));
        result = LAUNCH_CREATE_FAILED;
    }
    if (process) {
        ::WaitForSingleObject(process.get(), INFINITE);
        DWORD code = 0;
        if (::GetExitCodeProcess(process.get(), &code)) {
            exitCode = code;
        } else {
            const DWORD error = ::GetLastError();
            logError(logger, kModule, L"Failed to retrieve the Exit code (%d).\n",
                     static_cast<int>(error));
            result = LAUNCH_NO_EXIT_CODE;
        }
    }
    return result;
}

}  // namespace korr::detail
