#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/platform.h"
#include "base/unicode.h"
#include "e2e/e2e_platform.h"
#include "logging/logger.h"
#include "standin.h"
#include "sysutil/process_launcher.h"
#include "sysutil/sysutil_helpers.h"

namespace {

using korr::LaunchResult;
using testutil::JournalRecord;

constexpr uint32_t kUntouched = 0xDEADBEEF;

std::string utf8(const std::wstring& text) {
    return zoka::toUtf8(text);
}

// A copy of the stand-in setup program in a folder whose name has spaces and non-ASCII
// characters, configured through the file beside it, with a parameter file next to it.
class Launcher : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        folder_ = scratch_.file(L"Common Files \u00fc\u00df");
        ASSERT_TRUE(testutil::makeFolder(folder_));
        setup_ = folder_ + zoka::os::pathSeparator() + L"Setup \u65e5\u672c.exe";
        ASSERT_TRUE(testutil::copyProgram(testutil::siblingProgram(L"standin_setup"), setup_));
        journal_ = scratch_.file(L"journal.txt");
        param_ = folder_ + zoka::os::pathSeparator() + L"{6B29FC40-CA47-1067-B31D-00DD010662DA} p";
        paramBytes_ = "<DriverInfo><SapCode>\xC3\xA9&amp;</SapCode></DriverInfo>";
        ASSERT_TRUE(testutil::writeBytes(param_, paramBytes_));
        configure("");
    }

    void configure(const std::string& lines) {
        ASSERT_TRUE(testutil::writeBytes(setup_ + L".cfg",
                                         "STANDIN_JOURNAL=" + utf8(journal_) + "\n" + lines));
    }

    std::vector<std::wstring> qxArguments() const {
        return {L"--uninstall=1", L"--driverXML=\"" + param_ + L"\""};
    }
    std::vector<std::wstring> veltArguments() const {
        return {L"\"" + setup_ + L"\"", L"--deploymentFile=\"" + param_ + L"\""};
    }

    /// Runs the copy told to exit with `code` as the VELT or the QX removal does; the exit code
    /// the launcher delivers.
    uint32_t deliveredExitCode(uint32_t code, bool velt) {
        configure("STANDIN_EXIT=" + std::to_string(code) + "\n");
        uint32_t exitCode = kUntouched;
        EXPECT_EQ(korr::runProcessAndWait(setup_, velt ? veltArguments() : qxArguments(), exitCode,
                                          L"", !velt),
                  korr::LAUNCH_OK);
        return exitCode;
    }

    /// The record of the last run; fails the test when there is none.
    JournalRecord lastRun() const {
        auto records = testutil::readJournal(journal_);
        EXPECT_FALSE(records.empty()) << "no journal record";
        return records.empty() ? JournalRecord() : records.back();
    }
    size_t runs() const { return testutil::readJournal(journal_).size(); }

    /// What the launcher does with the processes a program starts: reported when left
    /// running, waited for on request, ended at the limit wherever they went.
    void checkProcessTrees() {
        const struct {
            const char* name;
            std::string lines;
            uint32_t timeoutSeconds;
            bool waitForProcessTree;
            LaunchResult result;
            bool leftover;   // the child is reported as left behind
            bool childRuns;  // after the launch
        } cases[] = {
            {"left behind", "STANDIN_CHILD=hang\n", 0, false, korr::LAUNCH_OK, true, true},
            {"handed off, waited for", "STANDIN_CHILD=300\n", 0, true, korr::LAUNCH_OK, false,
             false},
            {"waited for to the limit", "STANDIN_CHILD=hang\n", 1, true, korr::LAUNCH_TIMED_OUT,
             false, false},
            {"own session, ended at the limit", "STANDIN_MODE=hang\nSTANDIN_CHILD=hang\n", 1, false,
             korr::LAUNCH_TIMED_OUT, false, false},
            {"ended before the limit", "STANDIN_EXIT=33\nSTANDIN_CHILD=0\n", 30, true,
             korr::LAUNCH_OK, false, false},
            // A process whose main thread has ended runs on in its other threads.
            {"main thread gone, left behind", "STANDIN_CHILD=mainexit\n", 0, false, korr::LAUNCH_OK,
             true, true},
            {"main thread gone, waited for to the limit", "STANDIN_CHILD=mainexit\n", 1, true,
             korr::LAUNCH_TIMED_OUT, false, false},
            {"main thread gone, ended at the limit", "STANDIN_MODE=hang\nSTANDIN_CHILD=mainexit\n",
             2, false, korr::LAUNCH_TIMED_OUT, false, false},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            configure(c.lines);
            korr::LaunchLimits limits;
            limits.timeoutSeconds = c.timeoutSeconds;
            limits.waitForProcessTree = c.waitForProcessTree;
            korr::LaunchDetails details;
            // The caller's work runs once, with the program started.
            std::vector<unsigned long> startedWhenCalled;
            limits.whileRunning = [&] { startedWhenCalled.push_back(details.processId); };
            uint32_t exitCode = kUntouched;
            EXPECT_EQ(korr::runProcessAndWait(setup_, qxArguments(), exitCode, L"", true, limits,
                                              &details),
                      c.result);
            EXPECT_EQ(startedWhenCalled, std::vector<unsigned long>{details.processId});
            const JournalRecord run = lastRun();
            const unsigned long child = std::stoul("0" + utf8(run.get("child")));
            ASSERT_NE(child, 0u) << "the stand-in did not start its child";
            EXPECT_EQ(details.processId, std::stoul("0" + utf8(run.get("pid"))));
            // A group of its own: a terminal's Ctrl+C reaches Velkaro only.
            if (run.has("group")) {
                EXPECT_EQ(run.get("group"), run.get("pid"));
            }
            // From the limit to the return, a few seconds at most.
            if (c.result == korr::LAUNCH_TIMED_OUT) {
                EXPECT_LT(details.seconds, c.timeoutSeconds + 4.0);
            }
            const bool childRuns = e2e::processAlive(child);
            if (childRuns)
                e2e::killProcessId(child);  // nothing left by the test
            EXPECT_EQ(childRuns, c.childRuns);
            ASSERT_EQ(details.leftovers.size(), c.leftover ? 1u : 0u);
            if (c.leftover) {
                EXPECT_EQ(details.leftovers[0].processId, child);
                EXPECT_EQ(details.leftovers[0].name, L"Setup \u65e5\u672c.exe");
            }
            if (c.result == korr::LAUNCH_OK)
                EXPECT_EQ(exitCode, c.lines.rfind("STANDIN_EXIT=33", 0) == 0 ? 33u : 0u);
            else
                EXPECT_EQ(exitCode, kUntouched);
        }
    }

    testutil::ScratchDir scratch_{L"launch"};
    std::wstring folder_, setup_, journal_, param_;
    std::string paramBytes_;
};

TEST_F(Launcher, DeliversExitCodes) {
    for (uint32_t code : {0u, 33u, 130u, 135u, 255u, 1u}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(deliveredExitCode(code, false), code);
    }
    EXPECT_EQ(runs(), 6u);
}

TEST_F(Launcher, ExitCodeAboveIntMaxArrivesUnchanged) {
    if (testutil::isPosix()) {
        GTEST_SKIP() << "a POSIX exit status has 8 bits";
    }
    for (uint32_t code : {0xC0000005u, 0xFFFFFFFFu, 0x80000000u}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(deliveredExitCode(code, true), code);
    }
}

TEST_F(Launcher, ChildThatDiesHasNoExitCode) {
    configure("STANDIN_MODE=die\n");
    sysutiltest::SharedLogCapture log;
    uint32_t exitCode = kUntouched;
    const LaunchResult result = korr::runProcessAndWait(setup_, qxArguments(), exitCode, L"", true);
    if (testutil::isPosix()) {
        // Killed by a signal: nothing that could read as "removed" (130) or any other code.
        EXPECT_EQ(result, korr::LAUNCH_NO_EXIT_CODE);
        EXPECT_EQ(exitCode, kUntouched);
        EXPECT_EQ(log.at(zoka::LEVEL_ERROR),
                  std::vector<std::wstring>{L"Failed to retrieve the Exit code (9).\n"});
    } else {
        // A Windows process always leaves an exit code; the stand-in dies with abort()'s 3.
        EXPECT_EQ(result, korr::LAUNCH_OK);
        EXPECT_EQ(exitCode, 3u);
    }
    EXPECT_EQ(runs(), 1u);
}

TEST_F(Launcher, MissingProgramIsNotStarted) {
    for (const std::wstring& program :
         {folder_ + zoka::os::pathSeparator() + L"absent.exe", std::wstring()}) {
        SCOPED_TRACE(utf8(program));
        sysutiltest::SharedLogCapture log;
        uint32_t exitCode = kUntouched;
        EXPECT_EQ(korr::runProcessAndWait(program, qxArguments(), exitCode, L"", true),
                  korr::LAUNCH_NOT_STARTED);
        EXPECT_EQ(exitCode, kUntouched);
        EXPECT_EQ(
            log.at(zoka::LEVEL_ERROR),
            std::vector<std::wstring>{L"CreateProcess failed. PathToProcess does not exist.\n"});
        EXPECT_TRUE(log.at(zoka::LEVEL_INFO).empty());
    }
    EXPECT_EQ(runs(), 0u);
}

TEST_F(Launcher, ProgramThatCannotRunIsACreationFailure) {
    struct Case {
        const char* name;
        std::wstring program;
        std::wstring workingFolder;
    };
    // A file that is no program: on POSIX without the execute permission, or with it but no
    // known format; on Windows a text file named .exe.
    const std::wstring text = folder_ + zoka::os::pathSeparator() + L"text \u00fc.exe";
    const std::wstring script = folder_ + zoka::os::pathSeparator() + L"garbage.exe";
    ASSERT_TRUE(testutil::writeBytes(text, "this is not a program\n"));
    ASSERT_TRUE(testutil::writeBytes(script, std::string("\x01\x02\x03\x04 garbage", 12)));
    ASSERT_TRUE(sysutiltest::setMode(text, 0644));
    ASSERT_TRUE(sysutiltest::setMode(script, 0755));
    const Case cases[] = {
        {"not executable", text, L""},
        {"unknown format", script, L""},
        {"a folder", folder_, L""},
        {"working folder missing", setup_, folder_ + zoka::os::pathSeparator() + L"gone"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sysutiltest::SharedLogCapture log;
        uint32_t exitCode = kUntouched;
        EXPECT_EQ(
            korr::runProcessAndWait(c.program, qxArguments(), exitCode, c.workingFolder, true),
            korr::LAUNCH_CREATE_FAILED);
        EXPECT_EQ(exitCode, kUntouched);
        // The system's error code is in the line, and creation still reports completion.
        const auto errors = log.at(zoka::LEVEL_ERROR);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind(L"CreateProcess failed (", 0), 0u) << utf8(errors[0]);
        EXPECT_NE(errors[0], L"CreateProcess failed (0).\n");
        if (testutil::isPosix() && c.program == text) {
            // Without any execute permission even root gets EACCES from exec.
            EXPECT_EQ(errors[0], L"CreateProcess failed (13).\n");
        }
        const auto infos = log.at(zoka::LEVEL_INFO);
        ASSERT_EQ(infos.size(), 2u);
        EXPECT_EQ(infos[1], L"Process creation completed.");
        for (const auto& line : log.lines())
            EXPECT_EQ(line.moduleTag, L"KorrUtilities");
    }
    EXPECT_EQ(runs(), 0u);
}

TEST_F(Launcher, WorkingFolderDefaultsToTheProgramsFolder) {
    uint32_t exitCode = kUntouched;
    ASSERT_EQ(korr::runProcessAndWait(setup_, qxArguments(), exitCode, L"", true), korr::LAUNCH_OK);
    EXPECT_EQ(lastRun().get("cwd"), folder_);

    const std::wstring other = scratch_.file(L"other \u00e9");
    ASSERT_TRUE(testutil::makeFolder(other));
    ASSERT_EQ(korr::runProcessAndWait(setup_, veltArguments(), exitCode, other, false),
              korr::LAUNCH_OK);
    EXPECT_EQ(lastRun().get("cwd"), other);
}

TEST_F(Launcher, QuotedFormArrivesAsBuilt) {
    const std::wstring expected =
        L"\"" + setup_ + L"\" --uninstall=1 --driverXML=\"" + param_ + L"\" ";
    EXPECT_EQ(korr::buildCommandLine(setup_, qxArguments(), true), expected);

    sysutiltest::SharedLogCapture log;
    uint32_t exitCode = kUntouched;
    ASSERT_EQ(korr::runProcessAndWait(setup_, qxArguments(), exitCode, L"", true), korr::LAUNCH_OK);
    const JournalRecord run = lastRun();
    const std::vector<std::wstring> argv = {setup_, L"--uninstall=1", L"--driverXML=" + param_};
    EXPECT_EQ(run.args(), argv);
    if (run.has("cmdline")) {
        EXPECT_EQ(run.get("cmdline"), expected);
    }
    EXPECT_EQ(run.get("family"), L"QX");
    EXPECT_EQ(run.get("param_status"), L"ok");
    EXPECT_EQ(run.paramBytes, paramBytes_);

    EXPECT_EQ(log.at(zoka::LEVEL_INFO),
              (std::vector<std::wstring>{L"Path to Process :" + setup_ + L" Process Directory :" +
                                             folder_ + L" arguments being passed :" + expected,
                                         L"Process creation completed."}));
    EXPECT_TRUE(log.at(zoka::LEVEL_ERROR).empty());
}

TEST_F(Launcher, UnquotedFormArrivesAsBuilt) {
    const std::wstring expected = L"\"" + setup_ + L"\" --deploymentFile=\"" + param_ + L"\" ";
    EXPECT_EQ(korr::buildCommandLine(setup_, veltArguments(), false), expected);

    uint32_t exitCode = kUntouched;
    ASSERT_EQ(korr::runProcessAndWait(setup_, veltArguments(), exitCode, L"", false),
              korr::LAUNCH_OK);
    const JournalRecord run = lastRun();
    const std::vector<std::wstring> argv = {setup_, L"--deploymentFile=" + param_};
    EXPECT_EQ(run.args(), argv);
    if (run.has("cmdline")) {
        EXPECT_EQ(run.get("cmdline"), expected);
    }
    EXPECT_EQ(run.get("family"), L"VELT");
    EXPECT_EQ(run.paramBytes, paramBytes_);
}

TEST_F(Launcher, EmptyUnquotedCommandLineStartsTheProgramAlone) {
    EXPECT_EQ(korr::buildCommandLine(setup_, {}, false), L"");
    uint32_t exitCode = kUntouched;
    ASSERT_EQ(korr::runProcessAndWait(setup_, {}, exitCode, L"", false), korr::LAUNCH_OK);
    EXPECT_EQ(exitCode, 0u);
    const JournalRecord run = lastRun();
    if (run.has("cmdline")) {
        // Windows hands the child the empty command line as it is; Wine puts the quoted
        // application name in its place.
        const std::wstring expected = testutil::underWine() ? L"\"" + setup_ + L"\"" : L"";
        EXPECT_EQ(run.get("cmdline"), expected);
    }
    // The child still learns its own name, as CommandLineToArgvW gives it for an empty line.
    ASSERT_EQ(run.args().size(), 1u);
    EXPECT_EQ(run.args()[0], setup_);
    EXPECT_EQ(run.get("param_status"), L"none");
}

TEST_F(Launcher, MissingParameterFileIsRecordedNotFatal) {
    configure("STANDIN_EXIT=33\n");
    const std::wstring missing = folder_ + zoka::os::pathSeparator() + L"{none}";
    uint32_t exitCode = kUntouched;
    ASSERT_EQ(korr::runProcessAndWait(setup_, {L"--deploymentFile=\"" + missing + L"\""}, exitCode,
                                      L"", true),
              korr::LAUNCH_OK);
    EXPECT_EQ(exitCode, 33u);
    const JournalRecord run = lastRun();
    EXPECT_EQ(run.get("param"), missing);
    EXPECT_EQ(run.get("param_status"), L"missing");
    EXPECT_FALSE(run.has("param_hex"));
}

TEST_F(Launcher, ProcessesTheProgramStarts) {
    checkProcessTrees();
}

// What one launch left running belongs to it: a later launch neither reports nor waits for it.
TEST_F(Launcher, EarlierLeftoversStayOutOfLaterTrees) {
    configure("STANDIN_CHILD=hang\n");
    uint32_t exitCode = kUntouched;
    korr::LaunchDetails first;
    ASSERT_EQ(korr::runProcessAndWait(setup_, qxArguments(), exitCode, L"", true,
                                      korr::LaunchLimits(), &first),
              korr::LAUNCH_OK);
    ASSERT_EQ(first.leftovers.size(), 1u);
    configure("STANDIN_EXIT=33\n");
    korr::LaunchLimits limits;
    limits.waitForProcessTree = true;
    limits.timeoutSeconds = 30;
    korr::LaunchDetails second;
    EXPECT_EQ(korr::runProcessAndWait(setup_, qxArguments(), exitCode, L"", true, limits, &second),
              korr::LAUNCH_OK);
    EXPECT_EQ(exitCode, 33u);
    EXPECT_TRUE(second.leftovers.empty());
    const unsigned long leftover = first.leftovers[0].processId;
    EXPECT_TRUE(e2e::processAlive(leftover));
    e2e::killProcessId(leftover);
    // Once ended, the next launch reaps it: a long run gathers no zombies.
    for (int wait = 0; wait < 500 && e2e::processAlive(leftover); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(korr::runProcessAndWait(setup_, qxArguments(), exitCode, L"", true), korr::LAUNCH_OK);
    EXPECT_TRUE(e2e::processReaped(leftover));
}

// Where the kernel has no pidfd, the wait hears a child's end through SIGCHLD instead. The
// choice is made once per process, so the cases run in a fresh copy of the test program.
TEST_F(Launcher, ProcessesTheProgramStartsWithoutPidfd) {
    if (!sysutiltest::canHidePidfd())
        GTEST_SKIP() << "only Linux hides a system call from a process";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (!sysutiltest::hidePidfd())
                std::exit(2);
            checkProcessTrees();
            std::exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
