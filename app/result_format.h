#pragma once
// The results file's format: its field names and the words its values take. The writer in app/
// and the fleet report's reader both name the fields through this one header, so the two cannot
// drift apart. Plain constants: it links nothing.

#include <array>
#include <cstddef>

namespace velkaro::resultformat {

/// The document's format version; raised when a field changes meaning or goes away.
inline constexpr int kVersion = 1;

// The run.
inline constexpr char kFormatVersion[] = "formatVersion";
inline constexpr char kProgram[] = "program";
inline constexpr char kProgramVersion[] = "programVersion";
inline constexpr char kState[] = "state";  ///< absent in older files: finished
inline constexpr char kProcessId[] = "processId";
inline constexpr char kStartTime[] = "startTime";
inline constexpr char kEndTime[] = "endTime";
inline constexpr char kHostName[] = "hostName";
inline constexpr char kMachineId[] = "machineId";        ///< the machine's stable identity, or null
inline constexpr char kConfigSha256[] = "configSha256";  ///< of the configuration's bytes, or null
inline constexpr char kConfigPath[] = "configPath";
inline constexpr char kLogPath[] = "logPath";
inline constexpr char kSetupTimeout[] = "setupTimeout";  ///< seconds, or null: no limit
inline constexpr char kExitCode[] = "exitCode";
inline constexpr char kRefusal[] = "refusal";
inline constexpr char kStopRequest[] = "stopRequest";
inline constexpr char kSetupProgramsLocated[] = "setupProgramsLocated";
inline constexpr char kSetupPrograms[] = "setupPrograms";
inline constexpr char kProducts[] = "products";
inline constexpr char kDryRun[] = "dryRun";
inline constexpr char kFindings[] = "findings";

// The two families, as setupPrograms' keys and products' family.
inline constexpr char kFamilyVelt[] = "VELT";
inline constexpr char kFamilyQx[] = "QX";

// One product.
inline constexpr char kFamily[] = "family";
inline constexpr char kSapCode[] = "SapCode";
inline constexpr char kVersionField[] = "Version";
inline constexpr char kPlatform[] = "Platform";
inline constexpr char kBaseVersion[] = "BaseVersion";
inline constexpr char kOutcome[] = "outcome";
inline constexpr char kLaunchResult[] = "launchResult";
inline constexpr char kTimedOut[] = "timedOut";
inline constexpr char kSeconds[] = "seconds";
inline constexpr char kCommandLine[] = "commandLine";
inline constexpr char kLeftoverProcesses[] = "leftoverProcesses";

// One finding of a dry run.
inline constexpr char kKind[] = "kind";
inline constexpr char kElement[] = "element";
inline constexpr char kPlace[] = "place";
inline constexpr char kFirstPlace[] = "firstPlace";
inline constexpr char kPath[] = "path";
inline constexpr char kLine[] = "line";
inline constexpr char kText[] = "text";

// The words of `state`.
inline constexpr char kStateRunning[] = "running";
inline constexpr char kStateFinished[] = "finished";

/// The words of a product's outcome, in the order of ProductOutcome.
inline constexpr std::array<const char*, 5> kOutcomeWords = {"removed", "notFound", "failed",
                                                             "ignored", "notAttempted"};

/// A product of a running file that the run has not handled yet.
inline constexpr char kOutcomePending[] = "pending";

/// The words of a launch result, indexed by the launcher's LaunchResult value; any other value
/// is written as kUnknownLaunchResult.
inline constexpr std::array<const char*, 6> kLaunchResultWords = {
    "ok", "notStarted", "createFailed", "noExitCode", "timedOut", "stopped"};
inline constexpr char kUnknownLaunchResult[] = "unknown";

/// The words of a dry run's finding kinds, in the order of FindingKind.
inline constexpr std::array<const char*, 6> kFindingWords = {
    "notLoadable", "wrongRoot", "unknownElement", "missingValue", "emptyValue", "duplicateProduct"};

/// Why a run was refused, in the order of kRefusalWords.
enum class Refusal {
    BadCommandLine,
    ConfigMissing,
    ConfigUnloadable,
    ConfigInvalid,
    NotAdministrator,
    AnotherInstance,
    LockFailed,
    TempFolderUnavailable,
    Interrupted,
    ResultFileUnwritable,
};

/// The refusal words a run writes, indexed by Refusal. A reader shows any other word as it
/// stands.
inline constexpr std::array<const char*, 10> kRefusalWords = {
    "badCommandLine",   "configMissing",       "configUnloadable", "configInvalid",
    "notAdministrator", "anotherInstance",     "lockFailed",       "tempFolderUnavailable",
    "interrupted",      "resultFileUnwritable"};
static_assert(kRefusalWords.size() == static_cast<std::size_t>(Refusal::ResultFileUnwritable) + 1,
              "one word per refusal");

}  // namespace velkaro::resultformat
