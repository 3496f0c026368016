// Stop requests sent as real signals to a running program: the product under way finishes (or,
// on a second request, is ended with all it started), no further product starts, the summary
// lists what was not attempted, and nothing is left behind.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/unicode.h"
#include "e2e/e2e_run.h"
#include "sysutil/admin.h"

namespace e2e {
namespace {

using nlohmann::json;

Product velt(const wchar_t* sap, const std::string& answer) {
    return Product{true, sap, L"1.0", L"win64", L"", answer};
}

// Waits until the first setup program has written its record; its process id.
unsigned long waitForFirstSetup(const Scene& scene) {
    for (int i = 0; i < 600; ++i) {
        const std::vector<JournalRecord> records = scene.journal();
        if (!records.empty())
            return std::stoul("0" + zoka::toUtf8(records[0].get("pid")));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

TEST(E2eStop, SignalsWhileASetupProgramRuns) {
    if (!korr::_utilIsUserAdmin())
        GTEST_SKIP() << "the program refuses to run without root";
    const struct {
        const char* signal;
        int signo;
        int count;            // signals sent
        std::string answer;   // the first product's stand-in action
        std::string outcome;  // what becomes of the first product
    } cases[] = {
        // The setup program takes a second; a single request lets it finish.
        {"SIGTERM", SIGTERM, 1, "0", "removed"},
        // A hanging one is ended, with its child, on the second request.
        {"SIGINT", SIGINT, 2, "hangtree", "failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        Scene scene;
        const std::vector<Product> products = {velt(L"A", c.answer), velt(L"B", "0"),
                                               velt(L"C", "0")};
        const std::wstring setup = scene.placeSetup(Place::Velt, products);
        // Every run of the stand-in takes a second before its action.
        testutil::writeBytes(setup + L".cfg",
                             testutil::readBytes(setup + L".cfg") + "STANDIN_SLEEP_MS=1000\n");
        const std::wstring config = scene.writeConfig(products);
        const std::wstring results = scene.path(L"r.json");
        ChildProcess program;
        ASSERT_TRUE(
            scene.start(program, {L"--uninstallConfigPath=" + config, L"--resultFile=" + results}));
        const unsigned long setupPid = waitForFirstSetup(scene);
        ASSERT_NE(setupPid, 0u) << "no setup program started";
        for (int i = 0; i < c.count; ++i) {
            ::kill(static_cast<pid_t>(program.id()), c.signo);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        const RunResult result = program.wait();

        EXPECT_EQ(result.exitCode, 2) << "a removal was attempted";
        const std::string out = result.out;
        EXPECT_NE(out.find(consoleText(
                      {L"Not attempted products:", L"\t\t(B/1.0/win64)", L"\t\t(C/1.0/win64)"})),
                  std::string::npos)
            << out;
        EXPECT_EQ(result.err, consoleText({L"Velkaro exiting with Return Code (2)"}));
        EXPECT_EQ(scene.journal().size(), 1u) << "no product after the stop";
        for (const JournalRecord& record : scene.journal()) {
            EXPECT_FALSE(processAlive(std::stoul("0" + zoka::toUtf8(record.get("pid")))));
            if (record.has("grandchild")) {
                const unsigned long child = std::stoul(zoka::toUtf8(record.get("grandchild")));
                EXPECT_FALSE(processAlive(child));
                if (processAlive(child))
                    killProcessId(child);  // no leftover from a failed run
            }
        }
        for (const std::wstring& name : scene.tempEntries())
            EXPECT_TRUE(name == L"Velkaro.log" || name == L"Plimm.log") << zoka::toUtf8(name);
        const std::vector<std::wstring> log = scene.logSummary();
        ASSERT_GE(log.size(), 5u);
        EXPECT_EQ(log[log.size() - 4], L"INFO Ending the Velkaro Return Code (2)");
        const std::string signal = c.signo == SIGTERM  ? "SIGTERM"
                                   : c.signo == SIGHUP ? "SIGHUP"
                                                       : "SIGINT";
        EXPECT_NE(std::find(log.begin(), log.end(),
                            L"ERROR The run was stopped by a stop request (" +
                                zoka::fromUtf8(signal) + L")."),
                  log.end());

        const json doc = json::parse(readResultFile(results), nullptr, false);
        ASSERT_FALSE(doc.is_discarded());
        EXPECT_EQ(doc["stopRequest"], c.signal);
        EXPECT_EQ(doc["exitCode"], 2);
        ASSERT_EQ(doc["products"].size(), 3u);
        EXPECT_EQ(doc["products"][0]["outcome"], c.outcome);
        EXPECT_EQ(doc["products"][1]["outcome"], "notAttempted");
        EXPECT_EQ(doc["products"][2]["outcome"], "notAttempted");
    }
}

}  // namespace
}  // namespace e2e
