#include <gtest/gtest.h>
#include <signal.h>

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

}  // namespace
