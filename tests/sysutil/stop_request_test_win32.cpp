#include <gtest/gtest.h>
#include <windows.h>

#include "sysutil/stop_request.h"

namespace {

// A console control event raised on a console of our own reaches the handler, which counts it
// instead of ending the process.
TEST(StopRequest, ConsoleControlEventsAreCountedNotFatal) {
    ASSERT_TRUE(korr::installStopHandlers());
    // Events need a console of our own: a run with redirected output may have none, or one that
    // cannot raise them (Wine), so this test makes a fresh one.
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole()) << ::GetLastError();
    korr::clearStopRequests();
    const struct {
        DWORD event;
        const wchar_t* name;
    } cases[] = {{CTRL_C_EVENT, L"Ctrl+C"}, {CTRL_BREAK_EVENT, L"Ctrl+Break"}};
    for (const auto& c : cases) {
        korr::clearStopRequests();
        if (!::GenerateConsoleCtrlEvent(c.event, 0)) {
            const DWORD error = ::GetLastError();
            ::FreeConsole();
            GTEST_SKIP() << "no console control events here (error " << error << ")";
        }
        // The handler runs on a thread the system starts for it.
        for (int i = 0; i < 100 && korr::stopRequestCount() == 0; ++i)
            ::Sleep(50);
        EXPECT_EQ(korr::stopRequestCount(), 1) << c.event;
        EXPECT_STREQ(korr::stopRequestName(), c.name);
    }
    korr::clearStopRequests();
    ::FreeConsole();
}

}  // namespace
