#pragma once
// One product to remove, its installer family, and the order that every product set keeps.

#include <set>
#include <string>

namespace velkaro {

enum InstallerFamily : int {
    VELT = 0,  ///< removed by the common setup program with a deployment file
    QX = 2,    ///< removed by the family's own setup program with a driver document
};

struct UninstallProduct {
    std::wstring sapCode;
    std::wstring version;
    InstallerFamily family = VELT;
    std::wstring baseVersion;  ///< a copy of version for VELT products
    std::wstring platform;
    std::wstring deploymentXml;  ///< VELT only: the whole Deployment element's markup
};

/// sapCode + "_" + version + "_" + platform: identifies and orders products.
std::wstring productKey(const UninstallProduct& product);

/// Orders by productKey, compared by UTF-16 code units on every build.
struct ProductKeyLess {
    bool operator()(const UninstallProduct& a, const UninstallProduct& b) const;
};

/// An ordered set of products, unique by productKey (the first one inserted stays).
using ProductSet = std::set<UninstallProduct, ProductKeyLess>;

}  // namespace velkaro
