#include <string>
#include <vector>

#include "engine/media_uninstaller.h"
#include "engine/setup_command.h"
#include "support/xml_parser.h"

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
    // Every failure names the product by its code and base version.
    auto fail = [&](const wchar_t* format) {
        logger.error(L"", format, product.sapCode.c_str(), product.baseVersion.c_str());
        return false;
    };
    if (!ensureTempFolder())
        return fail(L"Failed to uninstall QX media (%s, %s), library not initialized properly ...");

    std::wstring driverFile;
    {
        zoka::XMLParser parser;
        switch (buildDriverDocument(parser, product)) {
            case DriverBuild::ParserFailed:
                return fail(
                    L"Failed to uninstall QX media (%s, %s), parser initialization failed for "
                    L"param XML...");
            case DriverBuild::AddFailed:
                return fail(
                    L"Failed to uninstall QX media (%s, %s), failed to add product XML param ...");
            case DriverBuild::Ok:
                break;
        }
        if (!runFolder.newFile(driverFile) || !parser.writeXMLToFile(driverFile))
            return fail(
                L"Failed to uninstall QX media (%s, %s), failed to save product XML param ...");
    }

    const SetupCommand command = qxSetupCommand(qxSetupPath, driverFile);
    return runSetup(product, command.programPath, command.arguments, command.quoteProgramPath,
                    qxSetupVerdict, foundOnSystem);
}

}  // namespace velkaro
