#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <initializer_list>

#include "sysutil/stop_request.h"
#include "sysutil/stop_request_platform.h"

namespace korr {
namespace {

std::atomic<int> requests{0};
std::atomic<int> firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler needs a lock-free count");
// The self-pipe that wakes a launcher waiting on its child; both ends close on exec.
int wakeRead = -1;
int wakeWrite = -1;

void onStopSignal(int signo) {
    const int savedErrno = errno;
    int none = 0;
    firstSignal.compare_exchange_strong(none, signo);
    requests.fetch_add(1);
    if (wakeWrite >= 0) {
        // A full pipe already wakes the reader; the count holds the number.
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeWrite, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

bool installStopHandlers() {
    static const bool installed = [] {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
            wakeRead = ends[0];
            wakeWrite = ends[1];
        }
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: a wait that a request interrupts returns at once and looks again.
        action.sa_flags = 0;
        bool ok = true;
        for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
            // A signal the parent chose to ignore (nohup, a background job) stays ignored.
            struct sigaction previous = {};
            if (::sigaction(signo, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
                continue;
            ok = ::sigaction(signo, &action, nullptr) == 0 && ok;
        }
        return ok;
    }();
    return installed;
}

int stopRequestCount() {
    return requests.load();
}

const wchar_t* stopRequestName() {
    switch (firstSignal.load()) {
        case SIGINT:
            return L"SIGINT";
        case SIGTERM:
            return L"SIGTERM";
        case SIGHUP:
            return L"SIGHUP";
        default:
            return L"";
    }
}

void clearStopRequests() {
    requests.store(0);
    firstSignal.store(0);
}

void stopHandlingDone() {}

namespace detail {

int stopRequestPipe() {
    return wakeRead;
}

void drainStopRequestPipe() {
    char buffer[64];
    while (wakeRead >= 0 && ::read(wakeRead, buffer, sizeof(buffer)) > 0) {
    }
}

void* stopRequestEvent() {
    return nullptr;
}

}  // namespace detail

}  // namespace korr
