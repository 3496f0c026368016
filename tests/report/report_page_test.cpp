#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "report/fleet.h"
#include "report/report_output.h"

namespace velkaro::report {
namespace {

using nlohmann::json;

// The page's data block, as the page's script reads it.
json pageData(const Fleet& fleet) {
    std::ostringstream out;
    writeReportPage(fleet, FleetOptions{}, out);
    const std::string page = out.str();
    const std::string open = "id=\"fleet-data\">";
    const size_t from = page.find(open) + open.size();
    return json::parse(page.substr(from, page.find("</script>", from) - from));
}

Machine machine(const std::string& host) {
    Machine m;
    m.host = host;
    m.programVersion = "2.2.0.8";
    m.configSha256 = std::string(64, 'a');
    return m;
}

// A row's tail ends at its last value that is not the default; every value before it keeps its
// place, so the page never reads one field for another.
TEST(ReportPage, MachineRowsEndAtTheirLastGivenValue) {
    struct Case {
        const char* name;
        std::function<void(Machine&)> change;
        json tail;  // from the version on
    };
    const Case cases[] = {
        {"defaults, no time limit, the file's name as the host's",
         [](Machine& m) {
             m.setupTimeout = -1;
             m.fileHostName = m.host;
         },
         json::array()},
        {"second version", [](Machine& m) { m.programVersion = "2.3.0.1"; }, {1}},
        {"second configuration", [](Machine& m) { m.configSha256 = std::string(64, 'b'); }, {0, 1}},
        {"log path",
         [](Machine& m) { m.logPath = "C:\\Temp\\Velkaro.log"; },
         {0, 0, "C:\\Temp\\Velkaro.log"}},
        {"a time limit of 0 is one", [](Machine& m) { m.setupTimeout = 0; }, {0, 0, "", "", 0}},
        {"the file's name differs only in case",
         [](Machine& m) { m.fileHostName = "PC-1"; },
         {0, 0, "", "", nullptr, "PC-1"}},
        {"identity mismatch",
         [](Machine& m) {
             m.fileHostName = "pc-9";
             m.identityMismatch = true;
         },
         {0, 0, "", "", nullptr, "pc-9", 1}},
        {"renamed",
         [](Machine& m) { m.renamedFrom = {"old-1"}; },
         {0, 0, "", "", nullptr, "", 0, {"old-1"}}},
        {"nothing done",
         [](Machine& m) { m.nothingDone = true; },
         {0, 0, "", "", nullptr, "", 0, json::array(), 1}},
    };
    for (const Case& c : cases) {
        Fleet fleet;
        // A second machine holds the first version and configuration of the page's lists.
        fleet.machines = {machine("pc-1"), machine("pc-2")};
        c.change(fleet.machines[0]);
        const json data = pageData(fleet);
        const json& row = data["machines"][0];
        ASSERT_GE(row.size(), 11u) << c.name;
        EXPECT_EQ(json(std::vector<json>(row.begin() + 11, row.end())), c.tail) << c.name;
        const Machine& m = fleet.machines[0];
        EXPECT_EQ(data["versions"][row.size() > 11 ? row[11].get<size_t>() : 0], m.programVersion)
            << c.name;
        EXPECT_EQ(data["configs"][row.size() > 12 ? row[12].get<size_t>() : 0], m.configSha256)
            << c.name;
    }
}

// Rows hold their results file's path after the folder they share, cut at a separator only.
TEST(ReportPage, PathsAfterTheirCommonFolder) {
    const std::vector<std::vector<std::string>> cases = {
        {"in/pc-1.json", "in/pc-2.json"},
        {"in/\xC3\xA9.json", "in/\xC3\xA8.json"},  // a shared first byte of a character
        {"C:\\share\\pc-1.json", "C:\\share\\old\\pc-2.json"},
        {"pc-1.json", "pc-2.json"},
        {"in/pc-1.json"},
    };
    for (const auto& paths : cases) {
        Fleet fleet;
        for (const std::string& path : paths) {
            fleet.machines.push_back(machine(path));
            fleet.machines.back().path = path;
        }
        const json data = pageData(fleet);
        const std::string folder = data["folder"];
        EXPECT_TRUE(folder.empty() || folder.back() == '/' || folder.back() == '\\') << folder;
        for (size_t i = 0; i < paths.size(); ++i)
            EXPECT_EQ(folder + data["machines"][i][7].get<std::string>(), paths[i]) << paths[i];
    }
}

}  // namespace
}  // namespace velkaro::report
