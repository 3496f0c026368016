#include "app/result_file.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "app/atomic_file.h"
#include "app/program.h"
#include "app/result_format.h"
#include "base/unicode.h"
#include "sysutil/process_launcher.h"

namespace velkaro {

namespace {

using nlohmann::ordered_json;
namespace field = resultformat;

ordered_json text(const std::wstring& value) {
    return zoka::toUtf8(value);
}

// Absent values are null, so a script tells "none" from an empty text.
ordered_json textOrNull(const std::wstring& value) {
    return value.empty() ? ordered_json() : text(value);
}

std::string isoTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    // One thread: the shared result of gmtime is read at once.
    const std::tm* utc = std::gmtime(&seconds);
    if (utc == nullptr)
        return std::string();
    char buffer[32];
    const size_t n = std::strftime(buffer, sizeof(buffer), "%Y-%m-%dT%H:%M:%SZ", utc);
    return std::string(buffer, n);
}

ordered_json productEntry(const ProductRecord& entry, bool dryRun) {
    const UninstallProduct& product = entry.product;
    ordered_json json;
    json[field::kFamily] = product.family == VELT ? field::kFamilyVelt : field::kFamilyQx;
    json[field::kSapCode] = text(product.sapCode);
    json[field::kVersionField] = text(product.version);
    json[field::kPlatform] = text(product.platform);
    json[field::kBaseVersion] = text(product.baseVersion);
    json[field::kOutcome] = outcomeWord(entry.outcome);
    json[field::kExitCode] = entry.hasExitCode ? ordered_json(entry.exitCode) : ordered_json();
    json[field::kLaunchResult] =
        entry.launched ? ordered_json(launchResultWord(entry.launchResult)) : ordered_json();
    json[field::kTimedOut] = entry.timedOut;
    json[field::kLeftoverProcesses] = entry.leftoverProcesses;
    // Milliseconds are precise enough, and keep the number short.
    json[field::kSeconds] =
        static_cast<double>(static_cast<int64_t>(entry.seconds * 1000 + 0.5)) / 1000;
    if (dryRun)
        json[field::kCommandLine] = textOrNull(entry.commandLine);
    return json;
}

const char* findingWord(FindingKind kind) {
    const auto index = static_cast<size_t>(kind);
    return field::kFindingWords[index < field::kFindingWords.size()
                                    ? index
                                    : field::kFindingWords.size() - 1];
}

ordered_json placeEntry(const ElementPlace& place) {
    ordered_json json;
    json[field::kPath] = textOrNull(place.path);
    json[field::kLine] = place.line > 0 ? ordered_json(place.line) : ordered_json();
    return json;
}

ordered_json findingEntry(const ConfigFinding& finding) {
    ordered_json json;
    json[field::kKind] = findingWord(finding.kind);
    json[field::kElement] = textOrNull(finding.element);
    json[field::kPlace] = placeEntry(finding.place);
    if (finding.kind == FindingKind::DuplicateProduct)
        json[field::kFirstPlace] = placeEntry(finding.firstPlace);
    json[field::kText] = text(findingText(finding));
    return json;
}

}  // namespace

const char* outcomeWord(ProductOutcome outcome) {
    if (outcome == ProductOutcome::Pending)
        return field::kOutcomePending;
    const auto index = static_cast<size_t>(outcome);
    return field::kOutcomeWords[index < field::kOutcomeWords.size()
                                    ? index
                                    : field::kOutcomeWords.size() - 1];
}

const char* launchResultWord(int launchResult) {
    static_assert(korr::LAUNCH_OK == 0 && korr::LAUNCH_STOPPED == 5, "the words follow the values");
    const auto index = static_cast<size_t>(launchResult);
    return launchResult >= 0 && index < field::kLaunchResultWords.size()
               ? field::kLaunchResultWords[index]
               : field::kUnknownLaunchResult;
}

std::wstring refusalWord(resultformat::Refusal refusal) {
    const char* word = field::kRefusalWords[static_cast<size_t>(refusal)];
    return std::wstring(word, word + std::char_traits<char>::length(word));  // ASCII
}

std::string resultDocument(const RunRecord& record) {
    ordered_json json;
    json[field::kFormatVersion] = kResultFormatVersion;
    json[field::kProgram] = text(kProgramName);
    json[field::kProgramVersion] = text(record.programVersion);
    json[field::kState] = record.running ? field::kStateRunning : field::kStateFinished;
    json[field::kStartTime] = isoTime(record.start);
    json[field::kEndTime] = record.running ? ordered_json() : ordered_json(isoTime(record.end));
    json[field::kHostName] = textOrNull(record.hostName);
    json[field::kMachineId] = textOrNull(record.machineId);
    json[field::kProcessId] = record.processId;
    json[field::kConfigPath] = textOrNull(record.configPath);
    json[field::kConfigSha256] = textOrNull(record.configSha256);
    json[field::kLogPath] = textOrNull(record.logPath);
    json[field::kSetupTimeout] =
        record.setupTimeoutSeconds > 0 ? ordered_json(record.setupTimeoutSeconds) : ordered_json();
    json[field::kExitCode] = record.running ? ordered_json() : ordered_json(record.exitCode);
    json[field::kRefusal] = textOrNull(record.refusal);
    json[field::kStopRequest] = textOrNull(record.stopReason);
    ordered_json setups = ordered_json::object();
    setups[field::kFamilyVelt] = textOrNull(record.veltSetupPath);
    setups[field::kFamilyQx] = textOrNull(record.qxSetupPath);
    json[field::kSetupProgramsLocated] = record.setupsLocated;
    json[field::kSetupPrograms] = setups;
    ordered_json products = ordered_json::array();
    for (const ProductRecord& entry : record.products)
        products.push_back(productEntry(entry, record.dryRun));
    if (record.running) {
        ProductRecord pending;
        pending.outcome = ProductOutcome::Pending;
        for (size_t i = record.products.size(); i < record.plannedProducts.size(); ++i) {
            pending.product = record.plannedProducts[i];
            products.push_back(productEntry(pending, record.dryRun));
        }
    }
    json[field::kProducts] = products;
    if (record.dryRun) {
        json[field::kDryRun] = true;
        ordered_json findings = ordered_json::array();
        for (const ConfigFinding& finding : record.findings)
            findings.push_back(findingEntry(finding));
        json[field::kFindings] = findings;
    }
    return json.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

bool writeResultFile(const std::wstring& path, const RunRecord& record, std::wstring& error) {
    return writeFileAtomically(path, resultDocument(record), error);
}

}  // namespace velkaro
