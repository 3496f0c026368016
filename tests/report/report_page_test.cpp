#include <gtest/gtest.h>

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
