#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/atomic_file.h"
#include "app/result_file.h"
#include "support/platform.h"
#include "support/unicode.h"
#include "sysutil/process_launcher.h"
#include "test_util.h"

namespace velkaro {
namespace {

using nlohmann::json;

ProductRecord entry(InstallerFamily family, const wchar_t* sap, ProductOutcome outcome, int launch,
                    bool hasCode, int32_t code, bool timedOut, double seconds) {
    ProductRecord r;
    r.product.family = family;
    r.product.sapCode = sap;
    r.product.version = L"1.0";
    r.product.platform = L"win64";
    r.product.baseVersion = family == VELT ? L"1.0" : L"1";
    r.outcome = outcome;
    r.launched = launch >= 0;
    r.launchResult = launch;
    r.hasExitCode = hasCode;
    r.exitCode = code;
    r.timedOut = timedOut;
    r.seconds = seconds;
    return r;
}

TEST(ResultFile, DocumentCarriesEveryOutcomeAndParsesBack) {
    RunRecord record;
    record.programVersion = L"2.2.0.8";
    record.hostName = L"host-\u00e9";
    record.configPath = L"C:\\cfg \u4e2d.xml";
    record.start = std::chrono::system_clock::from_time_t(1796083200);  // 2026-12-01T00:00:00Z
    record.end = record.start + std::chrono::seconds(75);
    record.exitCode = 2;
    record.stopReason = L"SIGTERM";
    record.setupsLocated = true;
    record.veltSetupPath = L"C:\\V\\Setup.exe";
    record.products = {
        entry(VELT, L"R", ProductOutcome::Removed, korr::LAUNCH_OK, true, 0, false, 1.23456),
        entry(QX, L"N", ProductOutcome::NotFound, korr::LAUNCH_OK, true, 135, false, 0.5),
        entry(VELT, L"F", ProductOutcome::Failed, korr::LAUNCH_OK, true, -1073741819, false, 2),
        entry(VELT, L"T", ProductOutcome::Failed, korr::LAUNCH_TIMED_OUT, false, 0, true, 60),
        entry(VELT, L"S", ProductOutcome::Failed, korr::LAUNCH_STOPPED, false, 0, false, 3),
        entry(VELT, L"X", ProductOutcome::Failed, korr::LAUNCH_NOT_STARTED, false, 0, false, 0),
        entry(QX, L"I", ProductOutcome::Ignored, -1, false, 0, false, 0),
        entry(QX, L"A", ProductOutcome::NotAttempted, -1, false, 0, false, 0),
    };
    // A lone surrogate cannot be UTF-8: it is replaced, never a failure.
    record.products.back().product.platform = std::wstring(1, static_cast<wchar_t>(0xD800));

    const json doc = json::parse(resultDocument(record), nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["formatVersion"], 1);
    EXPECT_EQ(doc["program"], "Velkaro");
    EXPECT_EQ(doc["programVersion"], "2.2.0.8");
    EXPECT_EQ(doc["startTime"], "2026-12-01T00:00:00Z");
    EXPECT_EQ(doc["endTime"], "2026-12-01T00:01:15Z");
    EXPECT_EQ(doc["hostName"], "host-\xC3\xA9");
    EXPECT_EQ(doc["configPath"], "C:\\cfg \xE4\xB8\xAD.xml");
    EXPECT_EQ(doc["exitCode"], 2);
    EXPECT_TRUE(doc["refusal"].is_null());
    EXPECT_EQ(doc["stopRequest"], "SIGTERM");
    EXPECT_EQ(doc["setupPrograms"]["VELT"], "C:\\V\\Setup.exe");
    EXPECT_TRUE(doc["setupPrograms"]["QX"].is_null());

    const struct {
        const char* sap;
        const char* outcome;
        json exitCode;
        json launch;
        bool timedOut;
        double seconds;
    } expected[] = {
        {"R", "removed", 0, "ok", false, 1.235},
        {"N", "notFound", 135, "ok", false, 0.5},
        {"F", "failed", -1073741819, "ok", false, 2},
        {"T", "failed", nullptr, "timedOut", true, 60},
        {"S", "failed", nullptr, "stopped", false, 3},
        {"X", "failed", nullptr, "notStarted", false, 0},
        {"I", "ignored", nullptr, nullptr, false, 0},
        {"A", "notAttempted", nullptr, nullptr, false, 0},
    };
    ASSERT_EQ(doc["products"].size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const json& p = doc["products"][i];
        SCOPED_TRACE(expected[i].sap);
        EXPECT_EQ(p["SapCode"], expected[i].sap);
        EXPECT_EQ(p["outcome"], expected[i].outcome);
        EXPECT_EQ(p["exitCode"], expected[i].exitCode);
        EXPECT_EQ(p["launchResult"], expected[i].launch);
        EXPECT_EQ(p["timedOut"], expected[i].timedOut);
        EXPECT_DOUBLE_EQ(p["seconds"].get<double>(), expected[i].seconds);
    }
    EXPECT_EQ(doc["products"][1]["family"], "QX");
    EXPECT_EQ(doc["products"][1]["BaseVersion"], "1");
    EXPECT_EQ(doc["products"][7]["Platform"], "\xEF\xBF\xBD");
}

TEST(ResultFile, AtomicWriteReplacesWholeOrFailsCleanly) {
    testutil::ScratchDir dir(L"results");
    const std::wstring target = dir.file(L"r.json");
    std::wstring error;
    ASSERT_TRUE(testutil::writeBytes(target, std::string(100000, 'x')));
    ASSERT_TRUE(writeFileAtomically(target, "short", error)) << zoka::toUtf8(error);
    EXPECT_EQ(testutil::readBytes(target), "short");
    EXPECT_EQ(testutil::listFolder(dir.path()), std::vector<std::wstring>{L"r.json"});

    // A missing folder or a folder in the way: an error, and nothing left behind.
    const std::wstring cases[] = {dir.file(L"absent") + zoka::os::pathSeparator() + L"r.json",
                                  dir.path()};
    for (const std::wstring& path : cases) {
        error.clear();
        EXPECT_FALSE(writeFileAtomically(path, "x", error)) << zoka::toUtf8(path);
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(testutil::listFolder(dir.path()), std::vector<std::wstring>{L"r.json"});
}

TEST(ResultFile, ReaderNeverSeesAPartialDocument) {
    testutil::ScratchDir dir(L"results");
    const std::wstring target = dir.file(L"r.json");
    RunRecord record;
    for (int i = 0; i < 2000; ++i)
        record.products.push_back(entry(VELT, L"P", ProductOutcome::Removed, 0, true, i, false, 1));
    std::atomic<bool> done{false};
    std::atomic<int> partial{0}, whole{0};
    std::thread reader([&] {
        while (!done) {
            const std::string bytes = testutil::readBytes(target);
            if (bytes.empty())
                continue;  // not written yet
            (json::parse(bytes, nullptr, false).is_discarded() ? partial : whole)++;
        }
    });
    int failed = 0;
    for (int i = 0; i < 40; ++i) {
        record.exitCode = i;
        std::wstring error;
        if (!writeResultFile(target, record, error))
            ++failed;
    }
    done = true;
    reader.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(partial, 0);
    EXPECT_GT(whole, 0);
    EXPECT_EQ(json::parse(testutil::readBytes(target))["exitCode"], 39);
}

}  // namespace
}  // namespace velkaro
