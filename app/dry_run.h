#pragma once
// --dryRun: loads the configuration with the loader of a run, checks it strictly and shows what a
// run would do (the listing, each family's setup program, each product's command line) without
// starting anything, writing a parameter file, taking the lock or needing administrator rights.

#include <string>
#include <vector>

#include "config/config_check.h"
#include "config/run_record.h"
#include "config/uninstall_product.h"
#include "logging/logger.h"

namespace velkaro {

/// Stand in for the parameter files, which a dry run never writes.
inline constexpr const wchar_t* kDeploymentFilePlaceholder = L"<deployment file>";
inline constexpr const wchar_t* kDriverFilePlaceholder = L"<driver XML file>";

/// What a run would start for one product.
struct PlannedCommand {
    UninstallProduct product;
    std::wstring commandLine;  ///< empty when the family's setup program is not installed
};

/// Everything a dry run found, as plain data for whoever reports it.
struct DryRunReport {
    bool loaded = false;                   ///< the loader of a run took the configuration
    ProductSet products;                   ///< what a run would list
    std::wstring veltSetupPath;            ///< empty: not installed
    std::wstring qxSetupPath;              ///< empty: not installed
    std::vector<PlannedCommand> commands;  ///< in the order a run would start them
    std::vector<ConfigFinding> findings;

    bool valid() const { return loaded && findings.empty(); }
};

/// Loads and checks the configuration and works out the commands; the loader writes its own
/// messages as in a run.
DryRunReport planDryRun(const std::wstring& configPath);

/// Prints a report to the console and, line for line, to the log.
void printDryRun(zoka::Logger& logger, const DryRunReport& report);

/// "Configuration check:", each finding (an ERROR line in the log), and the verdict: what a dry
/// run ends with, and what a --strict run prints before it refuses.
void printConfigCheck(zoka::Logger& logger, const std::vector<ConfigFinding>& findings, bool valid);

/// Copies a report into a run's record, for the results file: the setup programs, each product
/// with the command line a run would start, the findings, and a refusal word when it is not valid.
void recordDryRun(const DryRunReport& report, RunRecord& record);

/// The whole dry run: 0 when the configuration is valid, 1 otherwise. `record`, when given,
/// receives the report.
int runDryRun(zoka::Logger& logger, const std::wstring& configPath, RunRecord* record = nullptr);

}  // namespace velkaro
