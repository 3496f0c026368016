#include <gtest/gtest.h>

#include <string>

#include "engine/setup_verdict.h"
#include "logging/format.h"

namespace {

using velkaro::RemovalOutcome;
using velkaro::SetupVerdict;

struct VerdictCase {
    const char* family;
    korr::LaunchResult launch;
    uint32_t exitCode;
    RemovalOutcome outcome;
    zoka::LogLevel level;
    const wchar_t* text;  // the message as logged, exit code applied
};

const VerdictCase kCases[] = {
    // VELT
    {"VELT", korr::LAUNCH_OK, 0, RemovalOutcome::Removed, zoka::LEVEL_INFO,
     L"The return code from the Quenda Installer Process is (0).Uninstallation successful."},
    {"VELT", korr::LAUNCH_OK, 33, RemovalOutcome::NotInstalled, zoka::LEVEL_INFO,
     L"The return code from the Quenda Installer Process is (33). Nothing to uninstall."},
    {"VELT", korr::LAUNCH_OK, 1, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"The return code from the Quenda Installer Process is (1).Stopping the uninstallation "
     L"process."},
    {"VELT", korr::LAUNCH_OK, 130, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"The return code from the Quenda Installer Process is (130).Stopping the uninstallation "
     L"process."},
    {"VELT", korr::LAUNCH_OK, 0xC0000005u, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"The return code from the Quenda Installer Process is (-1073741819).Stopping the "
     L"uninstallation process."},
    {"VELT", korr::LAUNCH_NOT_STARTED, 0, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"Failed to launch the VELT Setup process.Stopping the uninstallation process."},
    {"VELT", korr::LAUNCH_CREATE_FAILED, 0, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"Failed to create the VELT Setup process.Stopping the uninstallation process."},
    {"VELT", korr::LAUNCH_NO_EXIT_CODE, 33, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"Failed to get the return code of the VELT Setup process.Stopping the uninstallation "
     L"process."},
    {"VELT", static_cast<korr::LaunchResult>(7), 0, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"Failed to launch the VELT Setup process.Stopping the uninstallation process."},
    // QX
    {"QX", korr::LAUNCH_OK, 0, RemovalOutcome::Removed, zoka::LEVEL_INFO,
     L"The return code from the QXPIM Setup Process is (0). Successfully uninstalled."},
    {"QX", korr::LAUNCH_OK, 130, RemovalOutcome::Removed, zoka::LEVEL_INFO,
     L"The return code from the QXPIM Setup Process is (130). Successfully uninstalled."},
    {"QX", korr::LAUNCH_OK, 135, RemovalOutcome::NotInstalled, zoka::LEVEL_INFO,
     L"The return code from the QXPIM Setup Process is (135). Product not installed."},
    {"QX", korr::LAUNCH_OK, 33, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"The QXPIM Setup Process return code is (33).Stopping the uninstallation process."},
    {"QX", korr::LAUNCH_OK, 0xFFFFFFFFu, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"The QXPIM Setup Process return code is (-1).Stopping the uninstallation process."},
    {"QX", korr::LAUNCH_NOT_STARTED, 0, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"Failed to launch the QXPIM Setup process.Stopping the uninstallation process."},
    {"QX", korr::LAUNCH_CREATE_FAILED, 130, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"Failed to create the QXPIM Setup process.Stopping the uninstallation process."},
    {"QX", korr::LAUNCH_NO_EXIT_CODE, 0, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"Failed to get the return code of the QXPIM Setup process.Stopping the uninstallation "
     L"process."},
    {"QX", static_cast<korr::LaunchResult>(-1), 0, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"Failed to launch the QXPIM Setup process.Stopping the uninstallation process."},
};

TEST(SetupVerdict, MapsEveryLaunchResultAndExitCode) {
    for (const VerdictCase& c : kCases) {
        SCOPED_TRACE(std::string(c.family) + " launch " + std::to_string(c.launch) + " code " +
                     std::to_string(c.exitCode));
        SetupVerdict verdict = std::string(c.family) == "VELT"
                                   ? velkaro::veltSetupVerdict(c.launch, c.exitCode)
                                   : velkaro::qxSetupVerdict(c.launch, c.exitCode);
        EXPECT_EQ(verdict.outcome, c.outcome);
        EXPECT_EQ(verdict.level, c.level);
        EXPECT_EQ(zoka::formatWideF(verdict.message, velkaro::signedExitCode(c.exitCode)), c.text);
    }
}

}  // namespace
