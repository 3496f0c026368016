#include <string>
#include <vector>

#include "engine/media_uninstaller.h"
#include "support/xml_parser.h"
#include "sysutil/process_launcher.h"
#include "sysutil/temp_folder.h"

namespace velkaro {

namespace {

enum class DriverBuild { Ok, ParserFailed, AddFailed };

/// DriverInfo { ProductInfo { SapCode, Platform, BaseVersion }, RequestInfo }; the XML service
/// escapes the values.
DriverBuild buildDriverDocument(zoka::XMLParser& parser, const UninstallProduct& product) {
    zoka::XmlNode root;
    if (!parser.initWithXMLString(L"<DriverInfo/>") || !parser.getRootNode(root))
        return DriverBuild::ParserFailed;
    zoka::XmlNode productInfo;
    bool built = parser.addChildToNode(L"ProductInfo", L"", root, productInfo) &&
                 parser.addChildToNode(L"SapCode", product.sapCode, productInfo) &&
                 parser.addChildToNode(L"Platform", product.platform, productInfo) &&
                 parser.addChildToNode(L"BaseVersion", product.baseVersion, productInfo) &&
                 parser.addChildToNode(L"RequestInfo", L"", root);
    return built ? DriverBuild::Ok : DriverBuild::AddFailed;
}

}  // namespace

bool MediaUninstaller::uninstallQXMedia(const UninstallProduct& product, bool& foundOnSystem) {
    const wchar_t* sapCode = product.sapCode.c_str();
    const wchar_t* baseVersion = product.baseVersion.c_str();
    if (!ensureTempFolder()) {
        logger.error(L"",
                     L"Failed to uninstall QX media (%s, %s), library not initialized properly "
                     L"...",
                     sapCode, baseVersion);
        return false;
    }

    std::wstring driverFile;
    {
        zoka::XMLParser parser;
        switch (buildDriverDocument(parser, product)) {
            case DriverBuild::ParserFailed:
                logger.error(L"",
                             L"Failed to uninstall QX media (%s, %s), parser initialization "
                             L"failed for param XML...",
                             sapCode, baseVersion);
                return false;
            case DriverBuild::AddFailed:
                logger.error(L"",
                             L"Failed to uninstall QX media (%s, %s), failed to add product XML "
                             L"param ...",
                             sapCode, baseVersion);
                return false;
            case DriverBuild::Ok:
                break;
        }
        if (!korr::_utilGetTempFilePath(tempFolderPath, driverFile) ||
            !parser.writeXMLToFile(driverFile)) {
            logger.error(L"",
                         L"Failed to uninstall QX media (%s, %s), failed to save product XML "
                         L"param ...",
                         sapCode, baseVersion);
            return false;
        }
    }

    std::vector<std::wstring> arguments{
        L"--uninstall=1",
        L"--driverXML=\"" + driverFile + L"\"",
    };
    uint32_t exitCode = static_cast<uint32_t>(-1);
    korr::LaunchResult launch =
        korr::runProcessAndWait(qxSetupPath, arguments, exitCode, std::wstring(), true);
    return applyVerdict(qxSetupVerdict(launch, exitCode), exitCode, foundOnSystem);
}

}  // namespace velkaro
