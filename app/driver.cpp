#include "app/driver.h"

#include <chrono>

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
#include "sysutil/admin.h"
#include "sysutil/lock.h"
#include "sysutil/stop_request.h"

namespace velkaro {
namespace {

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
    std::wstring resultFile;  ///< empty: none asked for
    uint32_t setupTimeoutSeconds = 0;
};

constexpr wchar_t kResultFileOption[] = L"--resultFile=";

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

/// The last "--resultFile=" word, for a refusal that comes before the options are parsed.
std::wstring resultFileWord(const std::vector<std::wstring>& words) {
    std::wstring path;
    const size_t prefix = std::char_traits<wchar_t>::length(kResultFileOption);
    for (size_t i = 1; i < words.size(); ++i) {
        if (words[i].compare(0, prefix, kResultFileOption) == 0)
            path = words[i].substr(prefix);
    }
    return path;
}

/// Writes the results file; a failure is reported but changes no exit code.
void writeResults(zoka::Logger* logger, const std::wstring& path, const RunRecord& record) {
    std::wstring error;
    if (writeResultFile(path, record, error)) {
        if (logger != nullptr)
            logger->info(L"Results written to %s", path.c_str());
        return;
    }
    if (logger != nullptr)
        logger->error(L"", L"Failed to write the results file %s: %s", path.c_str(), error.c_str());
    err({L"Failed to write the results file ", path, L" : ", error});
}

void parameterFailure(zoka::Logger& logger) {
    logger.error(L"", L"Missing or Incorrect parameters.");
    err({L"Missing or Incorrect parameters."});
    printUsage();
}

// Takes the single-instance lock and, holding it, loads the configuration and runs the removal.
int runLocked(zoka::Logger& logger, const std::wstring& configPath, RunState& state) {
    RunRecord& record = state.record;
    korr::VRXSemaphoreLock instanceLock(kInstanceLockName);
    if (instanceLock.isLockedByOther()) {
        logger.error(L"", L"Another instance of %s is already running.", kProgramName);
        err({L"Another instance of ", kProgramName, L" is already running."});
        record.refusal = L"anotherInstance";
        return 1;
    }
    if (!instanceLock.lock()) {
        logger.error(L"", L"Failed to acquire the %s lock.", kProgramName);
        record.refusal = L"lockFailed";
        return 1;
    }
    ProductUninstaller uninstaller;
    uninstaller.setupTimeoutSeconds = state.setupTimeoutSeconds;
    // The loader reports its own failures.
    if (!uninstaller.loadUninstallConfig(configPath)) {
        record.refusal = L"configUnloadable";
        return 1;
    }
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
            record.refusal = L"interrupted";
        logger.error(L"", L"The run was stopped by a stop request (%s).",
                     record.stopReason.c_str());
    }
    printRunSummary(logger, uninstaller);
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
    bool dryRun = false;
    OptionParser parser;
    parser.init(static_cast<int>(argv.size()), argv.data());
    const auto optionError = [&](int code) {
        const wchar_t* text = parser.optionText();
        err({parseErrorText(code), L" : ", text != nullptr ? text : L""});
        parser.stop();
        parseFailed = true;
    };
    while (!parseFailed && parser.next()) {
        const wchar_t* argument = parser.optionArg();
        if (parser.lastError() != PARSE_OK) {
            optionError(parser.lastError());
        } else if (parser.optionId() == OPTION_HELP) {
            logger.info(L"Commandline syntax help was asked. Returning ...");
            printUsage();
            return 0;
        } else if (parser.optionId() == OPTION_CONFIG_PATH) {
            configPath = argument != nullptr ? argument : L"";
        } else if (parser.optionId() == OPTION_SETUP_TIMEOUT) {
            if (!parseSetupTimeout(argument, state.setupTimeoutSeconds))
                optionError(BadArgumentData);
        } else if (parser.optionId() == OPTION_RESULT_FILE) {
            if (argument == nullptr || *argument == L'\0')
                optionError(BadArgumentData);
            else
                state.resultFile = argument;
        } else if (parser.optionId() == OPTION_DRY_RUN) {
            dryRun = true;
        }
    }

    out({L"Starting the ", kProgramName, L"..."});
    out({L""});

    const auto exitLine = [](int returnCode) {
        const std::wstring code = std::to_wstring(returnCode);
        zoka::console::line(
            returnCode == 0 ? zoka::console::Stream::Out : zoka::console::Stream::Err,
            {kProgramName, L" exiting with Return Code (", code, L")"});
        return returnCode;
    };

    RunRecord& record = state.record;
    if (parser.leftoverCount() > 0 || parseFailed) {
        record.refusal = L"badCommandLine";
        parameterFailure(logger);
        return exitLine(1);
    }

    std::wstring folder;
    if (configPath.empty() && getExecutableFolder(folder))
        configPath = folder + zoka::os::pathSeparator() + kDefaultConfigFileName;
    record.configPath = configPath;
    if (!zoka::os::pathExists(configPath) || zoka::os::isDirectory(configPath)) {
        logger.error(L"", L"Missing UninstallConfig (%s)", configPath.c_str());
        err({L"Missing UninstallConfig : ", configPath});
        record.refusal = L"configMissing";
        parameterFailure(logger);
        return exitLine(1);
    }
    logger.info(L"Configuration in use: %s", configPath.c_str());

    // Checks and shows only: no administrator right, no lock, nothing started.
    if (dryRun)
        return exitLine(runDryRun(logger, configPath, &record));

    if (!korr::_utilIsUserAdmin()) {
        logger.error(L"", L"%s not launched with Admin privileges.", kProgramName);
        out({L""});
        out({kProgramName, L" not launched with Admin privileges."});
        record.refusal = L"notAdministrator";
        return exitLine(1);
    }

    return exitLine(runLocked(logger, configPath, state));
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

    std::wstring tempFolder;
    if (!getTempFolder(tempFolder)) {
        // No log can exist without the folder: the console and the results file are all there is.
        err({L"The temporary folder is not available and cannot be created."});
        state.record.refusal = L"tempFolderUnavailable";
        state.record.exitCode = 1;
        state.record.end = std::chrono::system_clock::now();
        const std::wstring resultFile = resultFileWord(words);
        if (!resultFile.empty())
            writeResults(nullptr, resultFile, state.record);
        korr::stopHandlingDone();
        return 1;
    }

    // Declared before the logger, so the target outlives every line the logger writes.
    zoka::LogTargetDefault target(kProgramName);
    target.setFile(kLogFileName, tempFolder.c_str());
    zoka::LogTargetRegistry::instance().addTarget(&target);
    zoka::Logger logger;
    const zoka::LibraryLogDetail libraryDetail(logger, target.threshold);

    const int returnCode = runLogged(logger, words, state);
    if (!state.resultFile.empty()) {
        state.record.exitCode = returnCode;
        state.record.end = std::chrono::system_clock::now();
        writeResults(&logger, state.resultFile, state.record);
    }
    closingBanner(logger, returnCode);
    korr::stopHandlingDone();
    return returnCode;
}

}  // namespace velkaro
