#include <gtest/gtest.h>
#include <windows.h>

#include "sysutil/stop_request.h"

namespace {

// A console control event raised on a console of our own reaches the handler, which counts it
// instead of ending the process.
TEST(StopRequest, ConsoleControlEventsAreCountedNotFatal) {
    ASSERT_TRUE(korr::installStopHandlers());
    // A test run with redirected output has no console; without one no event can be raised.
    const bool ownConsole = ::GetConsoleWindow() == nullptr && ::AllocConsole();
    korr::clearStopRequests();
    const struct {
        DWORD event;
        const wchar_t* name;
    } cases[] = {{CTRL_C_EVENT, L"Ctrl+C"}, {CTRL_BREAK_EVENT, L"Ctrl+Break"}};
    for (const auto& c : cases) {
        korr::clearStopRequests();
        if (!::GenerateConsoleCtrlEvent(c.event, 0)) {
            if (ownConsole)
                ::FreeConsole();
            GTEST_SKIP() << "no console control events here (error " << ::GetLastError() << ")";
        }
        // The handler runs on a thread the system starts for it.
        for (int i = 0; i < 100 && korr::stopRequestCount() == 0; ++i)
            ::Sleep(50);
        EXPECT_EQ(korr::stopRequestCount(), 1) << c.event;
        EXPECT_STREQ(korr::stopRequestName(), c.name);
    }
    korr::clearStopRequests();
    if (ownConsole)
        ::FreeConsole();
}

}  // namespace
