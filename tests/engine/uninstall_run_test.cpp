#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/capture.h"
#include "config/product_uninstaller.h"
#include "engine/setup_fixture.h"
#include "test_util.h"

namespace {

using enginetest::SetupPrograms;
using velkaro::ProductUninstaller;
using velkaro::UninstallProduct;

const std::wstring kSeparator(50, L'*');

UninstallProduct product(velkaro::InstallerFamily family, const std::wstring& sap,
                         const std::wstring& version, const std::wstring& platform) {
    UninstallProduct p;
    p.family = family;
    p.sapCode = sap;
    p.version = version;
    p.platform = platform;
    p.baseVersion = family == velkaro::VELT ? version : version + L".base";
    if (family == velkaro::VELT)
        p.deploymentXml = L"<Deployment sap=\"" + sap + L"\"/>";
    return p;
}

std::vector<std::wstring> codes(const velkaro::ProductSet& set) {
    std::vector<std::wstring> result;
    for (const auto& p : set)
        result.push_back(p.sapCode);
    return result;
}

/// Runs uninstallProducts with the temporary folder, log and console captured.
struct RunResult {
    RunResult(SetupPrograms& setup, ProductUninstaller& uninstaller) {
        testutil::TempFolderOverride temp(setup.tempFolder());
        configtest::LogCapture log;
        configtest::ConsoleCapture console;
        result = uninstaller.uninstallProducts(&record);
        lines = log.lines;
        out = console.out;
        err = console.err;
        leftovers = setup.tempLeftovers();
    }
    /// The messages, launch lines cut before their command line (it holds fresh GUIDs).
    std::vector<std::wstring> messages() const {
        std::vector<std::wstring> m;
        for (const auto& l : lines)
            m.push_back(l.message.substr(0, l.message.find(L" with the command line: ")));
        return m;
    }
    bool result = false;
    velkaro::RunRecord record;
    std::vector<configtest::LogLine> lines;
    std::vector<std::wstring> out, err, leftovers;
};

TEST(UninstallRun, EmptyConfigurationDoesNothing) {
    SetupPrograms setup;
    REQUIRE_USABLE(setup);
    ProductUninstaller uninstaller;
    RunResult run(setup, uninstaller);
    EXPECT_TRUE(run.result);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_TRUE(run.out.empty());
    EXPECT_TRUE(run.leftovers.empty());
}

TEST(UninstallRun, ClassifiesEveryOutcomeInKeyOrderAcrossFamilies) {
    SetupPrograms setup;
    REQUIRE_USABLE(setup);
    // Each product's parameter file names it; the stand-in answers per product.
    setup.install(setup.veltPath(), "0", "sap=\"PA\"=0;sap=\"PC\"=33;sap=\"PE\"=1");
    setup.install(setup.qxBoxPath(), "0", "PB<=130;PD<=135;PF<=7");

    ProductUninstaller uninstaller;
    for (const auto& p :
         {product(velkaro::QX, L"PF", L"6", L"w"), product(velkaro::VELT, L"PE", L"5", L"w"),
          product(velkaro::QX, L"PD", L"4", L"w"), product(velkaro::VELT, L"PC", L"3", L"w"),
          product(velkaro::QX, L"PB", L"2", L"w"), product(velkaro::VELT, L"PA", L"1", L"w")})
        uninstaller.productsToRemove.insert(p);

    RunResult run(setup, uninstaller);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(codes(uninstaller.removedProducts), (std::vector<std::wstring>{L"PA", L"PB"}));
    EXPECT_EQ(codes(uninstaller.notFoundProducts), (std::vector<std::wstring>{L"PC", L"PD"}));
    EXPECT_EQ(codes(uninstaller.failedProducts), (std::vector<std::wstring>{L"PE", L"PF"}));
    EXPECT_TRUE(uninstaller.ignoredProducts.empty());
    EXPECT_EQ(uninstaller.productsToRemove.size(), 6u);

    const std::vector<std::wstring> expectedOut{
        L"Uninstalling (PA/1/w)",      L"Successfully uninstalled (PA/1/w)",      kSeparator,
        L"Uninstalling (PB/2.base/w)", L"Successfully uninstalled (PB/2.base/w)", kSeparator,
        L"Uninstalling (PC/3/w)",      L"Not found on system (PC/3/w)",           kSeparator,
        L"Uninstalling (PD/4.base/w)", L"Not found on system (PD/4.base/w)",      kSeparator,
        L"Uninstalling (PE/5/w)",      L"Uninstall failed for (PE/5/w)",          kSeparator,
        L"Uninstalling (PF/6.base/w)", L"Uninstall failed for (PF/6.base/w)",     kSeparator,
    };
    EXPECT_EQ(run.out, expectedOut);
    EXPECT_TRUE(run.err.empty());

    // The log holds the same lines, with each launch and each removal's own verdict between them.
    const std::wstring velt = L"Starting the setup program " + setup.veltPath();
    const std::wstring qx = L"Starting the setup program " + setup.qxBoxPath();
    const std::vector<std::wstring> expectedLog{
        L"QX setup piciked from QXBox",
        L"Uninstalling (PA/1/w)",
        velt,
        L"The return code from the Quenda Installer Process is (0).Uninstallation successful.",
        L"Successfully uninstalled (PA/1/w)",
        kSeparator,
        L"Uninstalling (PB/2.base/w)",
        qx,
        L"The return code from the QXPIM Setup Process is (130). Successfully uninstalled.",
        L"Successfully uninstalled (PB/2.base/w)",
        kSeparator,
        L"Uninstalling (PC/3/w)",
        velt,
        L"The return code from the Quenda Installer Process is (33). Nothing to uninstall.",
        L"Not found on system (PC/3/w)",
        kSeparator,
        L"Uninstalling (PD/4.base/w)",
        qx,
        L"The return code from the QXPIM Setup Process is (135). Product not installed.",
        L"Not found on system (PD/4.base/w)",
        kSeparator,
        L"Uninstalling (PE/5/w)",
        velt,
        L"The return code from the Quenda Installer Process is (1).Stopping the uninstallation "
        L"process.",
        L"Uninstall failed for (PE/5/w)",
        kSeparator,
        L"Uninstalling (PF/6.base/w)",
        qx,
        L"The QXPIM Setup Process return code is (7).Stopping the uninstallation process.",
        L"Uninstall failed for (PF/6.base/w)",
        kSeparator,
    };
    EXPECT_EQ(run.messages(), expectedLog);
    for (const auto& line : run.lines) {
        bool verdictError = line.message.find(L"Stopping") != std::wstring::npos;
        EXPECT_EQ(line.level, verdictError ? zoka::LEVEL_ERROR : zoka::LEVEL_INFO)
            << zoka::toUtf8(line.message);
        EXPECT_EQ(line.tag1, L"");
    }

    // One launch per product, in key order, each with the right program.
    auto records = setup.records();
    ASSERT_EQ(records.size(), 6u);
    const wchar_t* families[] = {L"VELT", L"QX", L"VELT", L"QX", L"VELT", L"QX"};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].get("family"), families[i]) << i;
        EXPECT_EQ(records[i].get("program"), i % 2 == 0 ? setup.veltPath() : setup.qxBoxPath());
    }
    EXPECT_TRUE(run.leftovers.empty()) << "the run folder is removed at the end of the run";

    // The record has every product in run order with its setup program's answer.
    ASSERT_EQ(run.record.products.size(), 6u);
    EXPECT_EQ(run.record.products[3].outcome, velkaro::ProductOutcome::NotFound);
    EXPECT_EQ(run.record.products[3].exitCode, 135);
    EXPECT_EQ(run.record.qxSetupPath, setup.qxBoxPath());
}

TEST(UninstallRun, MissingFamilyProgramsIgnoreTheirProducts) {
    struct Case {
        const char* name;
        bool velt, qx;
        std::vector<std::wstring> missingLines;
        std::vector<std::wstring> ignored, removed;
    };
    const Case cases[] = {
        {"only QX", false, true, {L"VELT Runtime not found!"}, {L"A", L"C"}, {L"B", L"D"}},
        {"only VELT", true, false, {L"QX Runtime not found!"}, {L"B", L"D"}, {L"A", L"C"}},
        // With no program at all no product is attempted and none lands in any set.
        {"none", false, false, {L"VELT Runtime not found!", L"QX Runtime not found!"}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetupPrograms setup;
        REQUIRE_USABLE(setup);
        if (c.velt)
            setup.install(setup.veltPath());
        if (c.qx)
            setup.install(setup.qxCorePath());
        ProductUninstaller uninstaller;
        uninstaller.productsToRemove.insert(product(velkaro::VELT, L"A", L"1", L"w"));
        uninstaller.productsToRemove.insert(product(velkaro::QX, L"B", L"1", L"w"));
        uninstaller.productsToRemove.insert(product(velkaro::VELT, L"C", L"1", L"w"));
        uninstaller.productsToRemove.insert(product(velkaro::QX, L"D", L"1", L"w"));
        RunResult run(setup, uninstaller);
        EXPECT_TRUE(run.result);
        EXPECT_EQ(codes(uninstaller.ignoredProducts), c.ignored);
        EXPECT_EQ(codes(uninstaller.removedProducts), c.removed);
        EXPECT_TRUE(uninstaller.failedProducts.empty());
        EXPECT_TRUE(uninstaller.notFoundProducts.empty());

        // The missing-program lines come once, first, on the console and as log errors.
        ASSERT_GE(run.out.size(), c.missingLines.size());
        EXPECT_EQ(std::vector<std::wstring>(
                      run.out.begin(), run.out.begin() + static_cast<long>(c.missingLines.size())),
                  c.missingLines);
        std::vector<std::wstring> errors;
        for (const auto& line : run.lines)
            if (line.level == zoka::LEVEL_ERROR)
                errors.push_back(line.message);
        EXPECT_EQ(errors, c.missingLines);
        // Ignored products print nothing; each processed one prints three lines.
        EXPECT_EQ(run.out.size(), c.missingLines.size() + 3 * c.removed.size());
        for (const auto& line : run.out) {
            for (const auto& sap : c.ignored) {
                EXPECT_EQ(line.find(L"(" + sap + L"/"), std::wstring::npos) << zoka::toUtf8(line);
            }
        }
        EXPECT_EQ(setup.records().size(), c.removed.size());
        EXPECT_TRUE(run.leftovers.empty());
    }
}

TEST(UninstallRun, ProductTextsAreNeverFormats) {
    SetupPrograms setup;
    REQUIRE_USABLE(setup);
    setup.install(setup.veltPath(), "33");
    ProductUninstaller uninstaller;
    uninstaller.productsToRemove.insert(product(velkaro::VELT, L"P%s%n", L"1%d", L"w%%\u00e9"));
    RunResult run(setup, uninstaller);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(codes(uninstaller.notFoundProducts), std::vector<std::wstring>{L"P%s%n"});
    const std::vector<std::wstring> expected{
        L"QX Runtime not found!", L"Uninstalling (P%s%n/1%d/w%%\u00e9)",
        L"Not found on system (P%s%n/1%d/w%%\u00e9)", kSeparator};
    EXPECT_EQ(run.out, expected);
    std::vector<std::wstring> logged;
    for (const auto& line : run.lines)
        if (line.message.find(L"P%s") != std::wstring::npos)
            logged.push_back(line.message);
    EXPECT_EQ(logged, (std::vector<std::wstring>{expected[1], expected[2]}));
}

TEST(UninstallRun, ResultSetsAreAddedToNotCleared) {
    SetupPrograms setup;
    REQUIRE_USABLE(setup);
    setup.install(setup.qxBoxPath());
    ProductUninstaller uninstaller;
    uninstaller.removedProducts.insert(product(velkaro::QX, L"EARLIER", L"1", L"w"));
    uninstaller.productsToRemove.insert(product(velkaro::QX, L"NOW", L"1", L"w"));
    RunResult run(setup, uninstaller);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(codes(uninstaller.removedProducts), (std::vector<std::wstring>{L"EARLIER", L"NOW"}));
}

}  // namespace
