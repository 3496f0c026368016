#include "config/product_uninstaller.h"

#include <string>
#include <utility>

#include "config/config_check.h"
#include "support/console.h"
#include "support/xml_parser.h"

namespace velkaro {

namespace {

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

// Each reader gives the element it could not read (nullptr when the product is complete).
const wchar_t* readVeltProduct(zoka::XMLParser& parser, const std::wstring& prefix,
                               UninstallProduct& product) {
    const std::pair<const wchar_t*, std::wstring*> fields[] = {
        {L"SapCode", &product.sapCode},
        {L"Version", &product.version},
        {L"Platform", &product.platform},
    };
    for (const auto& [name, value] : fields) {
        if (!parser.stringValueForXQuery(prefix + name, *value))
            return name;
    }
    const wchar_t* deploymentPath = L"DeploymentUninstall/Deployment";
    // The node reference goes before the parser that made it.
    zoka::XmlNode deployment = parser.getNodeForXQuery(prefix + deploymentPath);
    if (!deployment || !parser.getXMLStringOfNode(deployment, product.deploymentXml))
        return deploymentPath;
    product.baseVersion = product.version;
    return nullptr;
}

const wchar_t* readQxProduct(zoka::XMLParser& parser, const std::wstring& prefix,
                             UninstallProduct& product) {
    const std::pair<const wchar_t*, std::wstring*> fields[] = {
        {L"SapCode", &product.sapCode},
        {L"Version", &product.version},
        {L"Platform", &product.platform},
        {L"BaseVersion", &product.baseVersion},
    };
    for (const auto& [name, value] : fields) {
        if (!parser.stringValueForXQuery(prefix + name, *value))
            return name;
    }
    return nullptr;
}

/// One family's product list in the configuration.
struct ProductList {
    InstallerFamily family;
    const wchar_t* query;
    const wchar_t* noneMessage;        // logged when the list is missing or empty
    const wchar_t* parseFailedFormat;  // its %s takes the failed item's query prefix
    const wchar_t* (*read)(zoka::XMLParser& parser, const std::wstring& prefix,
                           UninstallProduct& product);
};

const ProductList kVeltList = {
    VELT,
    L"/ZephUninstallXML/UninstallInfo/VELT/Products/Product",
    L"No VELT products specified for uninstallation ...",
    L"Failed to parse the VELT products uninstall info (%s)...",
    readVeltProduct,
};

const ProductList kQxList = {
    QX,
    L"/ZephUninstallXML/UninstallInfo/QX/Products/Product",
    L"No QX products specified for uninstallation ...",
    L"Failed to parse the QX products uninstall info (%s)...",
    readQxProduct,
};

/// Adds every product of the list to `products`; stops at the first item that cannot be read.
bool readProductList(zoka::XMLParser& parser, const ProductList& list, zoka::Logger& logger,
                     ProductSet& products) {
    const int count = productCount(parser, list.query);
    if (count < 1)
        logger.info(list.noneMessage);
    for (int i = 0; i < count; ++i) {
        UninstallProduct product;
        product.family = list.family;
        const std::wstring prefix = itemPrefix(list.query, i);
        if (const wchar_t* missing = list.read(parser, prefix, product)) {
            logger.error(L"", list.parseFailedFormat, prefix.c_str());
            logger.info(L"The product at %s has no readable element %s.", prefix.c_str(), missing);
            zoka::console::out({L"Failed to parse the products uninstall info ...", prefix});
            return false;
        }
        products.insert(std::move(product));
    }
    return true;
}

}  // namespace

bool ProductUninstaller::loadUninstallConfig(const std::wstring& path) {
    zoka::XMLParser parser;
    return loadUninstallConfig(path, parser);
}

bool ProductUninstaller::loadUninstallConfig(const std::wstring& path, zoka::XMLParser& parser) {
    if (!parser.initWithXMLPath(path)) {
        logger.error(L"", L"Initialize with XML failed!");
        zoka::console::out({L"Initialize with XML failed!"});
        const std::wstring& reason = parser.loadError();
        if (!reason.empty()) {
            logger.info(L"XML parse error: %s", reason.c_str());
            zoka::console::out({L"XML parse error: ", reason});
        }
        return false;
    }

    // A document with another root is not a configuration: refused rather than read as an
    // empty one, which would report success while removing nothing.
    std::wstring root;
    if (!configRootName(parser, root) || root != kConfigRootName) {
        logger.error(L"", L"Not an uninstall configuration: the root element (%s) is not %s.",
                     root.c_str(), kConfigRootName);
        zoka::console::out({L"Not an uninstall configuration: the root element (", root,
                            L") is not ", kConfigRootName, L"."});
        return false;
    }
    // A misspelt element would otherwise drop its products without a word.
    for (const ConfigFinding& unknown : unknownConfigElements(parser)) {
        const std::wstring place = placeText(unknown.place);
        logger.warn(L"", L"Unknown element (%s) ignored at %s", unknown.element.c_str(),
                    place.c_str());
        zoka::console::out({L"Unknown element (", unknown.element, L") ignored at ", place});
    }

    return readProductList(parser, kVeltList, logger, productsToRemove) &&
           readProductList(parser, kQxList, logger, productsToRemove);
}

}  // namespace velkaro
