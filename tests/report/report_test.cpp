#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/result_format.h"
#include "report/fleet.h"
#include "report/report_output.h"
#include "report/report_program.h"
#include "test_util.h"

namespace velkaro::report {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int64_t kNow = 1796817600;  // 2026-12-09T12:00:00Z
constexpr int64_t kHour = 3600, kDay = 86400;

json product(const char* outcome, json exitCode, json launch) {
    return {{"family", "VELT"},     {"SapCode", "DRXA"},       {"Version", "21.4.0"},
            {"Platform", "win64"},  {"BaseVersion", "21.4.0"}, {"outcome", outcome},
            {"exitCode", exitCode}, {"launchResult", launch},  {"timedOut", false},
            {"seconds", 1.5}};
}

// A results file as the program writes it: one removed product, exit code 0.
json run(const std::string& host, int64_t start = kNow - kDay) {
    return {{"formatVersion", 1},
            {"program", "Velkaro"},
            {"programVersion", "2.2.0.8"},
            {"startTime", formatUtcTime(start)},
            {"endTime", formatUtcTime(start + 60)},
            {"hostName", host},
            {"configPath", "C:\\Deploy\\RemoveSuite.xml"},
            {"exitCode", 0},
            {"refusal", nullptr},
            {"stopRequest", nullptr},
            {"setupProgramsLocated", true},
            {"setupPrograms", {{"VELT", "C:\\S\\Setup.exe"}, {"QX", nullptr}}},
            {"products", json::array({product("removed", 0, "ok")})}};
}

json refused(const std::string& host, const char* reason) {
    json doc = run(host);
    doc["exitCode"] = 1;
    doc["refusal"] = reason;
    doc["products"] = json::array();
    return doc;
}

json running(const std::string& host, int64_t start, json timeout) {
    json doc = run(host, start);
    doc["state"] = "running";
    doc["processId"] = 4242;
    doc["setupTimeout"] = timeout;
    doc["endTime"] = nullptr;
    doc["exitCode"] = nullptr;  // as the program writes it at the start
    doc["products"][0]["outcome"] = "notAttempted";
    return doc;
}

fs::path option(const char* name, const fs::path& value) {
    return fs::path("--" + std::string(name) + "=").native() + value.native();
}

class Scene {
public:
    Scene() : root_(dir_.path()) {}
    const fs::path& root() const { return root_; }
    fs::path write(const std::string& name, const std::string& bytes) {
        const fs::path file = root_ / "in" / fs::u8path(name);
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }
    fs::path write(const std::string& name, const json& doc) { return write(name, doc.dump(2)); }

    // Runs the report over "in" (and `extra` words); the summary, or null when none was written.
    json report(std::vector<fs::path> extra, int& exitCode, std::string* page = nullptr) {
        std::vector<fs::path> words = {option("out", root_ / "r.html"),
                                       option("summary", root_ / "s.json"),
                                       option("csv", root_ / "r.csv"), root_ / "in"};
        words.insert(words.end(), extra.begin(), extra.end());
        std::ostringstream out, err;
        exitCode = runReport(words, out, err, kNow);
        if (page != nullptr)
            *page = testutil::readBytes((root_ / "r.html").wstring());
        return json::parse(testutil::readBytes((root_ / "s.json").wstring()), nullptr, false);
    }

private:
    testutil::ScratchDir dir_{L"report"};
    fs::path root_;
};

// Every kind of run and of unreadable file, each alone, counted where the summary says.
TEST(FleetReport, SummaryCountsEveryKindOfInput) {
    using Setup = std::function<std::vector<fs::path>(Scene&)>;
    auto one = [](json doc) {
        return Setup([doc](Scene& f) {
            f.write("pc/results.json", doc);
            return std::vector<fs::path>{};
        });
    };
    auto bytes = [](std::string content) {
        return Setup([content](Scene& f) {
            f.write("pc.json", content);
            return std::vector<fs::path>{};
        });
    };
    json failed = run("pc");
    failed["exitCode"] = 2;
    failed["products"].push_back(product("failed", -1073741819, "ok"));
    json timedOut = run("pc");
    timedOut["exitCode"] = 2;
    timedOut["products"][0] = product("failed", nullptr, "timedOut");
    json mixed = run("pc");
    mixed["products"] = {product("notFound", 33, "ok"), product("ignored", nullptr, nullptr)};
    json stopped = run("pc");
    stopped["exitCode"] = 1;
    stopped["stopRequest"] = "SIGTERM";
    stopped["products"].push_back(product("notAttempted", nullptr, nullptr));
    json dryRun = run("pc");
    dryRun["dryRun"] = true;
    dryRun["findings"] = json::array();
    json checkFound = refused("pc", "configInvalid");
    checkFound["dryRun"] = true;
    json finished = run("pc");
    finished["state"] = "finished";
    finished["logPath"] = nullptr;
    finished["products"][0]["leftoverProcesses"] = 0;
    json older = run("PC", kNow - 3 * kDay);
    older["exitCode"] = 2;
    older["products"][0]["outcome"] = "failed";
    json otherVersion = run("pc");
    otherVersion["formatVersion"] = 2;
    json unknownOutcome = run("pc");
    unknownOutcome["products"][0]["outcome"] = "gone";
    json noProducts = run("pc");
    noProducts.erase("products");
    json badTime = run("pc");
    badTime["startTime"] = "yesterday";
    json finishedWithoutCode = run("pc");
    finishedWithoutCode["exitCode"] = nullptr;

    std::string badText = run("x").dump();
    badText.replace(badText.find("\"x\"") + 1, 1, "\xC3");

    struct Row {
        const char* name;
        Setup setup;
        const char* pointer;  // the summary's count that must be 1
        int exitCode;
    };
    const Row rows[] = {
        {"removed", one(run("pc")), "/succeeded", 0},
        {"not found and ignored are no failure", one(mixed), "/succeeded", 0},
        {"finished state and newer fields", one(finished), "/succeeded", 0},
        {"a failed product", one(failed), "/failed", 2},
        {"a time-out", one(timedOut), "/failed", 2},
        {"stopped", one(stopped), "/stopped", 2},
        {"interrupted before removing", one(refused("pc", "interrupted")), "/stopped", 2},
        {"dry run", one(dryRun), "/dryRun", 2},
        {"dry run that found faults", one(checkFound), "/refusedBy/configInvalid", 2},
        {"running within its time", one(running("pc", kNow - kHour, nullptr)), "/running", 2},
        {"running past unlimited products", one(running("pc", kNow - 3 * kHour, nullptr)),
         "/killedOrRunning", 2},
        {"running past its time limit", one(running("pc", kNow - kHour, 600)), "/killedOrRunning",
         2},
        {"duplicate host: the latest counts", Setup([&](Scene& f) {
             f.write("a/results.json", older);
             f.write("b/results.json", run("pc"));
             return std::vector<fs::path>{};
         }),
         "/olderRuns", 0},
        {"stale", Setup([](Scene& f) {
             f.write("pc.json", run("pc", kNow - 10 * kDay));
             return std::vector<fs::path>{"--staleAfter=7"};
         }),
         "/stale", 0},
        {"inventory host missing", Setup([](Scene& f) {
             f.write("pc.json", run("pc.example.org"));
             const fs::path inventory = f.root() / "hosts.txt";
             std::ofstream(inventory) << "  hosts (2):\n    PC\n\n# spare\n    pc9\r\n";
             return std::vector<fs::path>{option("inventory", inventory)};
         }),
         "/neverReported", 2},
        {"not JSON", bytes("Velkaro exit code 0"), "/unreadableBy/notJson", 2},
        {"truncated", bytes(run("pc").dump().substr(0, 100)), "/unreadableBy/truncated", 2},
        {"empty", bytes(""), "/unreadableBy/truncated", 2},
        {"UTF-16", bytes(std::string("\xFF\xFE{\0}\0", 6)), "/unreadableBy/notUtf8", 2},
        {"invalid UTF-8 in a text", bytes(badText), "/unreadableBy/notUtf8", 2},
        {"huge", bytes(std::string(kMaxResultFileBytes + 1, ' ')), "/unreadableBy/tooLarge", 2},
        {"deeply nested", bytes(std::string(1000000, '[')), "/unreadableBy/truncated", 2},
        {"other format version", one(otherVersion), "/unreadableBy/wrongFormatVersion", 2},
        {"not an object", bytes("[1, 2]"), "/unreadableBy/wrongStructure", 2},
        {"unknown outcome", one(unknownOutcome), "/unreadableBy/wrongStructure", 2},
        {"no products", one(noProducts), "/unreadableBy/wrongStructure", 2},
        {"bad start time", one(badTime), "/unreadableBy/wrongStructure", 2},
        {"finished without an exit code", one(finishedWithoutCode), "/unreadableBy/wrongStructure",
         2},
        {"missing input", Setup([](Scene& f) {
             fs::create_directories(f.root() / "in");
             return std::vector<fs::path>{f.root() / "absent"};
         }),
         "/unreadableBy/cannotRead", 2},
    };
    std::vector<Row> all(std::begin(rows), std::end(rows));
    for (const char* word : resultformat::kRefusalWords) {
        if (std::string(word) != "interrupted")  // counted as stopped, above
            all.push_back({word, one(refused("pc", word)), "", 2});
    }
    if (testutil::isPosix()) {
        all.push_back({"file link loop", Setup([](Scene& f) {
                           fs::create_directories(f.root() / "in");
                           fs::create_symlink("loop.json", f.root() / "in" / "loop.json");
                           return std::vector<fs::path>{};
                       }),
                       "/unreadableBy/linkLoop", 2});
        all.push_back({"folder link loop", Setup([](Scene& f) {
                           fs::create_directories(f.root() / "in" / "pc");
                           fs::create_directory_symlink("..", f.root() / "in" / "pc" / "up");
                           return std::vector<fs::path>{};
                       }),
                       "/unreadableBy/linkLoop", 2});
    }
    for (const Row& row : all) {
        SCOPED_TRACE(row.name);
        Scene fleet;
        const std::vector<fs::path> extra = row.setup(fleet);
        int exitCode = -1;
        const json summary = fleet.report(extra, exitCode);
        ASSERT_FALSE(summary.is_discarded());
        EXPECT_EQ(exitCode, row.exitCode);
        const std::string pointer =
            *row.pointer != '\0' ? row.pointer : std::string("/refusedBy/") + row.name;
        EXPECT_EQ(summary.value(json::json_pointer(pointer), -1), 1) << summary.dump();
        // Each input is one machine or one unreadable file, never both or neither.
        const bool unreadable = pointer.rfind("/unreadableBy/", 0) == 0;
        EXPECT_EQ(summary["unreadable"], unreadable ? 1 : 0);
        EXPECT_EQ(summary["machines"], unreadable ? 0 : 1) << summary.dump();
    }
}

// Host names, paths and product fields are data: nothing in them closes the data block or
// reaches a spreadsheet as a formula.
TEST(FleetReport, HostileTextsStayData) {
    Scene fleet;
    const std::string host = "</script><script>alert(1)</script>\xE2\x80\xA8<!--";
    json doc = run(host);
    doc["products"][0]["SapCode"] = "=HYPERLINK(\"x\")";
    fleet.write("pc.json", doc);
    fleet.write("Velkaro.log", std::string("not a results file, not read"));
    int exitCode = -1;
    std::string page;
    const json summary = fleet.report({}, exitCode, &page);
    EXPECT_EQ(summary["succeeded"], 1);
    EXPECT_EQ(summary["unreadable"], 0);
    EXPECT_EQ(page.find("alert"), page.rfind("alert"));  // the data's one, escaped
    EXPECT_EQ(page.find("<script>alert"), std::string::npos);
    EXPECT_NE(page.find("\\u003c/script\\u003e\\u003cscript\\u003ealert(1)"), std::string::npos);
    EXPECT_EQ(page.find("\xE2\x80\xA8"), std::string::npos);
    EXPECT_EQ(page.find("<!--"), std::string::npos);
    const std::string csv = testutil::readBytes((fleet.root() / "r.csv").wstring());
    EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"x\"\")\","), std::string::npos) << csv;
}

// What cannot be written is exit code 1 and leaves nothing; a bad command line writes nothing.
TEST(FleetReport, UnwritablePageOrBadCommandLineIsExitOne) {
    Scene fleet;
    fleet.write("pc.json", run("pc"));
    std::ostringstream out, err;
    const fs::path page = fleet.root() / "absent" / "r.html";
    EXPECT_EQ(runReport({option("out", page), fleet.root() / "in"}, out, err, kNow), 1);
    EXPECT_FALSE(fs::exists(page.parent_path()));
    EXPECT_NE(err.str().find("Cannot write"), std::string::npos);
    const fs::path good = fleet.root() / "r.html";
    for (std::vector<fs::path> words :
         {std::vector<fs::path>{fleet.root() / "in"},
          {option("out", good)},
          {option("out", good), "--staleAfter=soon", fleet.root() / "in"},
          {option("out", good), option("inventory", fleet.root() / "none"), fleet.root() / "in"},
          {option("out", good), "--colour=red", fleet.root() / "in"}}) {
        EXPECT_EQ(runReport(words, out, err, kNow), 1) << words.back();
        EXPECT_FALSE(fs::exists(good));
    }
}

}  // namespace
}  // namespace velkaro::report
