// A console control event while a setup program runs: the program under test shares this test's
// console, as it would share an administrator's console window.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "e2e/e2e_run.h"
#include "support/unicode.h"
#include "sysutil/stop_request.h"

namespace e2e {
namespace {

using nlohmann::json;

Product velt(const wchar_t* sap) {
    return Product{true, sap, L"1.0", L"win64", L"", "0"};
}

TEST(E2eStop, ConsoleBreakWhileASetupProgramRuns) {
    // A console of our own, inherited by the program; this process counts the event too.
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole()) << ::GetLastError();
    ASSERT_TRUE(korr::installStopHandlers());
    Scene scene;
    const std::vector<Product> products = {velt(L"A"), velt(L"B"), velt(L"C")};
    const std::wstring setup = scene.placeSetup(Place::Velt, products);
    testutil::writeBytes(setup + L".cfg",
                         testutil::readBytes(setup + L".cfg") + "STANDIN_SLEEP_MS=2000\n");
    const std::wstring results = scene.path(L"r.json");
    ChildProcess program;
    ASSERT_TRUE(scene.start(program, {L"--uninstallConfigPath=" + scene.writeConfig(products),
                                      L"--resultFile=" + results}));
    for (int i = 0; i < 600 && scene.journal().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(scene.journal().size(), 1u) << "no setup program started";
    const bool raised = ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0) != 0;
    const RunResult result = program.wait();
    korr::clearStopRequests();
    ::FreeConsole();
    if (!raised)
        GTEST_SKIP() << "no console control events here";

    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.out.find(consoleText(
                  {L"Not attempted products:", L"\t\t(B/1.0/win64)", L"\t\t(C/1.0/win64)"})),
              std::string::npos)
        << result.out;
    EXPECT_EQ(scene.journal().size(), 1u) << "no product after the stop";
    for (const std::wstring& name : scene.tempEntries())
        EXPECT_TRUE(name == L"Velkaro.log" || name == L"Plimm.log") << zoka::toUtf8(name);
    const json doc = json::parse(testutil::readBytes(results), nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["stopRequest"], "Ctrl+Break");
    ASSERT_EQ(doc["products"].size(), 3u);
    // The setup program shares the console and receives the event as well: whether it
    // finishes is its own affair, but it was attempted.
    EXPECT_NE(doc["products"][0]["outcome"], "notAttempted");
    EXPECT_EQ(doc["products"][1]["outcome"], "notAttempted");
    EXPECT_EQ(doc["products"][2]["outcome"], "notAttempted");
}

}  // namespace
}  // namespace e2e
