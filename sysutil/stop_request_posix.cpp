#include <signal.h>

#include <atomic>
#include <initializer_list>

#include "sysutil/stop_request.h"

namespace korr {
namespace {

std::atomic<int> requests{0};
std::atomic<int> firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler needs a lock-free count");

void onStopSignal(int signo) {
    int none = 0;
    firstSignal.compare_exchange_strong(none, signo);
    requests.fetch_add(1);
}

}  // namespace

bool installStopHandlers() {
    static const bool installed = [] {
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

}  // namespace korr
