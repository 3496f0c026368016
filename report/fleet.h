#pragma once
// The fleet: every results file found under the given folders, one machine per host (its latest
// run), classified, with what could not be read and which expected hosts never reported.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "report/result_reader.h"

namespace velkaro::report {

/// A machine's outcome, in the order the page lists them: failing first.
enum class MachineOutcome : uint8_t {
    Failed,
    KilledOrRunning,  ///< state "running" and older than its run could last
    Stopped,          ///< a stop request ended the run
    Refused,
    Running,  ///< state "running", still within the time its run could last
    DryRun,   ///< a configuration check: nothing was removed
    Succeeded,
};
inline constexpr const char* kMachineOutcomeWords[] = {
    "failed", "killedOrRunning", "stopped", "refused", "running", "dryRun", "succeeded"};

/// How long a run may last before a file still in state "running" counts as killed: this much
/// per product without a setup time limit, the limit per product with one, plus a margin.
inline constexpr int64_t kUnlimitedProductSeconds = 2 * 3600;
inline constexpr int64_t kRunMarginSeconds = 15 * 60;

struct ProductRun {
    uint32_t product = 0;  ///< index in Fleet::products
    uint8_t outcome = 0;
    uint8_t launch = kLaunchNone;
    bool hasExitCode = false;
    int32_t exitCode = 0;
    uint32_t leftoverProcesses = 0;
};

struct Machine {
    /// The name of the file's place: the folder directly under a given folder, or the file's
    /// name without ".json" directly in one; a file given alone is named by its hostName. Not
    /// UTF-8 or control characters are shown escaped ("\\xFF"), so names never fall together.
    std::string host;
    std::string path;  ///< its results file, UTF-8
    int64_t start = kNoTime, end = kNoTime;
    bool hasExitCode = false;
    int exitCode = 0;
    std::string refusal, stopRequest;
    MachineOutcome outcome = MachineOutcome::Failed;
    bool stale = false;
    std::vector<ProductRun> products;
    std::vector<std::string> olderRuns;  ///< results files of the host's earlier runs
    // What the file says of itself: evidence to compare with the name of its place, never identity.
    std::string fileHostName;  ///< the file's hostName; empty: none
    bool identityMismatch = false;
    std::string machineId, configSha256, programVersion, logPath;
    int64_t setupTimeout = -1;             ///< seconds; -1: no limit
    std::vector<std::string> renamedFrom;  ///< older names of the same machineId
    bool nothingDone = false;  ///< every product ignored or not found: no family setup program
};

/// A file in the inputs that is not a results file at all (no "program": "Velkaro").
struct OtherFile {
    std::string path;
};

/// How the fleet moved since an earlier report's summary (--previous).
struct FleetChanges {
    bool present = false;  ///< false: no previous summary given
    std::vector<std::string> newlyFailed, newlyFixed, stillFailing, newlyReported;
};

struct UnreadableFile {
    std::string path;
    std::string host;  ///< the name of its place, as Machine::host
    Unreadable why = Unreadable::CannotRead;
    std::string detail;
};

struct FleetOptions {
    std::vector<std::filesystem::path> inputs;  ///< folders (searched recursively) and files
    std::vector<std::string> inventory;         ///< expected host names; empty: none given
    int64_t staleAfterSeconds = -1;             ///< -1: nothing is stale
    int64_t now = 0;                            ///< seconds since 1970
    std::vector<std::string> exclude;  ///< names (of files or folders) left out: * and ? match
    std::vector<std::filesystem::path> outputs;  ///< the report's own outputs: never read
    bool hasPrevious = false;                    ///< `previous` holds an earlier summary's hosts
    std::vector<std::pair<std::string, std::string>> previous;  ///< host, outcome word
};

struct Fleet {
    std::vector<ProductName> products;
    std::vector<Machine> machines;  ///< failing first, then by host name
    std::vector<UnreadableFile> unreadable;
    std::vector<std::string> neverReported;   ///< inventory hosts without a results file
    std::vector<std::string> notInInventory;  ///< reported, but the inventory does not list them
    std::vector<Machine> outsideInventory;    ///< their machines, counted in no headline
    std::vector<OtherFile> others;
    std::vector<std::string> rerun;  ///< hosts to run again, as the inventory spells them
    FleetChanges changes;
    size_t olderRuns = 0;
};

/// Reads every results file the inputs hold. Never fails: what cannot be read is listed.
Fleet collectFleet(const FleetOptions& options);

/// Every host and its outcome word as of this fleet (a machine's outcome, "unreadable" for a
/// place whose files could not be read, "neverReported"), the machines outside the inventory
/// included; sorted by host.
std::vector<std::pair<std::string, std::string>> hostOutcomes(const Fleet& fleet);

/// Reads the hosts of an earlier report's summary (its "hosts" member). False with `error`.
bool readPreviousSummary(const std::filesystem::path& file,
                         std::vector<std::pair<std::string, std::string>>& hosts,
                         std::string& error);

/// A host name as compared: lower case, without its domain part (an IP address stays whole).
std::string hostKey(std::string_view host);

/// True when `name` matches `pattern`: "*" any run of characters, "?" one; ASCII letters match
/// in either case.
bool nameMatches(std::string_view pattern, std::string_view name);

/// The outcome of one run as of `now`.
MachineOutcome classifyRun(const RunResult& run, int64_t now);

/// Reads an inventory: one host name per line; blank lines, "#" comments and the header line
/// of `ansible --list-hosts` are skipped. False when the file cannot be read.
bool readInventory(const std::filesystem::path& file, std::vector<std::string>& hosts);

/// A path as UTF-8 text (names that are not valid text get U+FFFD).
std::string pathText(const std::filesystem::path& path);

}  // namespace velkaro::report
