#include "report/report_program.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "report/fleet.h"
#include "report/output_file.h"
#include "report/report_output.h"
#include "report/result_reader.h"

namespace velkaro::report {

namespace {

namespace fs = std::filesystem;

const char kUsage[] =
    "Usage: VelkaroReport --out=<report.html> [--inventory=<file of expected host names>]\n"
    "                     [--staleAfter=<days>] [--csv=<file>] [--summary=<file>]\n"
    "                     [--rerun=<file>] [--previous=<summary.json>] [--exclude=<pattern>]...\n"
    "                     <folder or file>...\n"
    "  --out=<report.html>   the page to write (one self-contained HTML file)\n"
    "  --inventory=<file>    expected host names, one a line: hosts without a results file\n"
    "                        are listed as never reported\n"
    "  --staleAfter=<days>   flags runs that ended more than this many days ago\n"
    "  --csv=<file>          also writes one row per machine and product\n"
    "  --summary=<file>      also writes the headline counts as JSON\n"
    "  --rerun=<file>        also writes the hosts to run again, one a line\n"
    "  --previous=<summary.json>  an earlier report's summary: what changed since\n"
    "  --exclude=<pattern>   leaves out files and folders whose name matches (* and ?;\n"
    "                        repeatable)\n"
    "Folders are searched recursively for *.json files; a machine is named by the folder\n"
    "directly under a given folder, or by its file's name directly in one. Exit code: 0 every\n"
    "expected machine succeeded, 2 some did not, 1 the report could not be written.\n";

struct Options {
    fs::path out, inventory, csv, summary, rerun, previous;
    std::vector<std::string> exclude;
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
        } else if ((value = optionValue(word, "rerun"))) {
            options.rerun = *value;
        } else if ((value = optionValue(word, "previous"))) {
            options.previous = *value;
        } else if ((value = optionValue(word, "exclude"))) {
            options.exclude.push_back(pathText(*value));
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

// Writes the whole text or nothing: on failure the target is left as it was.
bool writeWhole(const fs::path& path, const std::function<void(std::ostream&)>& write,
                std::ostream& err) {
    OutputFile file;
    std::string error;
    if (file.open(path, error)) {
        write(file.stream());
        if (file.commit(error))
            return true;
    }
    err << "Cannot write " << pathText(path) << ": " << validUtf8(error) << ".\n";
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

    if (!options.previous.empty()) {
        std::string why;
        if (!readPreviousSummary(options.previous, fleetOptions.previous, why)) {
            err << "Cannot read the previous summary " << pathText(options.previous) << ": "
                << validUtf8(why) << ".\n";
            return kReportNotWritten;
        }
        fleetOptions.hasPrevious = true;
    }
    fleetOptions.exclude = options.exclude;
    // Refused before the work, not after: a device, FIFO, folder or link is never written.
    for (const fs::path* output : {&options.out, &options.csv, &options.summary, &options.rerun}) {
        if (output->empty())
            continue;
        fleetOptions.outputs.push_back(*output);
        const std::string refusal = outputRefusal(*output);
        if (!refusal.empty()) {
            err << "Cannot write " << pathText(*output) << ": " << refusal << ".\n";
            return kReportNotWritten;
        }
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
         !writeWhole(options.summary, text(summaryDocument(fleet, fleetOptions)), err)) ||
        (!options.rerun.empty() && !writeWhole(options.rerun, text(rerunDocument(fleet)), err)))
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
