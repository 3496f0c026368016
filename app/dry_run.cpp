#include "app/dry_run.h"

#include <utility>

#include "app/report.h"
#include "app/result_file.h"
#include "config/product_uninstaller.h"
#include "engine/media_uninstaller.h"
#include "engine/setup_command.h"
#include "support/console.h"
#include "support/xml_parser.h"

namespace velkaro {

namespace {

void textLine(zoka::Logger& logger, const std::wstring& text) {
    logger.info(L"%s", text.c_str());
    zoka::console::out({text});
}

std::wstring productText(const UninstallProduct& product) {
    return L"(" + product.sapCode + L"/" + product.baseVersion + L"/" + product.platform + L")";
}

std::wstring familyName(InstallerFamily family) {
    return family == VELT ? L"VELT" : L"QX";
}

}  // namespace

DryRunReport planDryRun(const std::wstring& configPath) {
    DryRunReport report;
    {
        // One parse feeds both the product list and the findings.
        zoka::XMLParser parser;
        ProductUninstaller uninstaller;
        report.loaded = uninstaller.loadUninstallConfig(configPath, parser);
        if (report.loaded)
            report.products = uninstaller.productsToRemove;
        report.findings = checkLoadedConfig(parser, configPath);
    }

    // Only locates the setup programs: the run folder is made on first use, which never comes.
    MediaUninstaller media;
    report.veltSetupPath = media.veltSetupPath;
    report.qxSetupPath = media.qxSetupPath;
    for (const UninstallProduct& product : report.products) {
        PlannedCommand planned{product, L""};
        if (product.family == VELT && !media.veltSetupPath.empty())
            planned.commandLine =
                setupCommandLine(veltSetupCommand(media.veltSetupPath, kDeploymentFilePlaceholder));
        else if (product.family == QX && !media.qxSetupPath.empty())
            planned.commandLine =
                setupCommandLine(qxSetupCommand(media.qxSetupPath, kDriverFilePlaceholder));
        report.commands.push_back(std::move(planned));
    }
    return report;
}

void printDryRun(zoka::Logger& logger, const DryRunReport& report) {
    if (report.loaded)
        printProductListing(logger, report.products, true);

    textLine(logger, L"Setup programs:");
    textLine(logger, L"\t\tVELT: " +
                         (report.veltSetupPath.empty() ? L"none installed" : report.veltSetupPath));
    textLine(logger,
             L"\t\tQX: " + (report.qxSetupPath.empty() ? L"none installed" : report.qxSetupPath));

    if (report.loaded && !report.commands.empty()) {
        textLine(logger, L"Commands that a run would start:");
        for (const PlannedCommand& planned : report.commands) {
            const std::wstring what = planned.commandLine.empty()
                                          ? L"ignored, no " + familyName(planned.product.family) +
                                                L" setup program is installed"
                                          : planned.commandLine;
            textLine(logger, L"\t\t" + productText(planned.product) + L" " + what);
        }
    }

    printConfigCheck(logger, report.findings, report.valid());
}

void printConfigCheck(zoka::Logger& logger, const std::vector<ConfigFinding>& findings,
                      bool valid) {
    textLine(logger, L"Configuration check:");
    for (const ConfigFinding& finding : findings) {
        const std::wstring text = findingText(finding);
        logger.error(L"", L"\t\t%s", text.c_str());
        zoka::console::out({L"\t\t", text});
    }
    if (valid)
        textLine(logger, L"The configuration is valid. Nothing was started.");
    else
        textLine(logger, L"The configuration is not valid (" + std::to_wstring(findings.size()) +
                             L" finding(s)). Nothing was started.");
}

void recordDryRun(const DryRunReport& report, RunRecord& record) {
    record.dryRun = true;
    record.setupsLocated = report.loaded;
    record.veltSetupPath = report.veltSetupPath;
    record.qxSetupPath = report.qxSetupPath;
    record.products.clear();
    for (const PlannedCommand& command : report.commands) {
        ProductRecord entry;
        entry.product = command.product;
        // A run ignores a product whose family has no setup program.
        entry.outcome =
            command.commandLine.empty() ? ProductOutcome::Ignored : ProductOutcome::NotAttempted;
        entry.commandLine = command.commandLine;
        record.products.push_back(entry);
    }
    record.findings = report.findings;
    if (!report.loaded)
        record.refusal = refusalWord(resultformat::Refusal::ConfigUnloadable);
    else if (!report.findings.empty())
        record.refusal = refusalWord(resultformat::Refusal::ConfigInvalid);
}

int runDryRun(zoka::Logger& logger, const std::wstring& configPath, RunRecord* record) {
    textLine(logger, L"Dry run: checking the configuration; nothing will be started.");
    const DryRunReport report = planDryRun(configPath);
    printDryRun(logger, report);
    if (record != nullptr)
        recordDryRun(report, *record);
    return report.valid() ? 0 : 1;
}

}  // namespace velkaro
