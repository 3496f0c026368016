#include <string>
#include <vector>

#include "engine/media_uninstaller.h"
#include "engine/setup_command.h"
#include "support/file_utils.h"
#include "support/string_utils.h"

namespace velkaro {

namespace {

/// Writes the deployment markup as UTF-8. The text goes through UTF-8 and back first, as the
/// setup program expects exactly what that round trip gives.
bool writeDeploymentFile(const std::wstring& path, const std::wstring& deploymentXml) {
    std::string utf8;
    if (!zoka::nativeToUTF8(deploymentXml.c_str(), utf8))
        return false;
    std::wstring text = zoka::utf8ToNativeString(utf8);
    // The way back yields an empty text only when it failed; an empty deployment file would
    // send the setup program off with no instructions at all.
    if (text.empty() && !utf8.empty())
        return false;
    return zoka::writeTextFile(path, text);
}

}  // namespace

bool MediaUninstaller::uninstallVELTMedia(const UninstallProduct& product, bool& foundOnSystem) {
    if (!ensureTempFolder()) {
        logger.error(L"",
                     L"Failed to uninstall VELT media (%s, %s), failure in getting temp folder "
                     L"path ...",
                     product.sapCode.c_str(), product.version.c_str());
        return false;
    }

    std::wstring deploymentFile;
    if (!runFolder.newFile(deploymentFile) ||
        !writeDeploymentFile(deploymentFile, product.deploymentXml)) {
        logger.error(L"",
                     L"Failed to save the undeploymentXML. Stopping the uninstallation process.");
        return false;
    }

    const SetupCommand command = veltSetupCommand(veltSetupPath, deploymentFile);
    return runSetup(product, command.programPath, command.arguments, command.quoteProgramPath,
                    veltSetupVerdict, foundOnSystem);
}

}  // namespace velkaro
