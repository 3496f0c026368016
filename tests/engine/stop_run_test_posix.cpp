#include <gtest/gtest.h>
#include <signal.h>

#include "config/capture.h"
#include "config/product_uninstaller.h"
#include "engine/setup_fixture.h"
#include "sysutil/stop_request.h"
#include "test_util.h"

namespace {

// A stop that came before the run starts nothing: every product is left for a later run.
TEST(UninstallRun, StopBeforeTheRunAttemptsNothing) {
    enginetest::SetupPrograms setup;
    REQUIRE_USABLE(setup);
    setup.install(setup.veltPath());
    velkaro::ProductUninstaller uninstaller;
    for (const wchar_t* sap : {L"A", L"B"}) {
        velkaro::UninstallProduct product;
        product.sapCode = sap;
        uninstaller.productsToRemove.insert(product);
    }
    ASSERT_TRUE(korr::installStopHandlers());
    korr::clearStopRequests();
    ASSERT_EQ(::raise(SIGTERM), 0);
    velkaro::RunRecord record;
    bool result = false;
    {
        testutil::TempFolderOverride temp(setup.tempFolder());
        configtest::LogCapture log;
        configtest::ConsoleCapture console;
        result = uninstaller.uninstallProducts(&record);
    }
    korr::clearStopRequests();
    EXPECT_TRUE(result);
    EXPECT_EQ(uninstaller.notAttemptedProducts.size(), 2u);
    EXPECT_TRUE(uninstaller.removedProducts.empty() && uninstaller.ignoredProducts.empty());
    ASSERT_EQ(record.products.size(), 2u);
    EXPECT_EQ(record.products[1].outcome, velkaro::ProductOutcome::NotAttempted);
    EXPECT_TRUE(setup.records().empty()) << "no setup program was started";
}

}  // namespace
