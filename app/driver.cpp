#include "app/driver.h"

#include "app/dry_run.h"
#include "app/option_parser.h"
#include "app/program.h"
#include "app/report.h"
#include "app/startup.h"
#include "config/product_uninstaller.h"
#include "logging/log_target.h"
#include "logging/logger.h"
#include "logging/registry.h"
#include "support/console.h"
#include "support/platform.h"
#include "sysutil/admin.h"
#include "sysutil/lock.h"

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

void parameterFailure(zoka::Logger& logger) {
    logger.error(L"", L"Missing or Incorrect parameters.");
    err({L"Missing or Incorrect parameters."});
    printUsage();
}

// Takes the single-instance lock and, holding it, loads the configuration and runs the removal.
int runLocked(zoka::Logger& logger, const std::wstring& configPath) {
    korr::VRXSemaphoreLock instanceLock(kInstanceLockName);
    if (instanceLock.isLockedByOther()) {
        logger.error(L"", L"Another instance of %s is already running.", kProgramName);
        return 1;
    }
    if (!instanceLock.lock()) {
        logger.error(L"", L"Failed to acquire the %s lock.", kProgramName);
        return 1;
    }
    ProductUninstaller uninstaller;
    // The loader reports its own failures.
    if (!uninstaller.loadUninstallConfig(configPath))
        return 1;
    printProductListing(logger, uninstaller.productsToRemove);
    const int returnCode = uninstaller.uninstallProducts() ? 0 : 2;
    printRunSummary(logger, uninstaller);
    return returnCode;
}

// Everything after the log is open; the caller writes the closing banner.
int runLogged(zoka::Logger& logger, std::vector<std::wstring>& words) {
    openingBanner(logger);

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
    while (!parseFailed && parser.next()) {
        if (parser.lastError() != PARSE_OK) {
            const wchar_t* text = parser.optionText();
            err({parseErrorText(parser.lastError()), L" : ", text != nullptr ? text : L""});
            parser.stop();
            parseFailed = true;
        } else if (parser.optionId() == OPTION_HELP) {
            logger.info(L"Commandline syntax help was asked. Returning ...");
            printUsage();
            return 0;
        } else if (parser.optionId() == OPTION_CONFIG_PATH) {
            const wchar_t* argument = parser.optionArg();
            configPath = argument != nullptr ? argument : L"";
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

    if (parser.leftoverCount() > 0 || parseFailed) {
        parameterFailure(logger);
        return exitLine(1);
    }

    std::wstring folder;
    if (configPath.empty() && getExecutableFolder(folder))
        configPath = folder + zoka::os::pathSeparator() + kDefaultConfigFileName;
    if (!zoka::os::pathExists(configPath) || zoka::os::isDirectory(configPath)) {
        logger.error(L"", L"Missing UninstallConfig (%s)", configPath.c_str());
        err({L"Missing UninstallConfig : ", configPath});
        parameterFailure(logger);
        return exitLine(1);
    }

    // Checks and shows only: no administrator right, no lock, nothing started.
    if (dryRun)
        return exitLine(runDryRun(logger, configPath));

    if (!korr::_utilIsUserAdmin()) {
        logger.error(L"", L"%s not launched with Admin privileges.", kProgramName);
        out({L""});
        out({kProgramName, L" not launched with Admin privileges."});
        return exitLine(1);
    }

    return exitLine(runLocked(logger, configPath));
}

}  // namespace

int runVelkaro(std::vector<std::wstring> words) {
    ensureStandardStreams();
    initializeCom();
    std::wstring tempFolder;
    if (!getTempFolder(tempFolder))
        return 1;

    // Declared before the logger, so the target outlives every line the logger writes.
    zoka::LogTargetDefault target(kProgramName);
    target.setFile(kLogFileName, tempFolder.c_str());
    zoka::LogTargetRegistry::instance().addTarget(&target);
    zoka::Logger logger;

    const int returnCode = runLogged(logger, words);
    closingBanner(logger, returnCode);
    return returnCode;
}

}  // namespace velkaro
