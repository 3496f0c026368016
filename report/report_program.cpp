#include "report/report_program.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "report/fleet.h"
#include "report/report_output.h"

namespace velkaro::report {

namespace {

namespace fs = std::filesystem;

const char kUsage[] =
    "Usage: VelkaroReport --out=<report.html> [--inventory=<file of expected host names>]\n"
    "                     [--staleAfter=<days>] [--csv=<file>] [--summary=<file>]\n"
    "                     <folder or file>...\n"
    "  --out=<report.html>   the page to write (one self-contained HTML file)\n"
    "  --inventory=<file>    expected host names, one a line: hosts without a results file\n"
    "                        are listed as never reported\n"
    "  --staleAfter=<days>   flags runs that ended more than this many days ago\n"
    "  --csv=<file>          also writes one row per machine and product\n"
    "  --summary=<file>      also writes the headline counts as JSON\n"
    "Folders are searched recursively for *.json files. Exit code: 0 every expected machine\n"
    "succeeded, 2 some did not, 1 the report could not be written.\n";

struct Options {
    fs::path out, inventory, csv, summary;
    std::optional<int64_t> staleAfterDays;
    std::vector<fs::path> inputs;
};

// The value of `--name=value` in `word`, when the word is that option.
std::optional<fs::path> optionValue(const fs::path& word, const char* name) {
    const fs::path::string_type prefix = fs::path(std::string("--") + name + "=").native();
    const fs::path::string_type& w = word.native();
    if (w.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    return fs::path(w.substr(prefix.size()));
}

bool parseDays(const std::string& text, int64_t& days) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    days = std::stoll(text);
    return true;
}

// False with a message in `error`; `help` when usage was asked for.
bool parseOptions(const std::vector<fs::path>& words, Options& options, bool& help,
                  std::string& error) {
    help = false;
    for (const fs::path& word : words) {
        const std::string text = pathText(word);
        if (text == "-?" || text == "--help") {
            help = true;
            return true;
        }
        std::optional<fs::path> value;
        if ((value = optionValue(word, "out"))) {
            options.out = *value;
        } else if ((value = optionValue(word, "inventory"))) {
            options.inventory = *value;
        } else if ((value = optionValue(word, "csv"))) {
            options.csv = *value;
        } else if ((value = optionValue(word, "summary"))) {
            options.summary = *value;
        } else if ((value = optionValue(word, "staleAfter"))) {
            int64_t days = 0;
            if (!parseDays(pathText(*value), days)) {
                error = "--staleAfter= takes a whole number of days.";
                return false;
            }
            options.staleAfterDays = days;
        } else if (text.rfind("--", 0) == 0) {
            error = "Unknown option: " + text;
            return false;
        } else {
            options.inputs.push_back(word);
        }
        if (value && value->empty()) {
            error = "An option is given without its value: " + text;
            return false;
        }
    }
    if (options.out.empty()) {
        error = "No page to write: --out=<report.html> is required.";
        return false;
    }
    if (options.inputs.empty()) {
        error = "No folder or file of results given.";
        return false;
    }
    return true;
}

// Writes the whole text or nothing: a file left half written is removed.
bool writeWhole(const fs::path& path, const std::function<void(std::ostream&)>& write,
                std::ostream& err) {
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        if (file) {
            write(file);
            file.close();
            if (file)
                return true;
        }
    }
    err << "Cannot write " << pathText(path) << ".\n";
    std::error_code ec;
    fs::remove(path, ec);
    return false;
}

}  // namespace

int runReport(const std::vector<fs::path>& words, std::ostream& out, std::ostream& err,
              int64_t now) {
    Options options;
    bool help = false;
    std::string error;
    if (!parseOptions(words, options, help, error)) {
        err << error << "\n" << kUsage;
        return kReportNotWritten;
    }
    if (help) {
        out << kUsage;
        return kReportAllSucceeded;
    }
    FleetOptions fleetOptions;
    fleetOptions.inputs = options.inputs;
    fleetOptions.now = now >= 0 ? now
                                : std::chrono::duration_cast<std::chrono::seconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
    if (options.staleAfterDays)
        fleetOptions.staleAfterSeconds = *options.staleAfterDays * 86400;
    if (!options.inventory.empty() && !readInventory(options.inventory, fleetOptions.inventory)) {
        err << "Cannot read the inventory " << pathText(options.inventory) << ".\n";
        return kReportNotWritten;
    }

    const Fleet fleet = collectFleet(fleetOptions);
    auto text = [](std::string value) {
        return [value = std::move(value)](std::ostream& file) {
            file.write(value.data(), static_cast<std::streamsize>(value.size()));
        };
    };
    if (!writeWhole(
            options.out, [&](std::ostream& file) { writeReportPage(fleet, fleetOptions, file); },
            err) ||
        (!options.csv.empty() && !writeWhole(options.csv, text(csvDocument(fleet)), err)) ||
        (!options.summary.empty() &&
         !writeWhole(options.summary, text(summaryDocument(fleet, fleetOptions)), err)))
        return kReportNotWritten;

    size_t succeeded = 0;
    for (const Machine& m : fleet.machines)
        succeeded += m.outcome == MachineOutcome::Succeeded;
    out << "Report written to " << pathText(options.out) << ": " << fleet.machines.size()
        << " machines, " << succeeded << " succeeded, " << fleet.neverReported.size()
        << " never reported, " << fleet.unreadable.size() << " files unreadable.\n";
    return everyMachineSucceeded(fleet) ? kReportAllSucceeded : kReportNotAllSucceeded;
}

}  // namespace velkaro::report
