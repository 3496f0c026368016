#include "engine/media_uninstaller.h"

#include <initializer_list>

#include "base/platform.h"
#include "support/file_utils.h"
#include "sysutil/process_launcher.h"
#include "sysutil/stop_request.h"

namespace velkaro {

namespace {

/// `base` followed by each part, each after one path separator.
std::wstring underFolder(std::wstring base, std::initializer_list<const wchar_t*> parts) {
    for (const wchar_t* part : parts) {
        base.push_back(zoka::os::pathSeparator());
        base.append(part);
    }
    return base;
}

/// A setup program counts as there unless the system says that nothing, or a folder, is at its
/// place. A place that cannot be examined is tried: a start that fails then fails the family's
/// products, where passing them over as not installed would end the run in success.
bool isProgramFile(const std::wstring& path) {
    return !zoka::os::pathMissing(path) && !zoka::os::isDirectory(path);
}

}  // namespace

MediaUninstaller::MediaUninstaller() {
    std::wstring path;
    if (zoka::getMakerCommonFilesFolder(path)) {
        path = underFolder(path, {L"ZOKA", L"Plimm", L"DrexCore", L"Setup.exe"});
        if (isProgramFile(path))
            veltSetupPath = path;
    }

    path.clear();
    if (zoka::getMakerCommonFilesFolder(path)) {
        path = underFolder(path, {L"Quenda Desktop Common", L"QXBox", L"Setup.exe"});
        if (isProgramFile(path)) {
            // The path goes along as an extra argument; the text has no place for it.
            logger.info(L"QX setup piciked from QXBox", path.c_str());
            qxSetupPath = path;
            return;
        }
    }
    if (zoka::getMakerProductFolder(path)) {
        path = underFolder(path, {L"QXCore", L"Setup.exe"});
        if (isProgramFile(path)) {
            logger.info(L"QX setup piciked from QX core", path.c_str());
            qxSetupPath = path;
        }
    }
}

MediaUninstaller::~MediaUninstaller() {
    if (!runFolder.created())
        return;
    std::wstring failedPath;
    if (!runFolder.remove(failedPath))
        logger.warn(L"Velkaro", L"Failed to delete temp file (%s) ...", runFolder.path().c_str());
}

bool MediaUninstaller::ensureTempFolder() {
    if (!runFolder.created())
        return runFolder.create();
    // A deleted folder is made again with the next file; a replaced one is never used.
    return runFolderIntact(false);
}

bool MediaUninstaller::runFolderIntact(bool gone) {
    if (gone ? runFolder.stillInPlace() : !runFolder.displaced())
        return true;
    // Someone who renamed the run folder away and put another in its place could read or
    // replace the parameter files a setup program reads.
    logger.error(L"",
                 L"The run folder %s is no longer the folder this run created: no setup "
                 L"program is started with files from it.",
                 runFolder.path().c_str());
    return false;
}

void MediaUninstaller::reportLeftovers(const std::wstring& setupPath,
                                       const UninstallProduct& product,
                                       const std::vector<korr::LeftoverProcess>& leftovers) {
    std::wstring list;
    for (const korr::LeftoverProcess& process : leftovers) {
        if (!list.empty())
            list += L", ";
        list += std::to_wstring(process.processId) + L" (" + process.name + L")";
    }
    logger.warn(L"Velkaro",
                L"The setup program %s for (%s/%s/%s) ended and left %d processes running: %s",
                setupPath.c_str(), product.sapCode.c_str(), product.baseVersion.c_str(),
                product.platform.c_str(), static_cast<int>(leftovers.size()), list.c_str());
}

bool MediaUninstaller::runSetup(const UninstallProduct& product, const std::wstring& setupPath,
                                const std::vector<std::wstring>& arguments, bool quoteProgramPath,
                                SetupVerdict (*verdictFor)(korr::LaunchResult, uint32_t),
                                bool& foundOnSystem) {
    const wchar_t* sapCode = product.sapCode.c_str();
    const wchar_t* baseVersion = product.baseVersion.c_str();
    const wchar_t* platform = product.platform.c_str();
    // Checked last before the start: the parameter file must be the one this run wrote.
    if (runFolder.created() && !runFolderIntact(true))
        return false;
    logger.info(L"Starting the setup program %s with the command line: %s", setupPath.c_str(),
                korr::buildCommandLine(setupPath, arguments, quoteProgramPath).c_str());

    korr::LaunchLimits limits;
    limits.timeoutSeconds = setupTimeoutSeconds;
    limits.waitForProcessTree = waitForProcessTree;
    limits.whileRunning = whileSetupRuns;
    limits.onStopRequest = [&](unsigned long processId) {
        logger.error(L"",
                     L"Stop requested (%s) while the setup program %s (process %d) removes "
                     L"(%s/%s/%s): waiting for it to end; a second request ends it.",
                     korr::stopRequestName(), setupPath.c_str(), static_cast<int>(processId),
                     sapCode, baseVersion, platform);
    };
    korr::LaunchDetails details;
    uint32_t exitCode = static_cast<uint32_t>(-1);
    const korr::LaunchResult launch = korr::runProcessAndWait(
        setupPath, arguments, exitCode, std::wstring(), quoteProgramPath, limits, &details);
    if (launch == korr::LAUNCH_TIMED_OUT) {
        logger.error(L"",
                     L"The setup program %s for (%s/%s/%s) ran longer than its limit of %d "
                     L"seconds: it was ended with every process it started.",
                     setupPath.c_str(), sapCode, baseVersion, platform,
                     static_cast<int>(setupTimeoutSeconds));
    } else if (launch == korr::LAUNCH_STOPPED) {
        logger.error(L"",
                     L"The setup program %s for (%s/%s/%s) was ended on a second stop request, "
                     L"with every process it started.",
                     setupPath.c_str(), sapCode, baseVersion, platform);
    }
    if (!details.leftovers.empty())
        reportLeftovers(setupPath, product, details.leftovers);
    const SetupVerdict verdict = verdictFor(launch, exitCode);
    int code = signedExitCode(exitCode);
    if (verdict.level == zoka::LEVEL_ERROR)
        logger.error(L"", verdict.message, code);
    else
        logger.info(verdict.message, code);

    if (launchRecord != nullptr) {
        launchRecord->launched = true;
        launchRecord->launchResult = launch;
        launchRecord->hasExitCode = launch == korr::LAUNCH_OK;
        launchRecord->exitCode = launch == korr::LAUNCH_OK ? code : 0;
        launchRecord->timedOut = launch == korr::LAUNCH_TIMED_OUT;
        launchRecord->leftoverProcesses = static_cast<int>(details.leftovers.size());
        launchRecord->seconds = details.seconds;
    }

    switch (verdict.outcome) {
        case RemovalOutcome::Removed:
            return true;
        case RemovalOutcome::NotInstalled:
            foundOnSystem = false;
            return true;
        case RemovalOutcome::Failed:
            break;
    }
    return false;
}

}  // namespace velkaro
