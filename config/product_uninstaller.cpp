#include "config/product_uninstaller.h"

#include <string>
#include <utility>

#include "support/console.h"
#include "support/xml_parser.h"

namespace velkaro {

namespace {

const wchar_t kVeltListQuery[] = L"/ZephUninstallXML/UninstallInfo/VELT/Products/Product";
const wchar_t kQxListQuery[] = L"/ZephUninstallXML/UninstallInfo/QX/Products/Product";

/// The number of products a list query selects; 0 when there is no list.
int productCount(zoka::XMLParser& parser, const wchar_t* listQuery) {
    int count = 0;
    // Only the length is wanted: the list reference is released right here.
    parser.getNodeListForXQuery(listQuery, &count);
    return count;
}

/// The list query, "[", the index, "]/": the prefix of every field query of item `index`.
std::wstring itemPrefix(const wchar_t* listQuery, int index) {
    return std::wstring(listQuery) + L"[" + std::to_wstring(index) + L"]/";
}

bool readVeltProduct(zoka::XMLParser& parser, const std::wstring& prefix,
                     UninstallProduct& product) {
    if (!parser.stringValueForXQuery(prefix + L"SapCode", product.sapCode) ||
        !parser.stringValueForXQuery(prefix + L"Version", product.version) ||
        !parser.stringValueForXQuery(prefix + L"Platform", product.platform))
        return false;
    // The node reference goes before the parser that made it.
    zoka::XmlNode deployment = parser.getNodeForXQuery(prefix + L"DeploymentUninstall/Deployment");
    return deployment && parser.getXMLStringOfNode(deployment, product.deploymentXml);
}

bool readQxProduct(zoka::XMLParser& parser, const std::wstring& prefix, UninstallProduct& product) {
    return parser.stringValueForXQuery(prefix + L"SapCode", product.sapCode) &&
           parser.stringValueForXQuery(prefix + L"Version", product.version) &&
           parser.stringValueForXQuery(prefix + L"Platform", product.platform) &&
           parser.stringValueForXQuery(prefix + L"BaseVersion", product.baseVersion);
}

}  // namespace

bool ProductUninstaller::loadUninstallConfig(const std::wstring& path) {
    zoka::XMLParser parser;
    if (!parser.initWithXMLPath(path)) {
        logger.error(L"", L"Initialize with XML failed!");
        zoka::console::out({L"Initialize with XML failed!"});
        return false;
    }

    int veltCount = productCount(parser, kVeltListQuery);
    if (veltCount < 1) {
        logger.info(L"No VELT products specified for uninstallation ...");
    }
    for (int i = 0; i < veltCount; ++i) {
        UninstallProduct product;
        product.family = VELT;
        std::wstring prefix = itemPrefix(kVeltListQuery, i);
        if (!readVeltProduct(parser, prefix, product)) {
            logger.error(L"", L"Failed to parse the VELT products uninstall info (%s)...",
                         prefix.c_str());
            zoka::console::out({L"Failed to parse the products uninstall info ...", prefix});
            return false;
        }
        product.baseVersion = product.version;
        productsToRemove.insert(std::move(product));
    }

    int qxCount = productCount(parser, kQxListQuery);
    if (qxCount < 1) {
        logger.info(L"No QX products specified for uninstallation ...");
        return true;
    }
    for (int i = 0; i < qxCount; ++i) {
        UninstallProduct product;
        product.family = QX;
        std::wstring prefix = itemPrefix(kQxListQuery, i);
        if (!readQxProduct(parser, prefix, product)) {
            logger.error(L"", L"Failed to parse the QX products uninstall info (%s)...",
                         prefix.c_str());
            zoka::console::out({L"Failed to parse the products uninstall info ...", prefix});
            return false;
        }
        productsToRemove.insert(std::move(product));
    }
    return true;
}

}  // namespace velkaro
