#include "engine/setup_verdict.h"

namespace velkaro {

namespace {

/// An exit code a family's setup program documents as success of some kind (logged at INFO).
struct KnownExitCode {
    uint32_t exitCode;
    RemovalOutcome outcome;
    const wchar_t* message;
};

/// One family's answers: the launch failures, the documented exit codes and the rest.
struct SetupTable {
    const wchar_t* notStarted;
    const wchar_t* createFailed;
    const wchar_t* noExitCode;
    KnownExitCode known[3];    // rows without a message are unused
    const wchar_t* otherCode;  // any other exit code: failed
};

const SetupTable kVeltTable = {
    L"Failed to launch the VELT Setup process.Stopping the uninstallation process.",
    L"Failed to create the VELT Setup process.Stopping the uninstallation process.",
    L"Failed to get the return code of the VELT Setup process.Stopping the uninstallation "
    L"process.",
    {
        {0, RemovalOutcome::Removed,
         L"The return code from the Quenda Installer Process is (%d).Uninstallation successful."},
        {33, RemovalOutcome::NotInstalled,
         L"The return code from the Quenda Installer Process is (%d). Nothing to uninstall."},
    },
    L"The return code from the Quenda Installer Process is (%d).Stopping the uninstallation "
    L"process.",
};

const SetupTable kQxTable = {
    L"Failed to launch the QXPIM Setup process.Stopping the uninstallation process.",
    L"Failed to create the QXPIM Setup process.Stopping the uninstallation process.",
    L"Failed to get the return code of the QXPIM Setup process.Stopping the uninstallation "
    L"process.",
    {
        {0, RemovalOutcome::Removed,
         L"The return code from the QXPIM Setup Process is (%d). Successfully uninstalled."},
        {130, RemovalOutcome::Removed,
         L"The return code from the QXPIM Setup Process is (%d). Successfully uninstalled."},
        {135, RemovalOutcome::NotInstalled,
         L"The return code from the QXPIM Setup Process is (%d). Product not installed."},
    },
    L"The QXPIM Setup Process return code is (%d).Stopping the uninstallation process.",
};

SetupVerdict failed(const wchar_t* message) {
    return {RemovalOutcome::Failed, zoka::LEVEL_ERROR, message};
}

SetupVerdict lookUp(const SetupTable& table, korr::LaunchResult launch, uint32_t exitCode) {
    switch (launch) {
        case korr::LAUNCH_OK:
            break;
        case korr::LAUNCH_CREATE_FAILED:
            return failed(table.createFailed);
        case korr::LAUNCH_NO_EXIT_CODE:
            return failed(table.noExitCode);
        case korr::LAUNCH_NOT_STARTED:
        default:
            // An unknown result never counts as a success.
            return failed(table.notStarted);
    }
    for (const KnownExitCode& row : table.known) {
        if (row.message != nullptr && row.exitCode == exitCode)
            return {row.outcome, zoka::LEVEL_INFO, row.message};
    }
    return failed(table.otherCode);
}

}  // namespace

SetupVerdict veltSetupVerdict(korr::LaunchResult launch, uint32_t exitCode) {
    return lookUp(kVeltTable, launch, exitCode);
}

SetupVerdict qxSetupVerdict(korr::LaunchResult launch, uint32_t exitCode) {
    return lookUp(kQxTable, launch, exitCode);
}

}  // namespace velkaro
