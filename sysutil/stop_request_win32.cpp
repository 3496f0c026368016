#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "support/console.h"
#include "sysutil/stop_request.h"
#include "sysutil/stop_request_platform.h"

namespace korr {
namespace {

constexpr DWORD kNoEvent = 0xFFFFFFFF;

std::atomic<int> requests{0};
std::atomic<DWORD> firstEvent{kNoEvent};
// Set by the main thread once it has cleaned up; a handler with only seconds left waits for it.
HANDLE doneEvent = nullptr;
// Set on each request, so that a launcher waiting on its child wakes at once.
HANDLE wakeEvent = nullptr;

bool inServiceSession() {
    DWORD session = 1;
    return ::ProcessIdToSessionId(::GetCurrentProcessId(), &session) && session == 0;
}

std::mutex noticeMutex;
std::wstring notice;  // guarded by noticeMutex

const wchar_t* eventName(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            return L"Ctrl+C";
        case CTRL_BREAK_EVENT:
            return L"Ctrl+Break";
        case CTRL_CLOSE_EVENT:
            return L"console window closed";
        case CTRL_LOGOFF_EVENT:
            return L"logoff";
        case CTRL_SHUTDOWN_EVENT:
            return L"shutdown";
        default:
            return L"";
    }
}

// Runs on a thread of its own that the system creates for each event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    // A user logging off says nothing about a run in the services' session.
    if (event == CTRL_LOGOFF_EVENT && inServiceSession())
        return FALSE;
    DWORD none = kNoEvent;
    firstEvent.compare_exchange_strong(none, event);
    if (requests.fetch_add(1) == 0) {
        std::wstring text;
        {
            std::lock_guard<std::mutex> hold(noticeMutex);
            text = notice.empty() ? L"no further product will be started." : notice;
        }
        zoka::console::err({L"Stop requested (", eventName(event), L"): ", text});
    }
    if (wakeEvent != nullptr)
        ::SetEvent(wakeEvent);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this returns: give the run the few seconds the system allows
        // (5 for a closed window) to log the stop and remove its folder.
        if (doneEvent != nullptr)
            ::WaitForSingleObject(doneEvent, 4500);
    }
    return TRUE;
}

}  // namespace

bool installStopHandlers() {
    static const bool installed = [] {
        // Deliberately never closed (either event): a handler thread may still use it at
        // process end.
        doneEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        wakeEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        // A parent that started us with Ctrl+C ignored keeps it so; the other events still come.
        return ::SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
    }();
    return installed;
}

int stopRequestCount() {
    return requests.load();
}

const wchar_t* stopRequestName() {
    return firstEvent.load() == kNoEvent ? L"" : eventName(firstEvent.load());
}

void setStopNotice(const std::wstring& text) {
    std::lock_guard<std::mutex> hold(noticeMutex);
    notice = text.size() > 500 ? text.substr(0, 500) : text;
}

void clearStopRequests() {
    requests.store(0);
    firstEvent.store(kNoEvent);
    if (doneEvent != nullptr)
        ::ResetEvent(doneEvent);
}

void stopHandlingDone() {
    if (doneEvent != nullptr)
        ::SetEvent(doneEvent);
}

namespace detail {

int stopRequestPipe() {
    return -1;
}

void drainStopRequestPipe() {}

void* stopRequestEvent() {
    return wakeEvent;
}

}  // namespace detail

}  // namespace korr
