#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "base/unicode.h"
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

// What the first request lets finish, as UTF-8 text, in two buffers: the run fills the one the
// handler does not read and then publishes it, so the handler never sees half a text.
struct Notice {
    char text[512];
};
Notice notices[2] = {};
std::atomic<int> publishedNotice{-1};

constexpr char kDefaultNotice[] = "no further product will be started.";

// The stop signals and their names, narrow for the handler and wide for the run.
struct SignalName {
    int signo;
    const char* text;
    const wchar_t* wideText;
};
constexpr SignalName kSignalNames[] = {
    {SIGINT, "SIGINT", L"SIGINT"}, {SIGTERM, "SIGTERM", L"SIGTERM"}, {SIGHUP, "SIGHUP", L"SIGHUP"}};
constexpr SignalName kNoName = {0, "", L""};

const SignalName& signalName(int signo) {
    for (const SignalName& name : kSignalNames) {
        if (name.signo == signo)
            return name;
    }
    return kNoName;
}

// Async-signal-safe: write(2) only, with SIGPIPE held back so that a console reader that went
// away cannot end the run from inside the handler.
void writeNotice(int signo) {
    sigset_t pipeSet, oldSet, pending;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigemptyset(&pending);
    const bool wasPending = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    const bool blocked = ::sigprocmask(SIG_BLOCK, &pipeSet, &oldSet) == 0;
    const int notice = publishedNotice.load();
    const char* name = signalName(signo).text;
    const char* pieces[] = {"Stop requested (", name,
                            "): ", notice >= 0 ? notices[notice].text : kDefaultNotice, "\n"};
    bool broken = false;
    for (const char* piece : pieces) {
        size_t left = ::strlen(piece);
        while (left > 0 && !broken) {
            const ssize_t n = ::write(STDERR_FILENO, piece, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                broken = true;
                break;
            }
            piece += n;
            left -= static_cast<size_t>(n);
        }
    }
    if (!blocked)
        return;
    if (!wasPending && ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        const struct timespec zero = {0, 0};
        while (::sigtimedwait(&pipeSet, nullptr, &zero) == -1 && errno == EINTR) {
        }
    }
    ::sigprocmask(SIG_SETMASK, &oldSet, nullptr);
}

void onStopSignal(int signo) {
    const int savedErrno = errno;
    int none = 0;
    firstSignal.compare_exchange_strong(none, signo);
    const bool first = requests.fetch_add(1) == 0;
    // The waiter is woken before the notice, which may have to wait for a slow console reader.
    if (wakeWrite >= 0) {
        // A full pipe already wakes the reader; the count holds the number.
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeWrite, &byte, 1);
    }
    if (first)
        writeNotice(signo);
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
        sigset_t handled;
        sigemptyset(&handled);
        for (const SignalName& name : kSignalNames) {
            const int signo = name.signo;
            // A signal the parent chose to ignore (nohup, a background job) stays ignored.
            struct sigaction previous = {};
            if (::sigaction(signo, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
                continue;
            ok = ::sigaction(signo, &action, nullptr) == 0 && ok;
            sigaddset(&handled, signo);
        }
        // A mask inherited from the parent would hold requests back until the run is over; one
        // that is already pending arrives here, now that it is only counted.
        ::sigprocmask(SIG_UNBLOCK, &handled, nullptr);
        return ok;
    }();
    return installed;
}

int stopRequestCount() {
    return requests.load();
}

const wchar_t* stopRequestName() {
    return signalName(firstSignal.load()).wideText;
}

void clearStopRequests() {
    requests.store(0);
    firstSignal.store(0);
}

void setStopNotice(const std::wstring& what) {
    if (what.empty()) {
        publishedNotice.store(-1);
        return;
    }
    const int next = publishedNotice.load() == 0 ? 1 : 0;
    Notice& notice = notices[next];
    const std::string text = zoka::toUtf8(what);
    // Cut at a character boundary, never inside a UTF-8 sequence.
    size_t size = text.size() < sizeof(notice.text) - 1 ? text.size() : sizeof(notice.text) - 1;
    while (size > 0 && size < text.size() &&
           (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80)
        --size;
    ::memcpy(notice.text, text.data(), size);
    notice.text[size] = '\0';
    publishedNotice.store(next);
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
