// ProductUninstaller::uninstallProducts: the removal run over every configured product.

#include "config/product_uninstaller.h"
#include "engine/media_uninstaller.h"
#include "support/console.h"
#include "sysutil/stop_request.h"

namespace velkaro {

namespace {

constexpr unsigned kVeltAvailable = 1;
constexpr unsigned kQxAvailable = 2;

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

ProductRecord& newRecord(RunRecord* record, ProductRecord& scratch, const UninstallProduct& product,
                         ProductOutcome outcome) {
    if (record == nullptr) {
        scratch = ProductRecord();
        return scratch;
    }
    record->products.push_back(ProductRecord());
    record->products.back().product = product;
    record->products.back().outcome = outcome;
    return record->products.back();
}

}  // namespace

bool ProductUninstaller::uninstallProducts(RunRecord* record) {
    bool runResult = true;
    if (productsToRemove.empty())
        return runResult;

    MediaUninstaller media;  // its destructor removes the run folder on every way out
    media.setupTimeoutSeconds = setupTimeoutSeconds;
    media.waitForProcessTree = waitForProcessTree;
    media.whileSetupRuns = whileSetupRuns;
    if (record != nullptr) {
        // Entries are referred to while their product runs: no reallocation after this.
        record->products.reserve(record->products.size() + productsToRemove.size());
        record->setupsLocated = true;
        record->veltSetupPath = media.veltSetupPath;
        record->qxSetupPath = media.qxSetupPath;
    }
    ProductRecord scratch;

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
    if (availableFamilies == 0) {
        for (const UninstallProduct& product : productsToRemove)
            newRecord(record, scratch, product, ProductOutcome::Ignored);
        return runResult;
    }

    bool stopped = false;
    for (const UninstallProduct& product : productsToRemove) {
        // Asked between products only: a removal under way is never broken off here.
        if (!stopped && korr::stopRequestCount() > 0) {
            stopped = true;
            logger.error(L"", L"Stop requested (%s): no further product is started.",
                         korr::stopRequestName());
        }
        if (stopped) {
            notAttemptedProducts.insert(product);
            newRecord(record, scratch, product, ProductOutcome::NotAttempted);
            continue;
        }
        if (!familyAvailable(product.family, availableFamilies)) {
            ignoredProducts.insert(product);
            newRecord(record, scratch, product, ProductOutcome::Ignored);
            continue;
        }
        // Pending while its setup program runs: the running file may be written meanwhile.
        ProductRecord& entry = newRecord(record, scratch, product, ProductOutcome::Pending);
        media.launchRecord = &entry;

        reportProduct(logger, L"Uninstalling (%s/%s/%s)", L"Uninstalling (", product);
        korr::setStopNotice(L"(" + product.sapCode + L"/" + product.baseVersion + L"/" +
                            product.platform +
                            L") is finishing, then no further product will be started. A second "
                            L"stop request ends it at once.");

        bool foundOnSystem = true;
        bool removed = product.family == VELT ? media.uninstallVELTMedia(product, foundOnSystem)
                                              : media.uninstallQXMedia(product, foundOnSystem);
        media.launchRecord = nullptr;
        korr::setStopNotice(L"");

        // Not found comes first: both removals return true when they clear the flag.
        if (!foundOnSystem) {
            notFoundProducts.insert(product);
            entry.outcome = ProductOutcome::NotFound;
            reportProduct(logger, L"Not found on system (%s/%s/%s)", L"Not found on system (",
                          product);
        } else if (removed) {
            removedProducts.insert(product);
            entry.outcome = ProductOutcome::Removed;
            reportProduct(logger, L"Successfully uninstalled (%s/%s/%s)",
                          L"Successfully uninstalled (", product);
        } else {
            failedProducts.insert(product);
            entry.outcome = ProductOutcome::Failed;
            runResult = false;
            reportProduct(logger, L"Uninstall failed for (%s/%s/%s)", L"Uninstall failed for (",
                          product);
            if (entry.timedOut)
                zoka::console::out({L"Its setup program ran longer than the limit of ",
                                    std::to_wstring(setupTimeoutSeconds),
                                    L" seconds (--setupTimeout) and was ended with every process "
                                    L"it started."});
            else if (entry.launched && entry.launchResult == korr::LAUNCH_STOPPED)
                zoka::console::out(
                    {L"Its setup program was ended on a second stop request, with "
                     L"every process it started."});
        }
        logger.info(kSeparatorLine);
        zoka::console::out({kSeparatorLine});
        if (onProductHandled)
            onProductHandled();
    }
    return runResult;
}

}  // namespace velkaro
