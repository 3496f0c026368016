// The stand-in setup program's own configuration: every test of the removals relies on it.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/platform.h"
#include "support/unicode.h"
#include "sysutil/process_launcher.h"
#include "sysutil/sysutil_helpers.h"
#include "test_util.h"

namespace {

// Sets environment variables for the object's lifetime.
class EnvVars {
public:
    explicit EnvVars(const std::vector<std::pair<std::string, std::wstring>>& values) {
        for (const auto& [name, value] : values) {
            saved_.push_back({name, testutil::getEnv(name)});
            testutil::setEnv(name, value);
        }
    }
    ~EnvVars() {
        for (const auto& [name, value] : saved_)
            testutil::setEnv(name, value, value.empty());
    }

private:
    std::vector<std::pair<std::string, std::wstring>> saved_;
};

class Standin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        setup_ = scratch_.file(L"Setup.exe");
        ASSERT_TRUE(sysutiltest::copyProgram(testutil::siblingProgram(L"standin_setup"), setup_));
        param_ = scratch_.file(L"param.xml");
        ASSERT_TRUE(
            testutil::writeBytes(param_, "<DriverInfo><SapCode>KBRD</SapCode></DriverInfo>"));
    }

    void writeConfig(const std::string& lines) {
        ASSERT_TRUE(testutil::writeBytes(setup_ + L".cfg", lines));
    }

    korr::LaunchResult run(uint32_t& exitCode) {
        exitCode = 0xDEADBEEF;
        return korr::runProcessAndWait(
            setup_, {L"--uninstall=1", L"--driverXML=\"" + param_ + L"\""}, exitCode, L"", true);
    }

    testutil::ScratchDir scratch_{L"standin"};
    std::wstring setup_, param_;
};

TEST_F(Standin, ConfigFileBesideTheProgramWinsOverTheEnvironment) {
    const std::wstring envJournal = scratch_.file(L"env.txt");
    EnvVars env({{"STANDIN_JOURNAL", envJournal}, {"STANDIN_EXIT", L"7"}});
    uint32_t exitCode;
    ASSERT_EQ(run(exitCode), korr::LAUNCH_OK);
    EXPECT_EQ(exitCode, 7u);
    ASSERT_EQ(sysutiltest::readJournal(envJournal).size(), 1u);
    EXPECT_FALSE(sysutiltest::readJournal(envJournal)[0].has("config"));

    // A relative journal path in the file counts from the program's folder.
    writeConfig("# one copy's own answer\r\nSTANDIN_EXIT = 0x21\r\nSTANDIN_JOURNAL=own.txt\r\n");
    ASSERT_EQ(run(exitCode), korr::LAUNCH_OK);
    EXPECT_EQ(exitCode, 33u);
    const auto records = sysutiltest::readJournal(scratch_.file(L"own.txt"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].get("config"), setup_ + L".cfg");
    EXPECT_EQ(records[0].get("action"), L"exit 33");
    EXPECT_FALSE(records[0].has("config_error"));
    EXPECT_EQ(sysutiltest::readJournal(envJournal).size(), 1u);
}

TEST_F(Standin, RulesChooseTheAnswerByTheParameterFile) {
    const std::wstring journal = scratch_.file(L"journal.txt");
    writeConfig("STANDIN_JOURNAL=" + zoka::toUtf8(journal) +
                "\nSTANDIN_EXIT=0\nSTANDIN_RULES=<SapCode>OTHER<=1;<SapCode>KBRD<=135\n");
    uint32_t exitCode;
    ASSERT_EQ(run(exitCode), korr::LAUNCH_OK);
    EXPECT_EQ(exitCode, 135u);
    ASSERT_TRUE(testutil::writeBytes(param_, "<SapCode>NONE</SapCode>"));
    ASSERT_EQ(run(exitCode), korr::LAUNCH_OK);
    EXPECT_EQ(exitCode, 0u);
    const auto records = sysutiltest::readJournal(journal);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].get("rule"), L"<SapCode>KBRD<");
    EXPECT_FALSE(records[1].has("rule"));
}

TEST_F(Standin, MistakesAreRecordedAndNeverReadAsSuccess) {
    const std::wstring journal = scratch_.file(L"journal.txt");
    writeConfig("STANDIN_JOURNAL=" + zoka::toUtf8(journal) +
                "\nSTANDIN_EXIT=zero\nSTANDIN_MODE=sometimes\nnonsense\n");
    uint32_t exitCode;
    ASSERT_EQ(run(exitCode), korr::LAUNCH_OK);
    EXPECT_EQ(exitCode, 1u);
    const auto records = sysutiltest::readJournal(journal);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].values.at("config_error").size(), 3u);
}

TEST_F(Standin, SleepsHangsAndUnreadableFiles) {
    const std::wstring journal = scratch_.file(L"journal.txt");
    writeConfig("STANDIN_JOURNAL=" + zoka::toUtf8(journal) + "\nSTANDIN_SLEEP_MS=400\n");
    uint32_t exitCode;
    const auto start = std::chrono::steady_clock::now();
    // A folder in place of the parameter file: recorded as unreadable, the run goes on.
    ASSERT_EQ(korr::runProcessAndWait(setup_, {L"--deploymentFile=\"" + scratch_.path() + L"\""},
                                      exitCode, L"", true),
              korr::LAUNCH_OK);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_EQ(exitCode, 0u);
    auto records = sysutiltest::readJournal(journal);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].get("param_status"), L"unreadable");
    EXPECT_NE(records[0].get("param_error"), L"0");

    // Hanging: the record is written first, then the process waits until it is killed.
    writeConfig("STANDIN_JOURNAL=" + zoka::toUtf8(journal) + "\nSTANDIN_MODE=hang\n");
    sysutiltest::Child child;
    ASSERT_TRUE(child.start({setup_, L"--driverXML=" + param_}));
    for (int i = 0; i < 3000 && sysutiltest::readJournal(journal).size() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    records = sysutiltest::readJournal(journal);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].get("action"), L"hang");
    child.kill();
    child.wait();
}

}  // namespace
