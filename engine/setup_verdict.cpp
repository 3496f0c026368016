#include "engine/setup_verdict.h"

#include <initializer_list>

namespace velkaro {

namespace {

/// An exit code a family's setup program documents as success of some kind (logged at INFO).
struct KnownExitCode {
    uint32_t exitCode;
    RemovalOutcome outcome;
    const wchar_t* message;
};

/// One family's answers: the launch failures, the documented exit codes and the rest. The
/// documented codes are a counted list, so a row left out can never read as "exit 0 removed".
struct SetupTable {
    const wchar_t* notStarted;
    const wchar_t* createFailed;
    const wchar_t* noExitCode;
    const wchar_t* timedOut;
    const wchar_t* stopped;
    std::initializer_list<KnownExitCode> known;
    const wchar_t* otherCode;  // any other exit code: failed
};

const SetupTable kVeltTable = {
    L"Failed to launch the VELT Setup process.Stopping the uninstallation process.",
    L"Failed to create the VELT Setup process.Stopping the uninstallation process.",
    L"Failed to get the return code of the VELT Setup process.Stopping the uninstallation "
    L"process.",
    L"The VELT Setup process was ended at its time limit. Stopping the uninstallation process.",
    L"The VELT Setup process was ended on a second stop request.Stopping the uninstallation "
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
    L"The QXPIM Setup process was ended at its time limit. Stopping the uninstallation process.",
    L"The QXPIM Setup process was ended on a second stop request.Stopping the uninstallation "
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
        case korr::LAUNCH_TIMED_OUT:
            return failed(table.timedOut);
        case korr::LAUNCH_STOPPED:
            return failed(table.stopped);
        case korr::LAUNCH_NOT_STARTED:
        default:
            // An unknown result never counts as a success.
            return failed(table.notStarted);
    }
    for (const KnownExitCode& row : table.known) {
        if (row.exitCode == exitCode)
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
