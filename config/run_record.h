#pragma once
// What one run did, as plain data: filled by the driver and the removal run, read by whoever
// reports it (the results file). Nothing here knows how it is written out.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "config/config_check.h"
#include "config/uninstall_product.h"

namespace velkaro {

enum class ProductOutcome {
    Removed,
    NotFound,
    Failed,
    Ignored,       ///< its family's setup program is not installed
    NotAttempted,  ///< the run stopped (or was refused) before it
    Pending,       ///< a running file's product that the run has not handled yet
};

/// One product and what became of it.
struct ProductRecord {
    UninstallProduct product;
    ProductOutcome outcome = ProductOutcome::NotAttempted;
    bool launched = false;  ///< a launch was attempted: the fields below are meaningful
    int launchResult = 0;   ///< a korr::LaunchResult value
    bool hasExitCode = false;
    int32_t exitCode = 0;  ///< as the log shows it (signed)
    bool timedOut = false;
    int leftoverProcesses = 0;  ///< still running when the setup program ended
    double seconds = 0;         ///< from the launch to the setup program's end
    std::wstring commandLine;   ///< a dry run's: what a run would start (empty: nothing)
};

/// A refusal's stable reason word; empty for a run that was not refused.
struct RunRecord {
    bool running = false;  ///< written at the start: no end, no exit code yet
    std::wstring programVersion;
    std::wstring hostName;
    std::wstring machineId;     ///< empty: the machine's identity could not be read
    std::wstring configSha256;  ///< of the configuration's bytes; empty: none was read
    unsigned long processId = 0;
    std::wstring configPath;
    std::wstring logPath;              ///< the log file written; empty: no log could be written
    uint32_t setupTimeoutSeconds = 0;  ///< 0: no limit
    std::chrono::system_clock::time_point start;
    std::chrono::system_clock::time_point end;
    int exitCode = 1;
    std::wstring refusal;        ///< "badCommandLine", "configMissing", ... or empty
    std::wstring stopReason;     ///< what stopped the run early, empty when nothing did
    bool setupsLocated = false;  ///< the two paths below were looked up
    std::wstring veltSetupPath;  ///< empty: none
    std::wstring qxSetupPath;
    std::vector<ProductRecord> products;  ///< in run order
    /// The products the run will handle, in run order: a running file lists those beyond
    /// `products` as pending.
    std::vector<UninstallProduct> plannedProducts;
    bool dryRun = false;  ///< nothing was started; findings hold the check
    std::vector<ConfigFinding> findings;
};

}  // namespace velkaro
