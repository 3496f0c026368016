#include "app/result_file.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "app/atomic_file.h"
#include "app/program.h"
#include "base/unicode.h"
#include "sysutil/process_launcher.h"

namespace velkaro {

namespace {

using nlohmann::ordered_json;

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
    json["family"] = product.family == VELT ? "VELT" : "QX";
    json["SapCode"] = text(product.sapCode);
    json["Version"] = text(product.version);
    json["Platform"] = text(product.platform);
    json["BaseVersion"] = text(product.baseVersion);
    json["outcome"] = outcomeWord(entry.outcome);
    json["exitCode"] = entry.hasExitCode ? ordered_json(entry.exitCode) : ordered_json();
    json["launchResult"] =
        entry.launched ? ordered_json(launchResultWord(entry.launchResult)) : ordered_json();
    json["timedOut"] = entry.timedOut;
    json["leftoverProcesses"] = entry.leftoverProcesses;
    // Milliseconds are precise enough, and keep the number short.
    json["seconds"] = static_cast<double>(static_cast<int64_t>(entry.seconds * 1000 + 0.5)) / 1000;
    if (dryRun)
        json["commandLine"] = textOrNull(entry.commandLine);
    return json;
}

const char* findingWord(FindingKind kind) {
    switch (kind) {
        case FindingKind::NotLoadable:
            return "notLoadable";
        case FindingKind::WrongRoot:
            return "wrongRoot";
        case FindingKind::UnknownElement:
            return "unknownElement";
        case FindingKind::MissingValue:
            return "missingValue";
        case FindingKind::EmptyValue:
            return "emptyValue";
        case FindingKind::DuplicateProduct:
        default:
            return "duplicateProduct";
    }
}

ordered_json placeEntry(const ElementPlace& place) {
    ordered_json json;
    json["path"] = textOrNull(place.path);
    json["line"] = place.line > 0 ? ordered_json(place.line) : ordered_json();
    return json;
}

ordered_json findingEntry(const ConfigFinding& finding) {
    ordered_json json;
    json["kind"] = findingWord(finding.kind);
    json["element"] = textOrNull(finding.element);
    json["place"] = placeEntry(finding.place);
    if (finding.kind == FindingKind::DuplicateProduct)
        json["firstPlace"] = placeEntry(finding.firstPlace);
    json["text"] = text(findingText(finding));
    return json;
}

}  // namespace

const char* outcomeWord(ProductOutcome outcome) {
    switch (outcome) {
        case ProductOutcome::Removed:
            return "removed";
        case ProductOutcome::NotFound:
            return "notFound";
        case ProductOutcome::Failed:
            return "failed";
        case ProductOutcome::Ignored:
            return "ignored";
        case ProductOutcome::NotAttempted:
        default:
            return "notAttempted";
    }
}

const char* launchResultWord(int launchResult) {
    switch (launchResult) {
        case korr::LAUNCH_OK:
            return "ok";
        case korr::LAUNCH_NOT_STARTED:
            return "notStarted";
        case korr::LAUNCH_CREATE_FAILED:
            return "createFailed";
        case korr::LAUNCH_NO_EXIT_CODE:
            return "noExitCode";
        case korr::LAUNCH_TIMED_OUT:
            return "timedOut";
        case korr::LAUNCH_STOPPED:
            return "stopped";
        default:
            return "unknown";
    }
}

std::string resultDocument(const RunRecord& record) {
    ordered_json json;
    json["formatVersion"] = kResultFormatVersion;
    json["program"] = text(kProgramName);
    json["programVersion"] = text(record.programVersion);
    json["state"] = record.running ? "running" : "finished";
    json["startTime"] = isoTime(record.start);
    json["endTime"] = record.running ? ordered_json() : ordered_json(isoTime(record.end));
    json["hostName"] = textOrNull(record.hostName);
    json["processId"] = record.processId;
    json["configPath"] = textOrNull(record.configPath);
    json["logPath"] = textOrNull(record.logPath);
    json["setupTimeout"] =
        record.setupTimeoutSeconds > 0 ? ordered_json(record.setupTimeoutSeconds) : ordered_json();
    json["exitCode"] = record.running ? ordered_json() : ordered_json(record.exitCode);
    json["refusal"] = textOrNull(record.refusal);
    json["stopRequest"] = textOrNull(record.stopReason);
    ordered_json setups = ordered_json::object();
    setups["VELT"] = textOrNull(record.veltSetupPath);
    setups["QX"] = textOrNull(record.qxSetupPath);
    json["setupProgramsLocated"] = record.setupsLocated;
    json["setupPrograms"] = setups;
    ordered_json products = ordered_json::array();
    for (const ProductRecord& entry : record.products)
        products.push_back(productEntry(entry, record.dryRun));
    json["products"] = products;
    if (record.dryRun) {
        json["dryRun"] = true;
        ordered_json findings = ordered_json::array();
        for (const ConfigFinding& finding : record.findings)
            findings.push_back(findingEntry(finding));
        json["findings"] = findings;
    }
    return json.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

bool writeResultFile(const std::wstring& path, const RunRecord& record, std::wstring& error) {
    return writeFileAtomically(path, resultDocument(record), error);
}

}  // namespace velkaro
