// The stand-in setup program's own configuration: every test of the removals relies on it.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/platform.h"
#include "base/unicode.h"
#include "standin.h"
#include "sysutil/process_launcher.h"

namespace {

class Standin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        setup_ = scratch_.file(L"Setup.exe");
        ASSERT_TRUE(testutil::copyProgram(testutil::siblingProgram(L"standin_setup"), setup_));
        param_ = scratch_.file(L"param.xml");
        ASSERT_TRUE(
            testutil::writeBytes(param_, "<DriverInfo><SapCode>KBRD</SapCode></DriverInfo>"));
    }

    void writeConfig(const std::string& lines) {
        ASSERT_TRUE(testutil::writeBytes(setup_ + L".cfg", lines));
    }
    /// A configuration that journals into journal_, then `lines`.
    void writeJournaledConfig(const std::string& lines) {
        writeConfig("STANDIN_JOURNAL=" + zoka::toUtf8(journal_) + "\n" + lines);
    }

    /// Runs the copy as the QX removal does; its exit code.
    uint32_t run() {
        uint32_t exitCode = 0xDEADBEEF;
        EXPECT_EQ(
            korr::runProcessAndWait(setup_, {L"--uninstall=1", L"--driverXML=\"" + param_ + L"\""},
                                    exitCode, L"", true),
            korr::LAUNCH_OK);
        return exitCode;
    }

    testutil::ScratchDir scratch_{L"standin"};
    std::wstring setup_, param_;
    const std::wstring journal_ = scratch_.file(L"journal.txt");
};

TEST_F(Standin, ConfigFileBesideTheProgramWinsOverTheEnvironment) {
    const std::wstring envJournal = scratch_.file(L"env.txt");
    testutil::EnvOverride env({{"STANDIN_JOURNAL", envJournal}, {"STANDIN_EXIT", L"7"}});
    EXPECT_EQ(run(), 7u);
    ASSERT_EQ(testutil::readJournal(envJournal).size(), 1u);
    EXPECT_FALSE(testutil::readJournal(envJournal)[0].has("config"));

    // A relative journal path in the file counts from the program's folder.
    writeConfig("# one copy's own answer\r\nSTANDIN_EXIT = 0x21\r\nSTANDIN_JOURNAL=own.txt\r\n");
    EXPECT_EQ(run(), 33u);
    const auto records = testutil::readJournal(scratch_.file(L"own.txt"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].get("config"), setup_ + L".cfg");
    EXPECT_EQ(records[0].get("action"), L"exit 33");
    EXPECT_FALSE(records[0].has("config_error"));
    EXPECT_EQ(testutil::readJournal(envJournal).size(), 1u);
}

TEST_F(Standin, RulesChooseTheAnswerByTheParameterFile) {
    writeJournaledConfig("STANDIN_EXIT=0\nSTANDIN_RULES=<SapCode>OTHER<=1;<SapCode>KBRD<=135\n");
    EXPECT_EQ(run(), 135u);
    // No rule matches: never the plain exit code, which would read as a removal.
    ASSERT_TRUE(testutil::writeBytes(param_, "<SapCode>NONE</SapCode>"));
    EXPECT_EQ(run(), 97u);
    writeJournaledConfig("STANDIN_RULES=<SapCode>OTHER<=1\nSTANDIN_UNMATCHED=33\n");
    EXPECT_EQ(run(), 33u);
    const auto records = testutil::readJournal(journal_);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].get("rule"), L"<SapCode>KBRD<");
    EXPECT_FALSE(records[0].has("rule_miss"));
    EXPECT_FALSE(records[1].has("rule"));
    EXPECT_EQ(records[1].get("rule_miss"), L"2");
    EXPECT_EQ(records[2].get("rule_miss"), L"1");
}

TEST_F(Standin, MistakesAreRecordedAndNeverReadAsSuccess) {
    writeJournaledConfig("STANDIN_EXIT=zero\nSTANDIN_MODE=sometimes\nnonsense\n");
    EXPECT_EQ(run(), 1u);
    const auto records = testutil::readJournal(journal_);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].values.at("config_error").size(), 3u);
}

TEST_F(Standin, SleepsHangsAndUnreadableFiles) {
    writeJournaledConfig("STANDIN_SLEEP_MS=400\n");
    uint32_t exitCode;
    const auto start = std::chrono::steady_clock::now();
    // A folder in place of the parameter file: recorded as unreadable, the run goes on.
    ASSERT_EQ(korr::runProcessAndWait(setup_, {L"--deploymentFile=\"" + scratch_.path() + L"\""},
                                      exitCode, L"", true),
              korr::LAUNCH_OK);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_EQ(exitCode, 0u);
    auto records = testutil::readJournal(journal_);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].get("param_status"), L"unreadable");
    EXPECT_NE(records[0].get("param_error"), L"0");

    // Hanging: the record is written first, then the process waits until it is killed.
    writeJournaledConfig("STANDIN_MODE=hang\n");
    testutil::ChildProcess child;
    ASSERT_TRUE(child.start(setup_, {L"--driverXML=" + param_}));
    for (int i = 0; i < 3000 && testutil::readJournal(journal_).size() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    records = testutil::readJournal(journal_);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].get("action"), L"hang");
    child.kill();
    child.wait();
}

}  // namespace
