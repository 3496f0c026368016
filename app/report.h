#pragma once
// The two blocks the driver prints around the removal run: the products it is about to remove,
// and what became of them. Each line goes to the log at INFO first, then to standard output.

#include <string>

#include "config/product_uninstaller.h"
#include "logging/logger.h"

namespace velkaro {

/// "Products to be uninstalled:", one line per product, the separator and the announcement (for
/// a dry run, that it only checks); or the one line saying that there is nothing to remove.
void printProductListing(zoka::Logger& logger, const ProductSet& productsToRemove,
                         bool dryRun = false);

/// "Summary:", then each non-empty result set under its separator and heading. A stopped run
/// (`stopReason` names the request) says so last, before the products the stop left out.
void printRunSummary(zoka::Logger& logger, const ProductUninstaller& uninstaller,
                     const std::wstring& stopReason = std::wstring());

}  // namespace velkaro
