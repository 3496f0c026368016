#include <windows.h>

#include <vector>

#include "base/win32_handle.h"
#include "logging/shared_logger.h"
#include "sysutil/process_launcher_platform.h"

namespace korr::detail {
namespace {

constexpr wchar_t kModule[] = L"KorrUtilities";

}  // namespace

LaunchResult startAndWait(Logger& logger, const std::wstring& programPath,
                          const std::wstring& commandLine, const std::wstring& workingFolder,
                          bool quoteProgramPath, uint32_t& exitCode, WaitWatch& watch,
                          unsigned long& processId) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');

    // Started suspended so that it is in its job before it can start anything of its own.
    const BOOL created = ::CreateProcessW(quoteProgramPath ? nullptr : programPath.c_str(),
                                          buffer.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                          nullptr, workingFolder.c_str(), &startup, &info);
    const DWORD createError = ::GetLastError();
    zoka::win32::UniqueHandle process(info.hProcess);
    zoka::win32::UniqueHandle thread(info.hThread);
    // Without a job (a parent's job that allows neither nesting nor breakaway) only the program
    // itself can be ended at a limit.
    zoka::win32::UniqueHandle job;
    if (created) {
        job.reset(::CreateJobObjectW(nullptr, nullptr));
        if (job && !::AssignProcessToJobObject(job.get(), process.get())) {
            logError(logger, kModule, L"AssignProcessToJobObject failed (%d).\n",
                     static_cast<int>(::GetLastError()));
            job.reset();
        }
        ::ResumeThread(thread.get());
        processId = info.dwProcessId;
    }

    LaunchResult result = LAUNCH_OK;
    if (!created) {
        logError(logger, kModule, L"CreateProcess failed (%d).\n", static_cast<int>(createError));
        result = LAUNCH_CREATE_FAILED;
    }
    if (process) {
        WaitStep ended = WaitStep::KeepWaiting;
        while (::WaitForSingleObject(process.get(), WaitWatch::kSliceMs) == WAIT_TIMEOUT) {
            ended = watch.check(info.dwProcessId);
            if (ended != WaitStep::KeepWaiting)
                break;
        }
        if (ended != WaitStep::KeepWaiting) {
            if (!job || !::TerminateJobObject(job.get(), 1))
                ::TerminateProcess(process.get(), 1);
            ::WaitForSingleObject(process.get(), INFINITE);
            return ended == WaitStep::EndForTimeout ? LAUNCH_TIMED_OUT : LAUNCH_STOPPED;
        }
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
