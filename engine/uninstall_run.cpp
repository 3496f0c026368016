// ProductUninstaller::uninstallProducts: the removal run over every configured product.

#include "config/product_uninstaller.h"
#include "engine/media_uninstaller.h"
#include "support/console.h"

namespace velkaro {

namespace {

constexpr unsigned kVeltAvailable = 1;
constexpr unsigned kQxAvailable = 2;

const wchar_t kSeparatorLine[] = L"**************************************************";

bool familyAvailable(InstallerFamily family, unsigned availableFamilies) {
    return (availableFamilies & (family == VELT ? kVeltAvailable : kQxAvailable)) != 0;
}

/// One progress line about a product, written to the log from a format whose only placeholders
/// are the three values, and to the console from the same pieces: a "%" in a product text is
/// always a character, never a format.
void reportProduct(zoka::Logger& logger, const wchar_t* format, const wchar_t* consoleHead,
                   const UninstallProduct& product) {
    logger.info(format, product.sapCode.c_str(), product.baseVersion.c_str(),
                product.platform.c_str());
    zoka::console::out(
        {consoleHead, product.sapCode, L"/", product.baseVersion, L"/", product.platform, L")"});
}

void reportRuntimeMissing(zoka::Logger& logger, const wchar_t* text) {
    logger.error(L"", text);
    zoka::console::out({text});
}

}  // namespace

bool ProductUninstaller::uninstallProducts() {
    bool runResult = true;
    if (productsToRemove.empty())
        return runResult;

    MediaUninstaller media;  // its destructor removes the run folder on every way out

    unsigned availableFamilies = 0;
    if (!media.veltSetupPath.empty())
        availableFamilies |= kVeltAvailable;
    else
        reportRuntimeMissing(logger, L"VELT Runtime not found!");
    if (!media.qxSetupPath.empty())
        availableFamilies |= kQxAvailable;
    else
        reportRuntimeMissing(logger, L"QX Runtime not found!");

    // Without any setup program the products are left out of every set: the two lines above
    // already say why nothing was attempted.
    if (availableFamilies == 0)
        return runResult;

    for (const UninstallProduct& product : productsToRemove) {
        if (!familyAvailable(product.family, availableFamilies)) {
            ignoredProducts.insert(product);
            continue;
        }

        reportProduct(logger, L"Uninstalling (%s/%s/%s)", L"Uninstalling (", product);

        bool foundOnSystem = true;
        bool removed = product.family == VELT ? media.uninstallVELTMedia(product, foundOnSystem)
                                              : media.uninstallQXMedia(product, foundOnSystem);

        // Not found comes first: both removals return true when they clear the flag.
        if (!foundOnSystem) {
            notFoundProducts.insert(product);
            reportProduct(logger, L"Not found on system (%s/%s/%s)", L"Not found on system (",
                          product);
        } else if (removed) {
            removedProducts.insert(product);
            reportProduct(logger, L"Successfully uninstalled (%s/%s/%s)",
                          L"Successfully uninstalled (", product);
        } else {
            failedProducts.insert(product);
            runResult = false;
            reportProduct(logger, L"Uninstall failed for (%s/%s/%s)", L"Uninstall failed for (",
                          product);
        }
        logger.info(kSeparatorLine);
        zoka::console::out({kSeparatorLine});
    }
    return runResult;
}

}  // namespace velkaro
