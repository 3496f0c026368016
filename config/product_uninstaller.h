#pragma once
// Holds the products to remove and the four result sets; loads the configuration and runs the
// removal.

#include <string>

#include "config/uninstall_product.h"
#include "logging/logger.h"

namespace velkaro {

class ProductUninstaller {
public:
    ProductUninstaller() = default;
    ProductUninstaller(const ProductUninstaller&) = delete;
    ProductUninstaller& operator=(const ProductUninstaller&) = delete;

    /// Reads the configuration document into productsToRemove; false after reporting the cause.
    bool loadUninstallConfig(const std::wstring& path);

    /// Removes every product in key order and sorts each into one result set; false when at
    /// least one removal failed. (Defined by the engine.)
    bool uninstallProducts();

    zoka::Logger logger;  // constructed first, destroyed last
    ProductSet productsToRemove;
    ProductSet removedProducts;
    ProductSet failedProducts;
    ProductSet ignoredProducts;
    ProductSet notFoundProducts;
};

}  // namespace velkaro
