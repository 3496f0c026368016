#pragma once
// One results file read into what the fleet report keeps of it. Reading never trusts the file:
// anything that is not a results file of this format comes back as a reason, never a crash.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velkaro::report {

/// Files larger than this are not read: no results file comes near it, and the report's memory
/// stays bounded whatever lies in the folder.
inline constexpr size_t kMaxResultFileBytes = 16u << 20;

/// Files listing more products than this are not read: no real configuration comes near it, and
/// the page's products table stays usable whatever one file claims.
inline constexpr size_t kMaxProducts = 5000;

/// A time that the file does not give.
inline constexpr int64_t kNoTime = INT64_MIN;

/// Index of a launch result in resultformat::kLaunchResultWords; these two follow it.
inline constexpr uint8_t kLaunchUnknown = 6;
inline constexpr uint8_t kLaunchNone = 7;  ///< nothing was started

/// A product as the file names it.
struct ProductName {
    std::string family, sapCode, version, platform;
};

struct ProductResult {
    ProductName name;
    uint8_t outcome = 0;  ///< index in resultformat::kOutcomeWords
    uint8_t launch = kLaunchNone;
    bool hasExitCode = false;
    int32_t exitCode = 0;
    uint32_t leftoverProcesses = 0;  ///< processes its setup program left behind
};

/// What the report uses of one run. Texts are UTF-8.
struct RunResult {
    std::string hostName;                    ///< empty: the file names none
    int64_t start = kNoTime, end = kNoTime;  ///< seconds since 1970, UTC
    bool hasExitCode = false;                ///< a running run's file has none yet
    int exitCode = 0;
    std::string refusal, stopRequest;  ///< empty: none
    bool running = false;              ///< state "running": the run had not finished
    bool dryRun = false;
    int64_t setupTimeout = -1;  ///< seconds; -1: no limit or not given
    std::string machineId;      ///< empty: the file names none
    std::string configSha256;   ///< empty: none was read
    std::string programVersion, logPath;
    bool anySetupProgram = false;  ///< a family's setup program was found on the machine
    std::vector<ProductResult> products;
};

/// Why a file is not a results file, as a stable word (the summary's key) and a text.
enum class Unreadable : uint8_t {
    CannotRead,
    LinkLoop,
    TooLarge,
    NotUtf8,
    Truncated,
    NotJson,
    WrongFormatVersion,
    WrongStructure,
    NotAFile,         ///< a FIFO, device, socket or folder where a file was expected
    TooManyProducts,  ///< more than kMaxProducts
    NotResultsFile,   ///< JSON, but not written by Velkaro: listed apart, never as unreadable
};
inline constexpr const char* kUnreadableWords[] = {
    "cannotRead", "linkLoop",        "tooLarge",           "notUtf8",
    "truncated",  "notJson",         "wrongFormatVersion", "wrongStructure",
    "notAFile",   "tooManyProducts", "notResultsFile"};

/// Parses `bytes` (a whole file: UTF-8, with or without a byte-order mark, or UTF-16 with one).
/// False: `why` and `detail` say what is wrong. Every text of an accepted file is valid UTF-8.
bool parseResultFile(std::string_view bytes, RunResult& run, Unreadable& why, std::string& detail);

/// "2026-12-07T14:05:09Z" as seconds since 1970; false for anything else.
bool parseUtcTime(std::string_view text, int64_t& seconds);

/// Seconds since 1970 as "2026-12-07T14:05:09Z".
std::string formatUtcTime(int64_t seconds);

/// Appends the code point `c` (at most U+10FFFF, no surrogate) as UTF-8.
void appendUtf8(std::string& out, uint32_t c);

/// `text` with every byte sequence that is not UTF-8 replaced by U+FFFD.
std::string validUtf8(std::string_view text);

}  // namespace velkaro::report
