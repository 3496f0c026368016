#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "base/win32_handle.h"
#include "logging/shared_logger.h"
#include "sysutil/process_launcher_platform.h"
#include "sysutil/stop_request_platform.h"

namespace korr::detail {
namespace {

constexpr wchar_t kModule[] = L"KorrUtilities";
// From the limit (or the second stop request) to the caller's next step: a few seconds at most.
constexpr DWORD kMostEndMs = 2000;

DWORD waitMs(int64_t remainingMs) {
    return remainingMs < 0 ? INFINITE
                           : static_cast<DWORD>(std::min<int64_t>(remainingMs, INFINITE - 1));
}

// Waits on the handles, a stop request and the time left together; the wait decides nothing,
// the caller looks again after it.
void waitForAny(std::vector<HANDLE> handles, int64_t remainingMs) {
    if (HANDLE stop = stopRequestEvent())
        handles.push_back(stop);
    ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                             waitMs(remainingMs));
}

// The job's processes now; empty when the job could not be asked.
std::vector<DWORD> jobProcessIds(HANDLE job) {
    std::vector<char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + 64 * sizeof(ULONG_PTR));
    for (int attempt = 0; attempt < 8; ++attempt) {
        auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
        list->NumberOfAssignedProcesses = 0;
        list->NumberOfProcessIdsInList = 0;
        const BOOL ok = ::QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                                    static_cast<DWORD>(buffer.size()), nullptr);
        if (ok && list->NumberOfProcessIdsInList >= list->NumberOfAssignedProcesses) {
            std::vector<DWORD> ids;
            for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i)
                ids.push_back(static_cast<DWORD>(list->ProcessIdList[i]));
            return ids;
        }
        if (!ok && ::GetLastError() != ERROR_MORE_DATA)
            break;
        buffer.resize(buffer.size() * 2 + list->NumberOfAssignedProcesses * sizeof(ULONG_PTR));
    }
    return {};
}

std::wstring imageName(HANDLE process) {
    std::vector<wchar_t> path(32768);
    DWORD size = static_cast<DWORD>(path.size());
    if (!::QueryFullProcessImageNameW(process, 0, path.data(), &size))
        return std::wstring();
    const std::wstring full(path.data(), size);
    const size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

bool setKillOnClose(HANDLE job, bool kill) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = kill ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
    return ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                     sizeof(limits)) != 0;
}

// The running processes of the job other than the program; their handles, when `handles`.
std::vector<LeftoverProcess> jobMembers(HANDLE job, DWORD program,
                                        std::vector<zoka::win32::UniqueHandle>* handles) {
    std::vector<std::pair<DWORD, zoka::win32::UniqueHandle>> opened;
    for (DWORD id : jobProcessIds(job)) {
        if (id != program) {
            opened.emplace_back(
                id, zoka::win32::UniqueHandle(
                        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id)));
        }
    }
    // An id still listed after the opening named a member when it was opened: one that had
    // ended and whose id went to another process would have left the list. (IsProcessInJob
    // would say so directly, but Wine answers it wrongly.)
    const std::vector<DWORD> listed = jobProcessIds(job);
    std::vector<LeftoverProcess> members;
    for (auto& [id, process] : opened) {
        if (!process || std::find(listed.begin(), listed.end(), id) == listed.end() ||
            ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0)
            continue;
        members.push_back({id, imageName(process.get())});
        if (handles != nullptr)
            handles->push_back(std::move(process));
    }
    return members;
}

}  // namespace

LaunchResult startAndWait(Logger& logger, const std::wstring& programPath,
                          const std::wstring& commandLine, const std::wstring& workingFolder,
                          bool quoteProgramPath, uint32_t& exitCode, WaitWatch& watch,
                          LaunchDetails& details) {
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
    // itself can be ended at a limit, and nothing ends it when Velkaro is killed.
    zoka::win32::UniqueHandle job;
    if (created) {
        job.reset(::CreateJobObjectW(nullptr, nullptr));
        // While Velkaro waits, its death (the last handle closing) ends the whole tree.
        if (job && !setKillOnClose(job.get(), true)) {
            logError(logger, kModule, L"SetInformationJobObject failed (%d).\n",
                     static_cast<int>(::GetLastError()));
        }
        if (job && !::AssignProcessToJobObject(job.get(), process.get())) {
            logError(logger, kModule, L"AssignProcessToJobObject failed (%d).\n",
                     static_cast<int>(::GetLastError()));
            job.reset();
        }
        ::ResumeThread(thread.get());
        details.processId = info.dwProcessId;
    }

    if (!created) {
        logError(logger, kModule, L"CreateProcess failed (%d).\n", static_cast<int>(createError));
        return LAUNCH_CREATE_FAILED;
    }
    if (!process)
        return LAUNCH_OK;

    const bool wholeTree = watch.limits().waitForProcessTree && job;
    bool programEnded = false;
    for (;;) {
        const WaitStep step = watch.check(info.dwProcessId);
        if (step != WaitStep::KeepWaiting) {
            if (!job || !::TerminateJobObject(job.get(), 1))
                ::TerminateProcess(process.get(), 1);
            // Bounded: a process stuck in a driver must not hold the run past its limit.
            ::WaitForSingleObject(process.get(), kMostEndMs);
            return step == WaitStep::EndForTimeout ? LAUNCH_TIMED_OUT : LAUNCH_STOPPED;
        }
        if (!programEnded)
            programEnded = ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
        if (!programEnded) {
            waitForAny({process.get()}, watch.remainingMs());
            continue;
        }
        if (!wholeTree)
            break;
        // Every one of them must end, so waiting on any few of them at a time loses nothing;
        // the job is asked again after each end.
        std::vector<zoka::win32::UniqueHandle> members;
        jobMembers(job.get(), info.dwProcessId, &members);
        if (members.empty())
            break;
        std::vector<HANDLE> handles;
        for (size_t i = 0; i < members.size() && handles.size() < MAXIMUM_WAIT_OBJECTS - 1; ++i)
            handles.push_back(members[i].get());
        waitForAny(handles, watch.remainingMs());
    }

    if (job) {
        details.leftovers = jobMembers(job.get(), info.dwProcessId, nullptr);
        // What the program deliberately leaves behind keeps running when the job closes.
        setKillOnClose(job.get(), false);
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(process.get(), &code)) {
        const DWORD error = ::GetLastError();
        logError(logger, kModule, L"Failed to retrieve the Exit code (%d).\n",
                 static_cast<int>(error));
        return LAUNCH_NO_EXIT_CODE;
    }
    exitCode = code;
    return LAUNCH_OK;
}

}  // namespace korr::detail
