#pragma once
// The command that starts a family setup program for one product. The removals start exactly
// this, and the dry run shows it, so what a check prints is what a run starts.

#include <string>
#include <vector>

namespace velkaro {

struct SetupCommand {
    std::wstring programPath;
    std::vector<std::wstring> arguments;
    bool quoteProgramPath = false;  ///< see korr::runProcessAndWait
};

/// The VELT setup program with a deployment file: the program path goes as the application name
/// and again, quoted, as the first word.
SetupCommand veltSetupCommand(const std::wstring& setupPath, const std::wstring& deploymentFile);

/// The QX setup program in uninstall mode with a driver document.
SetupCommand qxSetupCommand(const std::wstring& setupPath, const std::wstring& driverFile);

/// The whole command line the launcher passes for `command`.
std::wstring setupCommandLine(const SetupCommand& command);

}  // namespace velkaro
