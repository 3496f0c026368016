#include "engine/setup_command.h"

#include "sysutil/process_launcher.h"

namespace velkaro {

SetupCommand veltSetupCommand(const std::wstring& setupPath, const std::wstring& deploymentFile) {
    return {setupPath,
            {L"\"" + setupPath + L"\"", L"--deploymentFile=\"" + deploymentFile + L"\""},
            false};
}

SetupCommand qxSetupCommand(const std::wstring& setupPath, const std::wstring& driverFile) {
    return {setupPath, {L"--uninstall=1", L"--driverXML=\"" + driverFile + L"\""}, true};
}

std::wstring setupCommandLine(const SetupCommand& command) {
    return korr::buildCommandLine(command.programPath, command.arguments, command.quoteProgramPath);
}

}  // namespace velkaro
