#include "app/report.h"

#include "app/program.h"
#include "support/console.h"

namespace velkaro {
namespace {

// Product texts only ever travel as values, never as part of a format.
void productLine(zoka::Logger& logger, const UninstallProduct& product) {
    logger.info(L"\t\t(%s/%s/%s)", product.sapCode.c_str(), product.baseVersion.c_str(),
                product.platform.c_str());
    zoka::console::out(
        {L"\t\t(", product.sapCode, L"/", product.baseVersion, L"/", product.platform, L")"});
}

void textLine(zoka::Logger& logger, const wchar_t* text) {
    logger.info(L"%s", text);
    zoka::console::out({text});
}

}  // namespace

void printProductListing(zoka::Logger& logger, const ProductSet& productsToRemove, bool dryRun) {
    if (productsToRemove.empty()) {
        textLine(logger, L"No Product specified to be uninstalled ...");
        return;
    }
    textLine(logger, L"Products to be uninstalled:");
    for (const UninstallProduct& product : productsToRemove)
        productLine(logger, product);
    textLine(logger, kSeparatorLine);
    textLine(logger, dryRun ? L"Dry run: the above products are only checked, none is uninstalled."
                            : L"Attempting to uninstall the above products ...");
}

void printRunSummary(zoka::Logger& logger, const ProductUninstaller& uninstaller,
                     const std::wstring& stopReason) {
    textLine(logger, L"Summary:");
    const struct {
        const ProductSet& set;
        const wchar_t* heading;
    } sections[] = {
        {uninstaller.removedProducts, L"Removed products:"},
        {uninstaller.ignoredProducts, L"Ignored products:"},
        {uninstaller.failedProducts, L"Failed products:"},
        {uninstaller.notFoundProducts, L"Products not found on the system:"},
        {uninstaller.notAttemptedProducts, L"Not attempted products:"},
    };
    for (const auto& section : sections) {
        if (&section.set == &uninstaller.notAttemptedProducts && !stopReason.empty()) {
            textLine(logger, kSeparatorLine);
            const std::wstring stopped = L"The run was stopped by a stop request (" + stopReason +
                                         L"): no product was started after it.";
            textLine(logger, stopped.c_str());
        }
        if (section.set.empty())
            continue;
        textLine(logger, kSeparatorLine);
        textLine(logger, section.heading);
        for (const UninstallProduct& product : section.set)
            productLine(logger, product);
    }
}

}  // namespace velkaro
