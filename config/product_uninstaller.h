#pragma once
// Holds the products to remove and the four result sets; loads the configuration and runs the
// removal.

#include <cstdint>
#include <functional>
#include <string>

#include "config/run_record.h"
#include "config/uninstall_product.h"
#include "logging/logger.h"

namespace zoka {
class XMLParser;
}

namespace velkaro {

/// The line of 50 asterisks between the blocks of the listing, the run and the summary.
inline constexpr const wchar_t* kSeparatorLine =
    L"**************************************************";

class ProductUninstaller {
public:
    ProductUninstaller() = default;
    ProductUninstaller(const ProductUninstaller&) = delete;
    ProductUninstaller& operator=(const ProductUninstaller&) = delete;

    /// Reads the configuration document into productsToRemove; false after reporting the cause.
    bool loadUninstallConfig(const std::wstring& path);
    /// The same, loading into `parser`, which then holds the document (none when the file did
    /// not load): a caller that also checks the document reads the file once.
    bool loadUninstallConfig(const std::wstring& path, zoka::XMLParser& parser);

    /// Removes every product in key order and sorts each into one result set; false when at
    /// least one removal failed. A stop request ends the run before the next product: the rest
    /// go to notAttemptedProducts. Fills `record` (setup programs, one entry per product) when
    /// given. (Defined by the engine.)
    bool uninstallProducts(RunRecord* record = nullptr);

    /// The longest a setup program may run, in seconds; 0: no limit.
    uint32_t setupTimeoutSeconds = 0;
    /// A product is sorted only when every process its setup program started has ended.
    bool waitForProcessTree = false;
    /// Called after each product is sorted (its record entry complete), when set.
    std::function<void()> onProductHandled;
    /// Called once while each setup program runs, when set: work that can wait for the next
    /// setup program is done while it runs, not between products.
    std::function<void()> whileSetupRuns;

    zoka::Logger logger;  // constructed first, destroyed last
    ProductSet productsToRemove;
    ProductSet removedProducts;
    ProductSet failedProducts;
    ProductSet ignoredProducts;
    ProductSet notFoundProducts;
    ProductSet notAttemptedProducts;  ///< left out because the run was asked to stop
};

/// The products of a configuration as a run would load them, read without a message: for the
/// record of a run refused before it loaded its configuration. False when it does not load.
bool readConfigProducts(const std::wstring& path, ProductSet& products);

}  // namespace velkaro
