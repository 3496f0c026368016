// Stop requests sent as real signals to a running program: the product under way finishes (or,
// on a second request, is ended with all it started), no further product starts, the summary
// lists what was not attempted, and nothing is left behind.

#include <gtest/gtest.h>
#include <signal.h>

#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

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
        int count;                               // signals sent
        std::string answer;                      // the first product's stand-in action
        std::string outcome;                     // what becomes of the first product
        std::vector<std::wstring> productLines;  // the first product's console lines
    } cases[] = {
        // The setup program takes a second; a single request lets it finish.
        {"SIGTERM", SIGTERM, 1, "0", "removed", {L"Successfully uninstalled (A/1.0/win64)"}},
        // A product found missing was attempted too: the stopped run still ends with 2.
        {"SIGTERM", SIGTERM, 1, "33", "notFound", {L"Not found on system (A/1.0/win64)"}},
        // A hanging one is ended, with its child, on the second request, and the console says
        // why, as it does for a time-out.
        {"SIGINT",
         SIGINT,
         2,
         "hangtree",
         "failed",
         {L"Uninstall failed for (A/1.0/win64)",
          L"Its setup program was ended on a second stop request, with every process it "
          L"started.",
          std::wstring(50, L'*')}},
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
        EXPECT_NE(out.find(consoleText(c.productLines)), std::string::npos) << out;
        const std::wstring request = zoka::fromUtf8(c.signal);
        EXPECT_NE(out.find(consoleText({L"The run was stopped by a stop request (" + request +
                                            L"): no product was started after it.",
                                        std::wstring(50, L'*'), L"Not attempted products:",
                                        L"\t\t(B/1.0/win64)", L"\t\t(C/1.0/win64)"})),
                  std::string::npos)
            << out;
        // The first request says at once what is finishing; the exit line stays last.
        EXPECT_EQ(result.err,
                  consoleText({L"Stop requested (" + request +
                                   L"): (A/1.0/win64) is finishing, then no further product will "
                                   L"be started. A second stop request ends it at once.",
                               L"Velkaro exiting with Return Code (2)"}));
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

// Starts the program with a SIGTERM already waiting for it (blocked, so pending): it arrives the
// moment the program starts to listen, as one sent a few milliseconds after the start would.
int execWithPendingStop(const std::vector<std::wstring>& args) {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &term, nullptr);
    ::kill(::getpid(), SIGTERM);
    std::vector<std::string> words;
    for (const std::wstring& arg : args)
        words.push_back(zoka::toUtf8(arg));
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    return 127;
}
[[maybe_unused]] const bool pendingStopRegistered =
    testutil::registerChild("e2e-pending-stop", execWithPendingStop);

TEST(E2eStop, RequestAtTheStartStillGivesALogAndResults) {
    if (!korr::_utilIsUserAdmin())
        GTEST_SKIP() << "the program refuses to run without root";
    Scene scene;
    const std::vector<Product> products = {velt(L"A", "0"), velt(L"B", "0")};
    scene.placeSetup(Place::Velt, products);
    const std::wstring results = scene.path(L"r.json");
    const RunResult result = testutil::runProcess(
        testutil::testProgram(),
        testutil::childModeArguments({L"e2e-pending-stop", testutil::siblingProgram(L"Velkaro"),
                                      L"--uninstallConfigPath=" + scene.writeConfig(products),
                                      L"--resultFile=" + results}),
        {scene.environment(), L"", true});
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_EQ(result.err,
              consoleText({L"Stop requested (SIGTERM): no further product will be started.",
                           L"Velkaro exiting with Return Code (1)"}));
    EXPECT_TRUE(scene.journal().empty());
    const std::vector<std::wstring> log = scene.logSummary();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[3], L"INFO Launching the Velkaro...");
    EXPECT_EQ(log[log.size() - 4], L"INFO Ending the Velkaro Return Code (1)");
    const json doc = json::parse(testutil::readBytes(results), nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["refusal"], "interrupted");
    EXPECT_EQ(doc["stopRequest"], "SIGTERM");
    ASSERT_EQ(doc["products"].size(), 2u);
    EXPECT_EQ(doc["products"][1]["outcome"], "notAttempted");
}

}  // namespace
}  // namespace e2e
