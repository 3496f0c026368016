#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/atomic_file.h"
#include "app/digest.h"
#include "app/result_file.h"
#include "base/platform.h"
#include "base/unicode.h"
#include "sysutil/process_launcher.h"
#include "test_util.h"

namespace velkaro {
namespace {

using nlohmann::json;

ProductRecord entry(ProductOutcome outcome, int launch, bool hasCode, int32_t code) {
    ProductRecord r;
    r.product.family = QX;
    r.product.sapCode = L"P";
    r.outcome = outcome;
    r.launched = launch >= 0;
    r.launchResult = launch;
    r.hasExitCode = hasCode;
    r.exitCode = code;
    return r;
}

// What the end-to-end runs cannot easily reach: times, absent values, signed codes, launch
// results of every kind and texts that are not valid UTF-16.
TEST(ResultFile, DocumentParsesBackWithEveryKindOfValue) {
    RunRecord record;
    record.start = std::chrono::system_clock::from_time_t(1796083200);  // 2026-12-01T00:00:00Z
    record.end = record.start + std::chrono::seconds(75);
    record.hostName = std::wstring(1, static_cast<wchar_t>(0xD800));  // a lone surrogate
    const struct {
        int launch;
        json word;
    } launches[] = {{korr::LAUNCH_OK, "ok"},
                    {korr::LAUNCH_NOT_STARTED, "notStarted"},
                    {korr::LAUNCH_CREATE_FAILED, "createFailed"},
                    {korr::LAUNCH_NO_EXIT_CODE, "noExitCode"},
                    {korr::LAUNCH_TIMED_OUT, "timedOut"},
                    {korr::LAUNCH_STOPPED, "stopped"},
                    {-1, nullptr}};
    for (const auto& l : launches)
        record.products.push_back(
            entry(ProductOutcome::Failed, l.launch, l.launch == 0, -1073741819));

    const json doc = json::parse(resultDocument(record), nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["startTime"], "2026-12-01T00:00:00Z");
    EXPECT_EQ(doc["endTime"], "2026-12-01T00:01:15Z");
    EXPECT_EQ(doc["hostName"], "\xEF\xBF\xBD");
    EXPECT_TRUE(doc["configPath"].is_null() && doc["refusal"].is_null());
    EXPECT_TRUE(doc["machineId"].is_null() && doc["configSha256"].is_null());
    EXPECT_TRUE(doc["logPath"].is_null());  // present, and null: no log was written
    EXPECT_EQ(doc["state"], "finished");
    EXPECT_TRUE(doc["setupTimeout"].is_null());
    ASSERT_EQ(doc["products"].size(), std::size(launches));
    for (size_t i = 0; i < std::size(launches); ++i) {
        EXPECT_EQ(doc["products"][i]["launchResult"], launches[i].word) << i;
        EXPECT_EQ(doc["products"][i]["exitCode"], i == 0 ? json(-1073741819) : json()) << i;
    }

    // Written at the start: no end and no exit code yet, whatever the record holds.
    record.running = true;
    record.exitCode = 0;
    record.processId = 4242;
    record.setupTimeoutSeconds = 2700;
    const json start = json::parse(resultDocument(record), nullptr, false);
    EXPECT_EQ(start["state"], "running");
    EXPECT_EQ(start["startTime"], "2026-12-01T00:00:00Z");
    EXPECT_TRUE(start["endTime"].is_null() && start["exitCode"].is_null());
    EXPECT_EQ(start["processId"], 4242);
    EXPECT_EQ(start["setupTimeout"], 2700);
}

// Known answers, so that a wrong use of the platform's library (a length, a buffer, the
// algorithm's name) shows; and files that must not be read whole.
TEST(ResultFile, Sha256OfBytesAndFiles) {
    const struct {
        std::string bytes;
        const wchar_t* digest;
    } vectors[] = {
        {"", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'),
         L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    testutil::ScratchDir dir(L"digest");
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.bytes.size());
        EXPECT_EQ(sha256Hex(v.bytes), v.digest);
        // Read in pieces: the whole file, not its first buffer.
        const std::wstring file = dir.file(L"c.xml");
        ASSERT_TRUE(testutil::writeBytes(file, v.bytes));
        EXPECT_EQ(fileSha256(file), v.digest);
    }
    EXPECT_EQ(fileSha256(dir.file(L"absent.xml")), L"");
    EXPECT_EQ(fileSha256(dir.path()), L"") << "a folder";
    // A device would be read for ever.
    EXPECT_EQ(fileSha256(zoka::os::pathSeparator() == L'/' ? L"/dev/zero" : L"NUL"), L"");
}

// A dry run's document: every kind of finding with its place, and the planned command lines.
TEST(ResultFile, DryRunDocumentCarriesFindingsAndCommands) {
    const struct {
        FindingKind kind;
        json word;
    } kinds[] = {{FindingKind::NotLoadable, "notLoadable"},
                 {FindingKind::WrongRoot, "wrongRoot"},
                 {FindingKind::UnknownElement, "unknownElement"},
                 {FindingKind::MissingValue, "missingValue"},
                 {FindingKind::EmptyValue, "emptyValue"},
                 {FindingKind::DuplicateProduct, "duplicateProduct"}};
    RunRecord record;
    for (const auto& k : kinds)
        record.findings.push_back({k.kind, L"E", {L"/R/E", 7}, {L"/R/F", 0}});
    record.products = {entry(ProductOutcome::NotAttempted, -1, false, 0),
                       entry(ProductOutcome::Ignored, -1, false, 0)};
    record.products[0].commandLine = L"\"S\" --uninstall=1";

    // An ordinary run's document has neither field, whatever the record holds.
    json doc = json::parse(resultDocument(record), nullptr, false);
    EXPECT_FALSE(doc.contains("findings") || doc["products"][0].contains("commandLine"));

    record.dryRun = true;
    doc = json::parse(resultDocument(record), nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["dryRun"], true);
    EXPECT_EQ(doc["products"][0]["commandLine"], "\"S\" --uninstall=1");
    EXPECT_TRUE(doc["products"][1]["commandLine"].is_null());
    ASSERT_EQ(doc["findings"].size(), std::size(kinds));
    for (size_t i = 0; i < std::size(kinds); ++i) {
        const json& f = doc["findings"][i];
        EXPECT_EQ(f["kind"], kinds[i].word) << i;
        EXPECT_EQ(f["place"]["path"], "/R/E") << i;
        EXPECT_EQ(f["place"]["line"], 7) << i;
        EXPECT_FALSE(f["text"].get<std::string>().empty()) << i;
        const bool duplicate = kinds[i].kind == FindingKind::DuplicateProduct;
        EXPECT_EQ(f.contains("firstPlace"), duplicate) << i;
        if (duplicate) {
            EXPECT_TRUE(f["firstPlace"]["line"].is_null());
        }
    }
}

TEST(ResultFile, AtomicWriteReplacesWholeOrFailsCleanly) {
    testutil::ScratchDir dir(L"results");
    const std::wstring target = dir.file(L"r.json");
    std::wstring error;
    ASSERT_TRUE(testutil::writeBytes(target, std::string(100000, 'x')));
    ASSERT_TRUE(writeFileAtomically(target, "short", error)) << zoka::toUtf8(error);
    EXPECT_EQ(testutil::readBytes(target), "short");
    EXPECT_EQ(testutil::listFolder(dir.path()), std::vector<std::wstring>{L"r.json"});

    // A missing folder: an error, and nothing left behind.
    EXPECT_FALSE(writeFileAtomically(dir.file(L"absent") + zoka::os::pathSeparator() + L"r.json",
                                     "x", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(testutil::listFolder(dir.path()), std::vector<std::wstring>{L"r.json"});

    // A rename that fails once the temporary file is written (a folder at the name): it goes.
    ASSERT_TRUE(testutil::makeFolder(dir.file(L"taken")));
    ASSERT_TRUE(testutil::makeFolder(dir.file(L"taken") + zoka::os::pathSeparator() + L"inner"));
    EXPECT_FALSE(writeFileAtomically(dir.file(L"taken"), "x", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(testutil::listFolder(dir.path()), (std::vector<std::wstring>{L"r.json", L"taken"}));
    if (!testutil::isPosix()) {
        // The null device is no file to replace.
        EXPECT_FALSE(writeFileAtomically(L"NUL", "x", error));
        EXPECT_EQ(error, L"it is not a regular file");
        return;
    }
    // Paths that name no file in a folder: refused before anything is made.
    for (const std::wstring& path :
         {dir.path() + L"/", dir.file(L"taken") + L"/..", dir.file(L"r.json") + L"/x"}) {
        error.clear();
        EXPECT_FALSE(writeFileAtomically(path, "x", error)) << zoka::toUtf8(path);
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(testutil::listFolder(dir.path()), (std::vector<std::wstring>{L"r.json", L"taken"}));
    // A FIFO (as a device) is refused, never replaced by a plain file.
    const std::filesystem::path pipe(dir.file(L"pipe"));
    ASSERT_TRUE(testutil::makeFifo(pipe.wstring()));
    EXPECT_FALSE(writeFileAtomically(pipe.wstring(), "x", error));
    EXPECT_EQ(error, L"it is not a regular file");
    EXPECT_TRUE(std::filesystem::is_fifo(std::filesystem::symlink_status(pipe)));
    std::filesystem::remove(pipe);
    // A relative path counts from the current folder.
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(zoka::toUtf8(dir.path()));
    const bool relative = writeFileAtomically(L"rel.json", "rel", error);
    std::filesystem::current_path(before);
    EXPECT_TRUE(relative) << zoka::toUtf8(error);
    EXPECT_EQ(testutil::readBytes(dir.file(L"rel.json")), "rel");
}

TEST(ResultFile, SameFileByIdentityNotSpelling) {
    testutil::ScratchDir dir(L"results");
    const std::wstring sep(1, zoka::os::pathSeparator());
    const std::wstring file = dir.file(L"c.xml");
    ASSERT_TRUE(testutil::writeBytes(file, "x"));
    ASSERT_TRUE(testutil::writeBytes(dir.file(L"other.xml"), "x"));
    EXPECT_TRUE(sameExistingFile(file, file));
    EXPECT_TRUE(sameExistingFile(dir.path() + sep + L"." + sep + L"c.xml", file));
    EXPECT_FALSE(sameExistingFile(dir.file(L"other.xml"), file));
    EXPECT_FALSE(sameExistingFile(dir.file(L"absent.xml"), file));
    EXPECT_FALSE(sameExistingFile(dir.file(L"absent.xml"), dir.file(L"absent.xml")));
}

TEST(ResultFile, ReaderNeverSeesAPartialDocument) {
    testutil::ScratchDir dir(L"results");
    const std::wstring target = dir.file(L"r.json");
    RunRecord record;
    for (int i = 0; i < 2000; ++i)
        record.products.push_back(entry(ProductOutcome::Removed, 0, true, i));
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
