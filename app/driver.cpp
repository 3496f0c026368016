#include "app/driver.h"

#include <algorithm>
#include <chrono>
#include <functional>

#include "app/atomic_file.h"
#include "app/digest.h"
#include "app/dry_run.h"
#include "app/option_parser.h"
#include "app/program.h"
#include "app/report.h"
#include "app/result_file.h"
#include "app/startup.h"
#include "base/platform.h"
#include "config/product_uninstaller.h"
#include "logging/log_target.h"
#include "logging/logger.h"
#include "logging/registry.h"
#include "support/console.h"
#include "support/xml_parser.h"
#include "sysutil/admin.h"
#include "sysutil/lock.h"
#include "sysutil/stop_request.h"
#include "sysutil/temp_folder.h"

namespace velkaro {
namespace {

using resultformat::Refusal;
using zoka::console::err;
using zoka::console::out;

void openingBanner(zoka::Logger& logger) {
    logger.info(L"\n");
    logger.info(kBannerLine);
    logger.info(kBannerLine);
    logger.info(L"Launching the %s...", kProgramName);
    logger.info(L"%s version is : %s", kProgramName, kProgramVersion);
    out({kProgramName, L" version is : ", kProgramVersion});
}

void closingBanner(zoka::Logger& logger, int returnCode) {
    logger.info(kBannerLine);
    logger.info(L"Ending the %s Return Code (%d)", kProgramName, returnCode);
    logger.info(kBannerLine);
    logger.info(kBannerLine);
    logger.info(L"\n");
}

/// What the options and the run leave for the results file.
struct RunState {
    RunRecord record;
    std::wstring resultFile;  ///< empty: none asked for, or refused at the start
    std::wstring configPath;  ///< the two files the results file must never replace
    std::wstring logPath;
    bool strict = false;
    bool usageShown = false;  ///< asked for help: no exit line
    bool waitForProcessTree = false;
};

constexpr wchar_t kResultFileOption[] = L"--resultFile=";
constexpr wchar_t kConfigPathOption[] = L"--uninstallConfigPath=";

/// The words joined for the log, each quoted when it holds a blank or is empty.
std::wstring commandLineText(const std::vector<std::wstring>& words) {
    std::wstring text;
    for (const std::wstring& word : words) {
        if (!text.empty())
            text += L' ';
        if (word.empty() || word.find_first_of(L" \t") != std::wstring::npos)
            text += L'"' + word + L'"';
        else
            text += word;
    }
    return text;
}

/// The value of the last word with this option's prefix, for a refusal that comes before the
/// options are parsed.
std::wstring lastOptionValue(const std::vector<std::wstring>& words, const wchar_t* option) {
    std::wstring value;
    const size_t prefix = std::char_traits<wchar_t>::length(option);
    for (size_t i = 1; i < words.size(); ++i) {
        if (words[i].compare(0, prefix, option) == 0)
            value = words[i].substr(prefix);
    }
    return value;
}

/// The configuration beside the executable when none is named.
std::wstring defaultConfigPath() {
    std::wstring folder;
    if (!getExecutableFolder(folder))
        return std::wstring();
    return folder + zoka::os::pathSeparator() + kDefaultConfigFileName;
}

/// Says that another user's entry at the results path was moved out of the way, so that nobody
/// takes it for this run's.
void reportMovedAside(zoka::Logger* logger, const std::wstring& path, const std::wstring& aside) {
    if (aside.empty())
        return;
    if (logger != nullptr)
        logger->error(L"", L"The results path %s held another user's entry: moved aside to %s.",
                      path.c_str(), aside.c_str());
    err({L"The results path ", path, L" held another user's entry: moved aside to ", aside, L"."});
}

/// Without `flush` (the copies refreshed during the run) the file is not forced to disk: what a
/// killed run leaves is there all the same, and the final file is flushed.
bool writeResults(zoka::Logger* logger, const RunState& state, std::wstring& error,
                  bool flush = true) {
    const std::wstring& path = state.resultFile;
    const struct {
        const std::wstring& file;
        const wchar_t* what;
    } kept[] = {{state.configPath, L"the configuration"}, {state.logPath, L"the log"}};
    for (const auto& other : kept) {
        if (!other.file.empty() && (path == other.file || sameExistingFile(path, other.file))) {
            error = std::wstring(L"it names ") + other.what + L" (" + other.file + L")";
            return false;
        }
    }
    // A passing fault (an interrupted or refused call, a busy disk) must not decide what the
    // file says, nor refuse a run: a failed write is tried once more, with a new temporary file.
    const std::string document = resultDocument(state.record);
    std::wstring aside;
    bool written = writeFileAtomically(path, document, error, &aside, flush);
    reportMovedAside(logger, path, aside);
    if (!written) {
        aside.clear();
        written = writeFileAtomically(path, document, error, &aside, flush);
        reportMovedAside(logger, path, aside);
    }
    return written;
}

/// Writes the results file at the end; a failure is reported but changes no exit code.
void finishResults(zoka::Logger* logger, const RunState& state) {
    const std::wstring& path = state.resultFile;
    std::wstring error;
    if (writeResults(logger, state, error)) {
        if (logger != nullptr)
            logger->info(L"Results written to %s", path.c_str());
        return;
    }
    if (logger != nullptr)
        logger->error(L"", L"Failed to write the results file %s: %s", path.c_str(), error.c_str());
    err({L"Failed to write the results file ", path, L" : ", error});
}

/// Writes the results file as "running" before anything is removed, so that a run killed later
/// leaves its own start behind, never an older run's outcome. False, after saying why, when it
/// cannot be written: then nothing may be removed.
bool startResults(zoka::Logger& logger, RunState& state) {
    std::wstring error;
    state.record.running = true;
    const bool written = writeResults(&logger, state, error);
    state.record.running = false;
    if (written)
        return true;
    const std::wstring& path = state.resultFile;
    logger.error(L"", L"The results file %s cannot be written: %s. Nothing was started.",
                 path.c_str(), error.c_str());
    err({L"The results file ", path, L" cannot be written: ", error, L". Nothing was started."});
    state.record.refusal = refusalWord(Refusal::ResultFileUnwritable);
    state.resultFile.clear();
    return false;
}

/// A refusal after the configuration was accepted: the results file lists its products (the
/// loaded ones, else read quietly now) as not attempted.
void recordNotAttempted(RunState& state, const ProductSet* loaded = nullptr) {
    if (state.resultFile.empty())
        return;
    ProductSet products;
    if (loaded != nullptr)
        products = *loaded;
    else if (!readConfigProducts(state.configPath, products))
        return;
    state.record.products.clear();
    for (const UninstallProduct& product : products) {
        ProductRecord entry;
        entry.product = product;
        entry.outcome = ProductOutcome::NotAttempted;
        state.record.products.push_back(entry);
    }
}

void parameterFailure(zoka::Logger& logger) {
    logger.error(L"", L"Missing or Incorrect parameters.");
    err({L"Missing or Incorrect parameters."});
    printUsage();
}

/// The refusal of a run that found another instance running: the results file is that
/// instance's, so nothing is written to it; only another user's entry there is moved aside.
void leaveResultsToRunningInstance(zoka::Logger& logger, RunState& state) {
    const std::wstring path = state.resultFile;
    state.resultFile.clear();
    if (path.empty())
        return;
    std::wstring aside, error;
    if (!moveForeignEntryAside(path, aside, error))
        logger.error(L"", L"The results path %s was not checked: %s", path.c_str(), error.c_str());
    reportMovedAside(&logger, path, aside);
    logger.info(L"The results file %s was left to the running instance.", path.c_str());
    err({L"The results file ", path, L" was left to the running instance."});
}

/// Refreshes the running results file as products are handled, so that a run killed later
/// shows what it had done; a failure is said once and does not stop the run. The file is
/// written while the next setup program runs, not between products, so a run waits for it
/// only at its end. It is written at most once a second (and never for more than a tenth of the
/// run): products handled meanwhile are gathered into the next write.
class ProgressWriter {
public:
    ProgressWriter(zoka::Logger& logger, RunState& state) : logger_(logger), state_(state) {}
    void productHandled() { unwritten_ = true; }
    void setupRuns() {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point now = Clock::now();
        if (state_.resultFile.empty() || failed_ || !unwritten_ || now < next_)
            return;
        unwritten_ = false;
        state_.record.running = true;
        std::wstring error;
        failed_ = !writeResults(&logger_, state_, error, false);
        state_.record.running = false;
        if (failed_)
            logger_.error(L"", L"Failed to update the results file %s: %s",
                          state_.resultFile.c_str(), error.c_str());
        next_ = now + std::max<Clock::duration>(std::chrono::seconds(1), (Clock::now() - now) * 10);
    }

private:
    zoka::Logger& logger_;
    RunState& state_;
    bool failed_ = false;
    bool unwritten_ = false;
    std::chrono::steady_clock::time_point next_;
};

// Takes the single-instance lock and, holding it, loads the configuration and runs the removal.
// The results file is first written under the lock: another instance never touches it.
int runLocked(zoka::Logger& logger, const std::wstring& configPath, RunState& state) {
    RunRecord& record = state.record;
    korr::VRXSemaphoreLock instanceLock(kInstanceLockName);
    // A lock taken by another instance between the question and the attempt is that instance's.
    const bool lockedByOther =
        instanceLock.isLockedByOther() || (!instanceLock.lock() && instanceLock.isLockedByOther());
    if (lockedByOther) {
        logger.error(L"", L"Another instance of %s is already running.", kProgramName);
        err({L"Another instance of ", kProgramName, L" is already running."});
        record.refusal = refusalWord(Refusal::AnotherInstance);
        leaveResultsToRunningInstance(logger, state);
        return 1;
    }
    if (!instanceLock.lock()) {
        logger.error(L"", L"Failed to acquire the %s lock.", kProgramName);
        record.refusal = refusalWord(Refusal::LockFailed);
        recordNotAttempted(state);
        return 1;
    }
    // Run folders of runs that were killed: their owner is gone, so nobody else uses them.
    for (const korr::StaleRunFolder& stale : korr::removeStaleRunFolders()) {
        if (stale.removed) {
            logger.info(
                L"Removed the run folder %s left by an earlier run (process %d) that no "
                L"longer runs.",
                stale.path.c_str(), static_cast<int>(stale.processId));
        } else {
            logger.warn(L"Velkaro",
                        L"Could not remove the run folder %s left by an earlier run (process "
                        L"%d): %s could not be deleted; it is tried again at the next run.",
                        stale.path.c_str(), static_cast<int>(stale.processId),
                        stale.failedPath.c_str());
        }
    }
    ProductUninstaller uninstaller;
    uninstaller.setupTimeoutSeconds = record.setupTimeoutSeconds;
    uninstaller.waitForProcessTree = state.waitForProcessTree;
    bool loaded = false;
    std::vector<ConfigFinding> findings;
    {
        // The loader reports its own failures; --strict checks the same document.
        zoka::XMLParser parser;
        loaded = uninstaller.loadUninstallConfig(configPath, parser);
        if (state.strict)
            findings = checkLoadedConfig(parser, configPath);
    }
    // Written before anything is removed, with every product the run is about to handle.
    if (loaded) {
        record.plannedProducts.assign(uninstaller.productsToRemove.begin(),
                                      uninstaller.productsToRemove.end());
    }
    if (!state.resultFile.empty() && !startResults(logger, state))
        return 1;
    if (!findings.empty()) {
        printConfigCheck(logger, findings, false);
        record.refusal =
            loaded ? refusalWord(Refusal::ConfigInvalid) : refusalWord(Refusal::ConfigUnloadable);
        if (loaded)
            recordNotAttempted(state, &uninstaller.productsToRemove);
        return 1;
    }
    if (!loaded) {
        record.refusal = refusalWord(Refusal::ConfigUnloadable);
        return 1;
    }
    ProgressWriter progress(logger, state);
    uninstaller.onProductHandled = [&progress] { progress.productHandled(); };
    uninstaller.whileSetupRuns = [&progress] { progress.setupRuns(); };
    printProductListing(logger, uninstaller.productsToRemove);
    int returnCode = uninstaller.uninstallProducts(&record) ? 0 : 2;
    if (korr::stopRequestCount() > 0) {
        // A stopped run never reads as a success.
        const bool attempted = !uninstaller.removedProducts.empty() ||
                               !uninstaller.failedProducts.empty() ||
                               !uninstaller.notFoundProducts.empty();
        returnCode = attempted ? 2 : 1;
        record.stopReason = korr::stopRequestName();
        if (!attempted)
            record.refusal = refusalWord(Refusal::Interrupted);
        logger.error(L"", L"The run was stopped by a stop request (%s).",
                     record.stopReason.c_str());
    }
    printRunSummary(logger, uninstaller, record.stopReason);
    return returnCode;
}

// Everything after the log is open; the caller writes the closing banner.
int runLogged(zoka::Logger& logger, std::vector<std::wstring>& words, RunState& state) {
    openingBanner(logger);
    logger.info(L"Command line: %s", commandLineText(words).c_str());

    // The parser edits and reorders the words in place.
    std::vector<wchar_t*> argv;
    argv.reserve(words.size());
    for (std::wstring& word : words)
        argv.push_back(word.data());

    std::wstring configPath;
    bool parseFailed = false;
    bool helpAsked = false;
    bool dryRun = false;
    OptionParser parser;
    parser.init(static_cast<int>(argv.size()), argv.data());
    // Every option is read, so that what comes after an error (the results file) does not
    // depend on the order; whichever of help and the first error came first decides.
    const auto optionError = [&](int code) {
        if (parseFailed || helpAsked)
            return;
        const wchar_t* text = parser.optionText();
        err({parseErrorText(code), L" : ", text != nullptr ? text : L""});
        parseFailed = true;
    };
    while (parser.next()) {
        const wchar_t* argument = parser.optionArg();
        if (parser.lastError() != PARSE_OK) {
            optionError(parser.lastError());
        } else if (parser.optionId() == OPTION_HELP) {
            helpAsked = helpAsked || !parseFailed;
        } else if (parser.optionId() == OPTION_CONFIG_PATH) {
            configPath = argument != nullptr ? argument : L"";
        } else if (parser.optionId() == OPTION_SETUP_TIMEOUT) {
            if (!parseSetupTimeout(argument, state.record.setupTimeoutSeconds))
                optionError(BadArgumentData);
        } else if (parser.optionId() == OPTION_RESULT_FILE) {
            if (argument == nullptr || *argument == L'\0')
                optionError(BadArgumentData);
            else
                state.resultFile = argument;
        } else if (parser.optionId() == OPTION_DRY_RUN) {
            dryRun = true;
        } else if (parser.optionId() == OPTION_STRICT) {
            state.strict = true;
        } else if (parser.optionId() == OPTION_WAIT_FOR_PROCESS_TREE) {
            state.waitForProcessTree = true;
        }
    }
    if (helpAsked) {
        logger.info(L"Commandline syntax help was asked. Returning ...");
        printUsage();
        state.usageShown = true;
        return 0;
    }

    out({L"Starting the ", kProgramName, L"..."});
    out({L""});

    RunRecord& record = state.record;
    if (parser.leftoverCount() > 0 || parseFailed) {
        record.refusal = refusalWord(Refusal::BadCommandLine);
        parameterFailure(logger);
        return 1;
    }

    if (configPath.empty())
        configPath = defaultConfigPath();
    record.configPath = configPath;
    state.configPath = configPath;
    if (!zoka::os::pathExists(configPath) || zoka::os::isDirectory(configPath)) {
        logger.error(L"", L"Missing UninstallConfig (%s)", configPath.c_str());
        err({L"Missing UninstallConfig : ", configPath});
        record.refusal = refusalWord(Refusal::ConfigMissing);
        parameterFailure(logger);
        return 1;
    }
    logger.info(L"Configuration in use: %s", configPath.c_str());

    record.configSha256 = fileSha256(configPath);

    // Checks and shows only: no administrator right, no lock, nothing started.
    if (dryRun) {
        if (!state.resultFile.empty() && !startResults(logger, state))
            return 1;
        return runDryRun(logger, configPath, &record);
    }

    if (!korr::_utilIsUserAdmin()) {
        if (!state.resultFile.empty() && !startResults(logger, state))
            return 1;
        logger.error(L"", L"%s not launched with Admin privileges.", kProgramName);
        out({L""});
        out({kProgramName, L" not launched with Admin privileges."});
        record.refusal = refusalWord(Refusal::NotAdministrator);
        recordNotAttempted(state);
        return 1;
    }

    return runLocked(logger, configPath, state);
}

void exitLine(int returnCode) {
    const std::wstring code = std::to_wstring(returnCode);
    zoka::console::line(returnCode == 0 ? zoka::console::Stream::Out : zoka::console::Stream::Err,
                        {kProgramName, L" exiting with Return Code (", code, L")"});
}

}  // namespace

int runVelkaro(std::vector<std::wstring> words) {
    ensureStandardStreams();
    initializeCom();
    // Before anything that could be left half done: from here a stop request is a question the
    // run asks, no longer the end of the process.
    korr::installStopHandlers();
    RunState state;
    state.record.start = std::chrono::system_clock::now();
    state.record.programVersion = kProgramVersion;
    state.record.hostName = hostName();
    state.record.machineId = machineId();
    state.record.processId = processId();

    std::wstring tempFolder;
    std::wstring tempFolderProblem;
    if (!getTempFolder(tempFolder, tempFolderProblem)) {
        // No log can exist without the folder: the console and the results file are all there is.
        if (!tempFolderProblem.empty())
            err({tempFolderProblem});
        err({L"The temporary folder is not available and cannot be created."});
        state.record.refusal = refusalWord(Refusal::TempFolderUnavailable);
        state.record.exitCode = 1;
        state.record.end = std::chrono::system_clock::now();
        state.resultFile = lastOptionValue(words, kResultFileOption);
        state.configPath = lastOptionValue(words, kConfigPathOption);
        if (state.configPath.empty())
            state.configPath = defaultConfigPath();
        if (!state.resultFile.empty())
            finishResults(nullptr, state);
        exitLine(1);
        korr::stopHandlingDone();
        return 1;
    }

    // Declared before the logger, so the target outlives every line the logger writes.
    zoka::LogTargetDefault target(kProgramName);
    // Whatever keeps the log from its place, or lines from the log, is said at once.
    target.onNotice = [](const std::wstring& text) { err({text}); };
    // A failure has been told through onNotice: the run goes on without a log.
    if (target.setFile(kLogFileName, tempFolder.c_str()))
        zoka::LogTargetRegistry::instance().addTarget(&target);
    // Kept apart from the results file, which must never replace it.
    state.logPath = target.filePath;
    state.record.logPath = target.writtenPath();
    zoka::Logger logger;
    const zoka::LibraryLogDetail libraryDetail(logger, target.threshold);

    const int returnCode = runLogged(logger, words, state);
    state.record.logPath = target.writtenPath();
    if (!state.resultFile.empty()) {
        state.record.exitCode = returnCode;
        state.record.end = std::chrono::system_clock::now();
        finishResults(&logger, state);
    }
    // The exit line stays the console's last: the closing banner goes first, and a log line
    // that fails after it is no longer told on the console.
    closingBanner(logger, returnCode);
    if (!state.usageShown)
        exitLine(returnCode);
    target.onNotice = nullptr;
    korr::stopHandlingDone();
    return returnCode;
}

}  // namespace velkaro
