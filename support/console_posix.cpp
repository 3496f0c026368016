#include <errno.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "base/posix_io.h"
#include "base/unicode.h"
#include "support/console.h"

namespace zoka::console {
namespace {

// A reader that went away must not kill the program in the middle of a removal: SIGPIPE is
// held back during the write and a pending one is consumed, so the write just fails with
// EPIPE. The signal is not ignored process-wide, since setup programs inherit ignored signals.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipeSet_);
        sigaddset(&pipeSet_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        wasPending_ = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        blocked_ = ::pthread_sigmask(SIG_BLOCK, &pipeSet_, &oldSet_) == 0;
    }
    ~SigpipeGuard() {
        if (!blocked_)
            return;
        if (brokenPipe && !wasPending_) {
            const struct timespec zero = {0, 0};
            while (::sigtimedwait(&pipeSet_, nullptr, &zero) == -1 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &oldSet_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

    bool brokenPipe = false;

private:
    sigset_t pipeSet_;
    sigset_t oldSet_;
    bool wasPending_ = false;
    bool blocked_ = false;
};

}  // namespace

void writeLine(Stream stream, const std::wstring& text) {
    std::string bytes = toUtf8(text);
    bytes.push_back('\n');
    const int fd = stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO;
    SigpipeGuard guard;
    // A closed or full stream loses this line; the next line tries again.
    guard.brokenPipe = posix::writeAll(fd, bytes) == EPIPE;
}

}  // namespace zoka::console
