#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

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
    std::wstring text;  // the message as logged, exit code applied
};

const VerdictCase kExitCases[] = {
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
    // VELT documents two codes: a code only the other family knows is a failure here.
    {"VELT", korr::LAUNCH_OK, 135, RemovalOutcome::Failed, zoka::LEVEL_ERROR,
     L"The return code from the Quenda Installer Process is (135).Stopping the uninstallation "
     L"process."},
};

// Every launch that failed, for both families, whatever exit code was left behind.
std::vector<VerdictCase> allCases() {
    std::vector<VerdictCase> cases(std::begin(kExitCases), std::end(kExitCases));
    const std::wstring stopping = L"Stopping the uninstallation process.";
    const struct {
        korr::LaunchResult launch;
        const wchar_t* before;  // the text before the family's name
        const wchar_t* after;   // the text between the name and stopping
    } failures[] = {
        {korr::LAUNCH_NOT_STARTED, L"Failed to launch the ", L" Setup process."},
        {korr::LAUNCH_CREATE_FAILED, L"Failed to create the ", L" Setup process."},
        {korr::LAUNCH_NO_EXIT_CODE, L"Failed to get the return code of the ", L" Setup process."},
        // An exit code left behind by a program that was ended never reads as an answer.
        // Its sentence ends before the next begins.
        {korr::LAUNCH_TIMED_OUT, L"The ", L" Setup process was ended at its time limit. "},
        {korr::LAUNCH_STOPPED, L"The ", L" Setup process was ended on a second stop request."},
        // Results outside the known set count as a launch that never happened.
        {static_cast<korr::LaunchResult>(7), L"Failed to launch the ", L" Setup process."},
        {static_cast<korr::LaunchResult>(-1), L"Failed to launch the ", L" Setup process."},
    };
    for (const char* family : {"VELT", "QX"}) {
        const std::wstring setup = std::string(family) == "VELT" ? L"VELT" : L"QXPIM";
        for (const auto& failure : failures) {
            for (uint32_t code : {0u, 33u, 130u}) {
                cases.push_back({family, failure.launch, code, RemovalOutcome::Failed,
                                 zoka::LEVEL_ERROR,
                                 failure.before + setup + failure.after + stopping});
            }
        }
    }
    return cases;
}

TEST(SetupVerdict, MapsEveryLaunchResultAndExitCode) {
    for (const VerdictCase& c : allCases()) {
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
