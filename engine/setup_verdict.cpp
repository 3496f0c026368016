#include "engine/setup_verdict.h"

namespace velkaro {

namespace {

struct LaunchFailureTexts {
    const wchar_t* notStarted;
    const wchar_t* createFailed;
    const wchar_t* noExitCode;
};

// Launch failures are mapped alike for both families; only the program's name differs.
SetupVerdict launchFailure(korr::LaunchResult launch, const LaunchFailureTexts& texts) {
    switch (launch) {
        case korr::LAUNCH_CREATE_FAILED:
            return {RemovalOutcome::Failed, zoka::LEVEL_ERROR, texts.createFailed};
        case korr::LAUNCH_NO_EXIT_CODE:
            return {RemovalOutcome::Failed, zoka::LEVEL_ERROR, texts.noExitCode};
        case korr::LAUNCH_NOT_STARTED:
        default:
            // An unknown result never counts as a success.
            return {RemovalOutcome::Failed, zoka::LEVEL_ERROR, texts.notStarted};
    }
}

}  // namespace

SetupVerdict veltSetupVerdict(korr::LaunchResult launch, uint32_t exitCode) {
    if (launch != korr::LAUNCH_OK) {
        return launchFailure(
            launch,
            {L"Failed to launch the VELT Setup process.Stopping the uninstallation process.",
             L"Failed to create the VELT Setup process.Stopping the uninstallation process.",
             L"Failed to get the return code of the VELT Setup process.Stopping the "
             L"uninstallation process."});
    }
    switch (exitCode) {
        case 0:
            return {RemovalOutcome::Removed, zoka::LEVEL_INFO,
                    L"The return code from the Quenda Installer Process is "
                    L"(%d).Uninstallation successful."};
        case 33:
            return {RemovalOutcome::NotInstalled, zoka::LEVEL_INFO,
                    L"The return code from the Quenda Installer Process is (%d). Nothing to "
                    L"uninstall."};
        default:
            return {RemovalOutcome::Failed, zoka::LEVEL_ERROR,
                    L"The return code from the Quenda Installer Process is (%d).Stopping the "
                    L"uninstallation process."};
    }
}

SetupVerdict qxSetupVerdict(korr::LaunchResult launch, uint32_t exitCode) {
    if (launch != korr::LAUNCH_OK) {
        return launchFailure(
            launch,
            {L"Failed to launch the QXPIM Setup process.Stopping the uninstallation process.",
             L"Failed to create the QXPIM Setup process.Stopping the uninstallation process.",
             L"Failed to get the return code of the QXPIM Setup process.Stopping the "
             L"uninstallation process."});
    }
    switch (exitCode) {
        case 0:
        case 130:
            return {RemovalOutcome::Removed, zoka::LEVEL_INFO,
                    L"The return code from the QXPIM Setup Process is (%d). Successfully "
                    L"uninstalled."};
        case 135:
            return {RemovalOutcome::NotInstalled, zoka::LEVEL_INFO,
                    L"The return code from the QXPIM Setup Process is (%d). Product not "
                    L"installed."};
        default:
            return {RemovalOutcome::Failed, zoka::LEVEL_ERROR,
                    L"The QXPIM Setup Process return code is (%d).Stopping the uninstallation "
                    L"process."};
    }
}

}  // namespace velkaro
