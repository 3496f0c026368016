#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "support/console.h"
#include "sysutil/stop_request.h"
#include "test_util.h"

namespace {

// In a fresh process with a console of its own (the test process's console may not raise
// events, as under Wine): raises the event named by the argument and answers 0 when the handler
// counted it under the expected name and said at once on standard error what is finishing, 2
// when it did not, 3 when no event could be raised.
int raiseConsoleEvent(const std::vector<std::wstring>& args) {
    const DWORD event = !args.empty() && args[0] == L"break" ? CTRL_BREAK_EVENT : CTRL_C_EVENT;
    const wchar_t* name = event == CTRL_BREAK_EVENT ? L"Ctrl+Break" : L"Ctrl+C";
    if (!korr::installStopHandlers())
        return 2;
    static std::wstring said;
    static std::atomic<bool> spoken{false};
    zoka::console::setSink([](zoka::console::Stream stream, const std::wstring& text) {
        if (stream == zoka::console::Stream::Err && !spoken) {
            said = text;
            spoken = true;
        }
    });
    korr::setStopNotice(L"(P/1/w) is finishing.");
    ::FreeConsole();
    if (!::AllocConsole() || !::GenerateConsoleCtrlEvent(event, 0))
        return 3;
    // The handler runs on a thread the system starts for it.
    for (int i = 0; i < 100 && !spoken; ++i)
        ::Sleep(50);
    const std::wstring expected =
        L"Stop requested (" + std::wstring(name) + L"): (P/1/w) is finishing.";
    return korr::stopRequestCount() == 1 && std::wstring(korr::stopRequestName()) == name &&
                   spoken && said == expected
               ? 0
               : 2;
}

[[maybe_unused]] const bool raiseRegistered =
    testutil::registerChild("stop-console-event", raiseConsoleEvent);

// A console control event reaches the handler, which counts it instead of ending the process.
TEST(StopRequest, ConsoleControlEventsAreCountedNotFatal) {
    for (const wchar_t* event : {L"c", L"break"}) {
        const int code = testutil::runSelf({L"stop-console-event", event});
        if (code == 3)
            GTEST_SKIP() << "no console control events here";
        EXPECT_EQ(code, 0) << "event " << (event[0] == L'c' ? "Ctrl+C" : "Ctrl+Break");
    }
}

}  // namespace
