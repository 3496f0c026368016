#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/result_format.h"
#include "report/fleet.h"
#include "report/output_file.h"
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

// The summary's counts agree with each other, with its lists and with the CSV: every outcome
// and reason adds up to its total, and every host (each expected one once) has its rows.
void expectCountsAgree(const json& summary, int exitCode, const std::vector<std::string>& inventory,
                       const std::string& csv = std::string()) {
    size_t byOutcome = 0;
    for (const char* word : kMachineOutcomeWords)
        byOutcome += summary.value(word, 0u);
    EXPECT_EQ(byOutcome, summary["machines"]);
    size_t refused = 0, unreadable = 0;
    for (const auto& [reason, n] : summary["refusedBy"].items())
        refused += n.get<size_t>();
    for (const auto& [reason, n] : summary["unreadableBy"].items())
        unreadable += n.get<size_t>();
    EXPECT_EQ(refused, summary["refused"]);
    EXPECT_EQ(unreadable, summary["unreadable"]);
    EXPECT_EQ(summary["unreadableFiles"].size(), summary["unreadable"]);
    EXPECT_EQ(summary["otherFiles"].size(), summary["others"]);
    EXPECT_EQ(summary["neverReportedHosts"].size(), summary["neverReported"]);
    EXPECT_EQ(summary["notInInventoryHosts"].size(), summary["notInInventory"]);
    size_t machineHosts = 0, never = 0;
    std::map<std::string, int> seen;  // host key: times counted
    for (const auto& [host, word] : summary["hosts"].items()) {
        machineHosts += word != "neverReported" && word != "unreadable";
        never += word == "neverReported";
        ++seen[hostKey(host)];
    }
    for (const auto& [host, older] : summary["renamed"].items()) {
        for (const auto& name : older)
            ++seen[hostKey(name.get<std::string>())];
    }
    EXPECT_EQ(machineHosts,
              summary["machines"].get<size_t>() + summary["notInInventory"].get<size_t>());
    EXPECT_EQ(never, summary["neverReported"]);
    for (const std::string& host : inventory) {
        EXPECT_EQ(seen[hostKey(host)], 1) << host;
    }
    EXPECT_EQ(summary["allSucceeded"], exitCode == 0);
    // The CSV has a row for each unreadable and each never-reported host.
    for (const char* word : {"unreadable", "neverReported"}) {
        size_t rows = 0;
        for (size_t at = csv.find(std::string(",") + word + ","); at != std::string::npos;
             at = csv.find(std::string(",") + word + ",", at + 1))
            ++rows;
        EXPECT_EQ(rows, csv.empty() ? 0u : summary[word].get<size_t>()) << word << " in\n" << csv;
    }
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
    // A name in the system's bytes, whatever they are.
    void writeRaw(const std::string& name, const std::string& bytes) {
        fs::create_directories(root_ / "in");
        std::ofstream(root_ / "in" / fs::path(name), std::ios::binary) << bytes;
    }

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
             f.write("PC.json", older);
             f.write("pc/results.json", run("pc"));
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
        {"UTF-16 without a byte-order mark", bytes(std::string("{\0}\0", 4)),
         "/unreadableBy/notUtf8", 2},
        {"invalid UTF-8 in a text", bytes(badText), "/unreadableBy/notUtf8", 2},
        {"huge", bytes(std::string(kMaxResultFileBytes + 1, ' ')), "/unreadableBy/tooLarge", 2},
        {"deeply nested", bytes(std::string(1000000, '[')), "/unreadableBy/truncated", 2},
        {"other format version", one(otherVersion), "/unreadableBy/wrongFormatVersion", 2},
        {"not an object", bytes("[1, 2]"), "/others", 0},
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
        // Each input is one machine, one unreadable file or one other file, never two or none.
        const bool unreadable = pointer.rfind("/unreadableBy/", 0) == 0;
        const bool other = pointer == "/others";
        EXPECT_EQ(summary["unreadable"], unreadable ? 1 : 0);
        EXPECT_EQ(summary["others"], other ? 1 : 0);
        EXPECT_EQ(summary["machines"], unreadable || other ? 0 : 1) << summary.dump();
        expectCountsAgree(summary, exitCode, {});
    }
}

// Small fleets, each checked through the summary, the CSV and the rerun list: who a file speaks
// for, the spellings of one host, renamed machines, odd and hostile files, waves.
TEST(FleetReport, SmallFleets) {
    using Words = std::vector<fs::path>;
    using Setup = std::function<Words(Scene&)>;
    auto failedRun = [](const std::string& host, int64_t start = kNow - kDay) {
        json doc = run(host, start);
        doc["exitCode"] = 2;
        doc["products"][0] = product("failed", 7, "ok");
        return doc;
    };
    auto withId = [](json doc, const char* id) {
        doc["machineId"] = id;
        doc["configSha256"] = nullptr;
        return doc;
    };
    auto inventory = [](Scene& f, const char* hosts) {
        const fs::path file = f.root() / "hosts.txt";
        std::ofstream(file, std::ios::binary) << hosts;
        return option("inventory", file);
    };
    auto utf16 = [](const std::string& ascii, bool bigEndian) {
        std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char c : ascii) {
            out += bigEndian ? '\0' : c;
            out += bigEndian ? c : '\0';
        }
        return out;
    };
    json hostile = run("pc");
    hostile["products"][0]["SapCode"] = "x;=cmd|' /C calc'!A0";
    hostile["products"][0]["Version"] = "\t=1";
    hostile["products"][0]["Platform"] = "+1\r\n@x";
    std::string twice = run("pc").dump();
    twice.insert(1, "\"exitCode\":2,");
    std::string surrogate = run("pc").dump();
    surrogate.replace(surrogate.find("\"pc\""), 4, "\"\\udfff\"");
    std::string highSurrogate = run("pc").dump();
    highSurrogate.replace(highSurrogate.find("\"pc\""), 4, "\"\\ud800x\"");
    auto products = [](size_t n) {
        json doc = run("pc");
        doc["products"] = json::array();
        for (size_t i = 0; i < n; ++i)
            doc["products"].push_back(product("removed", 0, "ok"));
        return doc;
    };
    json pending = running("pc", kNow - 40 * 60, 600);
    pending["products"] = {product("removed", 0, "ok"), product("pending", nullptr, nullptr),
                           product("pending", nullptr, nullptr)};
    json finishedPending = run("pc");
    finishedPending["products"][0]["outcome"] = "pending";
    json noProducts = running("pc", kNow - 30 * 60, nullptr);
    noProducts["products"] = json::array();
    json dryRun = run("pc-4");
    dryRun["dryRun"] = true;

    struct Row {
        const char* name;
        Setup setup;
        json expected;                 // JSON pointer into the summary: value
        std::vector<std::string> csv;  // texts the CSV holds
        const char* rerun;             // the rerun list, or null: not asked for
        int exitCode;
        bool posixOnly = false;
    };
    const Row rows[] = {
        {"a file naming another host takes nothing of it",
         Setup([&](Scene& f) {
             f.write("pc-b/results.json", failedRun("pc-b"));
             f.write("pc-c/results.json", run("pc-b", kNow - kHour));
             return Words{};
         }),
         {{"/failed", 2},
          {"/identityMismatch", 1},
          {"/hosts/pc-b", "failed"},
          {"/hosts/pc-c", "failed"},
          {"/olderRuns", 0}},
         {"pc-c,failed,", ",yes,pc-b,"},
         "pc-b\npc-c\n",
         2},
        {"a file naming a host that never ran",
         Setup([&](Scene& f) {
             f.write("pc-a/results.json", run("pc-b"));
             return Words{inventory(f, "pc-a\npc-b\n")};
         }),
         {{"/neverReported", 1},
          {"/identityMismatch", 1},
          {"/hosts/pc-b", "neverReported"},
          {"/succeeded", 0}},
         {},
         "pc-a\npc-b\n",
         2},
        {"case and domain name one host; an IP address keeps its dots",
         Setup([&](Scene& f) {
             f.write("pc-0001.corp.example.com/results.json", run("PC-0001"));
             f.write("PC-0002.json", run("pc-0002.corp.example.com"));
             f.write("10.0.0.1.json", run("10.0.0.1"));
             return Words{
                 inventory(f, "PC-0001\npc-0001.corp.example.com\npc-0002\n10.0.0.1\n10.0.0.2\n")};
         }),
         {{"/machines", 3},
          {"/succeeded", 3},
          {"/identityMismatch", 0},
          {"/neverReportedHosts", json::array({"10.0.0.2"})}},
         {},
         "10.0.0.2\n",
         2},
        {"names that are not UTF-8 stay apart",
         Setup([&](Scene& f) {
             json a = failedRun("x"), b = run("x");
             a["hostName"] = b["hostName"] = nullptr;
             f.writeRaw("pc\xFF.json", a.dump());
             f.writeRaw("pc\xFE.json", b.dump());
             return Words{};
         }),
         {{"/machines", 2}, {"/failed", 1}, {"/hosts/pc\\xFF", "failed"}},
         {},
         "pc\\xFF\n",
         2,
         true},
        {"a renamed machine counts once, its latest run; a file not its place's merges with none",
         Setup([&](Scene& f) {
             f.write("old-pc/results.json", withId(failedRun("old-pc", kNow - 3 * kDay), "M1"));
             f.write("new-pc/results.json", withId(run("new-pc"), "M1"));
             f.write("pc-a/results.json", withId(failedRun("pc-a", kNow - 3 * kDay), "M2"));
             f.write("pc-b/results.json", withId(run("pc-a"), "M2"));
             return Words{inventory(f, "old-pc\nnew-pc\npc-a\npc-b\n")};
         }),
         {{"/machines", 3},
          {"/succeeded", 1},
          {"/failed", 2},
          {"/olderRuns", 1},
          {"/renamed", {{"new-pc", {"old-pc"}}}}},
         {},
         nullptr,
         2},
        {"hosts outside the inventory are apart",
         Setup([&](Scene& f) {
             f.write("pc-a.json", run("pc-a"));
             f.write("pc-x.json", failedRun("pc-x"));
             return Words{inventory(f, "pc-a\n")};
         }),
         {{"/machines", 1}, {"/failed", 0}, {"/notInInventory", 1}, {"/hosts/pc-x", "failed"}},
         {",2.2.0.8,,yes,\r\n"},
         "",
         0},
        {"summaries, inventories, our own outputs and excluded names are no results",
         Setup([&](Scene& f) {
             f.write("pc.json", run("pc"));
             f.write("summary-2026-11.json", json{{"machines", 3}, {"hosts", json::object()}});
             f.write("inventory.json", json::array({"pc"}));
             f.write("rerun.json", std::string("not JSON: the report's own output"));
             f.write("Archive-2025/results.json", failedRun("archive-2025"));
             f.write("pc.bak.json", failedRun("pc"));
             return Words{option("rerun", f.root() / "in" / "rerun.json"), "--exclude=archive-*",
                          "--exclude=*.BAK.json"};
         }),
         {{"/others", 2}, {"/unreadable", 0}, {"/succeeded", 1}, {"/failed", 0}, {"/olderRuns", 0}},
         {},
         "",
         0},
        {"UTF-16 and UTF-8 with a byte-order mark",
         Setup([&](Scene& f) {
             f.write("pc.json", utf16(run("pc").dump(), false));
             f.write("pc-2.json", utf16(run("pc-2").dump(), true));
             f.write("pc-3.json", "\xEF\xBB\xBF" + run("pc-3").dump());
             return Words{};
         }),
         {{"/succeeded", 3}},
         {},
         nullptr,
         0},
        {"a member given twice, lone surrogates, pending in a finished file",
         Setup([&](Scene& f) {
             f.write("pc.json", twice);
             f.write("pc-2.json", surrogate);
             f.write("pc-3.json", highSurrogate);
             f.write("pc-4.json", finishedPending);
             return Words{};
         }),
         {{"/unreadableBy/wrongStructure", 2}, {"/unreadableBy/notUtf8", 2}},
         {"pc,unreadable,", "wrongStructure: "},
         "pc\npc-2\npc-3\npc-4\n",
         2},
        {"5,000 products, and one more",
         Setup([&](Scene& f) {
             f.write("pc.json", products(kMaxProducts));
             f.write("pc-2.json", products(kMaxProducts + 1));
             return Words{};
         }),
         {{"/succeeded", 1}, {"/unreadableBy/tooManyProducts", 1}},
         {},
         nullptr,
         2},
        {"an unreadable host is no never-reported one",
         Setup([&](Scene& f) {
             f.write("pc/results.json", run("pc").dump().substr(0, 60));
             return Words{inventory(f, "PC\n")};
         }),
         {{"/unreadable", 1},
          {"/neverReported", 0},
          {"/hosts/pc", "unreadable"},
          {"/unreadableFiles/0/host", "pc"}},
         {"pc,unreadable,", "truncated: "},
         "PC\n",
         2},
        {"a FIFO and a dangling link are listed, never waited on",
         Setup([&](Scene& f) {
             f.write("pc-a.json", run("pc-a"));
             testutil::makeFifo((f.root() / "in" / "pc.json").wstring());
             fs::create_symlink("absent.json", f.root() / "in" / "pc-b.json");
             return Words{inventory(f, "pc\npc-a\npc-b\n")};
         }),
         {{"/unreadableBy/notAFile", 1}, {"/unreadableBy/cannotRead", 1}, {"/neverReported", 0}},
         {"pc,unreadable,", "FIFO"},
         "pc\npc-b\n",
         2,
         true},
        {"CSV cells start no formula whatever the separator",
         Setup([&](Scene& f) {
             f.write("pc.json", hostile);
             return Words{};
         }),
         {{"/succeeded", 1}},
         {"\"x;'=cmd|' /C calc'!A0\"", "\"'\t'=1\"", ",'+1  '@x,"},
         nullptr,
         0},
        {"a running file's products set its deadline (none: two hours and a quarter)",
         Setup([&](Scene& f) {
             f.write("pc.json", pending);
             json late = pending;
             late["startTime"] = formatUtcTime(kNow - 50 * 60);
             f.write("pc-2.json", late);
             f.write("pc-3.json", noProducts);
             return Words{};
         }),
         {{"/running", 2}, {"/killedOrRunning", 1}},
         {",notAttempted,"},
         nullptr,
         2},
        {"the rerun list spells hosts as the inventory does",
         Setup([&](Scene& f) {
             f.write("pc-1.json", failedRun("pc-1"));
             f.write("pc-2.json", run("pc-2"));
             f.write("pc-4.json", dryRun);
             return Words{inventory(f, "PC-1.corp\nPC-2\npc-3\npc-4\npc-1\n")};
         }),
         {{"/rerun", json::array({"PC-1.corp", "pc-3"})}},
         {},
         "PC-1.corp\npc-3\n",
         2},
        {"waves: what changed since the previous summary",
         Setup([&](Scene& f) {
             f.write("pc-1.json", run("pc-1"));
             f.write("pc-2.json", failedRun("pc-2"));
             f.write("pc-3.json", failedRun("pc-3"));
             f.write("pc-5.json", run("pc-5"));
             const fs::path previous = f.root() / "previous.json";
             std::ofstream(previous) << json{{"hosts",
                                              {{"PC-1", "failed"},
                                               {"pc-2", "succeeded"},
                                               {"pc-3", "refused"},
                                               {"pc-5", "neverReported"}}}};
             return Words{option("previous", previous)};
         }),
         {{"/changes/newlyFixed", json::array({"pc-1"})},
          {"/changes/newlyFailed", json::array({"pc-2"})},
          {"/changes/stillFailing", json::array({"pc-3"})},
          {"/changes/newlyReported", json::array({"pc-5"})},
          {"/changes/counts/newlyFixed", 1}},
         {},
         nullptr,
         2},
    };
    for (const Row& row : rows) {
        if (row.posixOnly && !testutil::isPosix())
            continue;
        SCOPED_TRACE(row.name);
        Scene fleet;
        Words extra = row.setup(fleet);
        std::vector<std::string> expectedHosts;
        for (const fs::path& word : extra) {
            if (word.string().rfind("--inventory=", 0) == 0) {
                std::ifstream in(fleet.root() / "hosts.txt");
                for (std::string host; std::getline(in, host);)
                    expectedHosts.push_back(host);
            }
        }
        if (row.rerun != nullptr &&
            extra.end() == std::find_if(extra.begin(), extra.end(), [](const fs::path& w) {
                return w.string().rfind("--rerun=", 0) == 0;
            }))
            extra.push_back(option("rerun", fleet.root() / "rerun.txt"));
        int exitCode = -1;
        const json summary = fleet.report(extra, exitCode);
        ASSERT_FALSE(summary.is_discarded());
        EXPECT_EQ(exitCode, row.exitCode) << summary.dump();
        for (const auto& [pointer, value] : row.expected.items())
            EXPECT_EQ(summary.value(json::json_pointer(pointer), json()), value)
                << pointer << " in " << summary.dump();
        const std::string csv = testutil::readBytes((fleet.root() / "r.csv").wstring());
        for (const std::string& text : row.csv)
            EXPECT_NE(csv.find(text), std::string::npos) << text << " in\n" << csv;
        if (row.rerun != nullptr) {
            fs::path rerun = fleet.root() / "rerun.txt";
            if (!fs::exists(rerun))
                rerun = fleet.root() / "in" / "rerun.json";
            EXPECT_EQ(testutil::readBytes(rerun.wstring()), row.rerun);
        }
        expectCountsAgree(summary, exitCode, expectedHosts, csv);
    }
}

// Host names, paths and product fields are data: nothing in them closes the data block or
// reaches a spreadsheet as a formula.
TEST(FleetReport, HostileTextsStayData) {
    Scene fleet;
    const std::string host = "</script><script>alert(1)</script>\xE2\x80\xA8<!--";
    json doc = run(host);
    doc["products"][0]["SapCode"] = "=HYPERLINK(\"x\")";
    // Given alone, the file is named by its hostName.
    const fs::path alone = fleet.root() / "pc.json";
    std::ofstream(alone, std::ios::binary) << doc.dump();
    fleet.write("Velkaro.log", std::string("not a results file, not read"));
    int exitCode = -1;
    std::string page;
    const json summary = fleet.report({alone}, exitCode, &page);
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
    // A folder, link or device where an output goes is refused, left as it was, and no page
    // is written before the refusal (nor a temporary file left).
    const fs::path kept = fleet.root() / "kept.html";
    testutil::writeBytes(kept.wstring(), "old page");
    std::vector<fs::path> refused = {fleet.root() / "in"};
    if (testutil::isPosix()) {
        fs::create_symlink(kept, fleet.root() / "link.csv");
        refused.push_back(fleet.root() / "link.csv");
        refused.push_back("/dev/full");
    }
    for (const fs::path& csv : refused) {
        err.str("");
        EXPECT_EQ(runReport({option("out", kept), option("csv", csv), fleet.root() / "in"}, out,
                            err, kNow),
                  1)
            << csv;
        EXPECT_NE(err.str().find(", not a file"), std::string::npos) << err.str();
        EXPECT_TRUE(fs::exists(fs::symlink_status(csv))) << csv;
        EXPECT_EQ(testutil::readBytes(kept.wstring()), "old page");
    }
    // in, kept.html and (POSIX) link.csv
    EXPECT_EQ(testutil::listFolder(fleet.root().wstring()).size(), testutil::isPosix() ? 3u : 2u);
    const fs::path good = fleet.root() / "r.html";
    for (std::vector<fs::path> words :
         {std::vector<fs::path>{fleet.root() / "in"},
          {option("out", good)},
          {option("out", good), "--staleAfter=soon", fleet.root() / "in"},
          {option("out", good), option("inventory", fleet.root() / "none"), fleet.root() / "in"},
          {option("out", good), option("previous", fleet.root() / "in" / "pc.json"),
           fleet.root() / "in"},
          {option("out", good), "--colour=red", fleet.root() / "in"}}) {
        EXPECT_EQ(runReport(words, out, err, kNow), 1) << words.back();
        EXPECT_FALSE(fs::exists(good));
    }
}

}  // namespace
}  // namespace velkaro::report
