#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "sysutil/stop_request.h"

namespace {

// Real signals to this process: each is counted and named by the first one, none ends it.
TEST(StopRequest, SignalsAreCountedNotFatal) {
    ASSERT_TRUE(korr::installStopHandlers());
    const struct {
        int signo;
        const wchar_t* name;
    } cases[] = {{SIGINT, L"SIGINT"}, {SIGTERM, L"SIGTERM"}, {SIGHUP, L"SIGHUP"}};
    for (const auto& c : cases) {
        // A signal this test process inherited as ignored stays ignored (see the header).
        struct sigaction now = {};
        if (::sigaction(c.signo, nullptr, &now) == 0 && now.sa_handler == SIG_IGN)
            continue;
        korr::clearStopRequests();
        EXPECT_EQ(korr::stopRequestCount(), 0);
        EXPECT_STREQ(korr::stopRequestName(), L"");
        ASSERT_EQ(::raise(c.signo), 0);
        ASSERT_EQ(::raise(SIGTERM), 0);
        EXPECT_EQ(korr::stopRequestCount(), 2);
        EXPECT_STREQ(korr::stopRequestName(), c.name) << "the first request names the stop";
    }
    korr::clearStopRequests();
}

// The first request's line goes to standard error from inside the handler: a reader that went
// away (a closed console pipe) must not end the run with SIGPIPE there.
TEST(StopRequest, FirstRequestSpeaksEvenToAClosedPipe) {
    ASSERT_TRUE(korr::installStopHandlers());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int ends[2];
        if (::pipe(ends) != 0 || ::dup2(ends[1], STDERR_FILENO) < 0)
            ::_exit(4);
        ::close(ends[0]);
        korr::clearStopRequests();
        korr::setStopNotice(L"(P/1/w) is finishing.");
        ::raise(SIGTERM);
        ::_exit(korr::stopRequestCount() == 1 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
