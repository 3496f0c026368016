#pragma once
// The two blocks the driver prints around the removal run: the products it is about to remove,
// and what became of them. Each line goes to the log at INFO first, then to standard output.

#include "config/product_uninstaller.h"
#include "logging/logger.h"

namespace velkaro {

/// "Products to be uninstalled:", one line per product, the separator and the announcement;
/// or the one line saying that there is nothing to remove.
void printProductListing(zoka::Logger& logger, const ProductSet& productsToRemove);

/// "Summary:", then each non-empty result set under its separator and heading (the products a
/// stop left out last).
void printRunSummary(zoka::Logger& logger, const ProductUninstaller& uninstaller);

}  // namespace velkaro
