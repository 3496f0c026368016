#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/report.h"
#include "logging/format.h"
#include "logging/registry.h"
#include "support/console.h"

namespace velkaro {
namespace {

// Keeps each wide message as the file target would format it, with its level.
class CaptureTarget : public zoka::LogTargetBase {
public:
    explicit CaptureTarget(const std::wstring& key) : LogTargetBase(key) {}
    bool openFile(zoka::FileHandle&) override { return true; }
    bool open() override { return true; }
    bool close() override { return true; }
    bool write(zoka::LogLevel, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
               const char*, const char*, const char*, va_list*, int64_t) override {
        return true;
    }
    bool write(zoka::LogLevel level, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
               const wchar_t*, const wchar_t*, const wchar_t* format, va_list* args,
               int64_t) override {
        std::wstring message = args ? zoka::formatWide(format, *args, 4095) : format;
        lines.push_back(zoka::levelName(level) + L" " + message);
        return true;
    }
    std::vector<std::wstring> lines;
};

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The registry keeps targets for the whole process: one target, kept as long.
        static CaptureTarget* target = [] {
            auto* t = new CaptureTarget(L"velkaro-report-test");
            zoka::LogTargetRegistry::instance().addTarget(t);
            return t;
        }();
        target_ = target;
        target_->lines.clear();
        logger_.targetKey = L"velkaro-report-test";
        zoka::console::setSink([this](zoka::console::Stream stream, const std::wstring& text) {
            console_.push_back((stream == zoka::console::Stream::Out ? L"out " : L"err ") + text);
        });
    }
    void TearDown() override { zoka::console::setSink(nullptr); }

    // Every line goes to the log at INFO and to standard output, in the same words.
    void expectLines(const std::vector<std::wstring>& lines) {
        std::vector<std::wstring> log, out;
        for (const std::wstring& line : lines) {
            log.push_back(L"INFO " + line);
            out.push_back(L"out " + line);
        }
        EXPECT_EQ(target_->lines, log);
        EXPECT_EQ(console_, out);
    }

    static UninstallProduct product(const wchar_t* sap, const wchar_t* version, const wchar_t* base,
                                    const wchar_t* platform, InstallerFamily family = QX) {
        UninstallProduct p;
        p.sapCode = sap;
        p.version = version;
        p.baseVersion = base;
        p.platform = platform;
        p.family = family;
        return p;
    }

    CaptureTarget* target_ = nullptr;
    zoka::Logger logger_;
    std::vector<std::wstring> console_;
};

const std::wstring kStars(50, L'*');

TEST_F(ReportTest, EmptyListingIsOneLine) {
    printProductListing(logger_, ProductSet{});
    expectLines({L"No Product specified to be uninstalled ..."});
}

TEST_F(ReportTest, ListingInKeyOrderShowsBaseVersion) {
    ProductSet set;
    set.insert(product(L"ZZZ", L"1.0", L"1", L"win64"));
    set.insert(product(L"AAA", L"2.0", L"2.0", L"win32", VELT));
    set.insert(product(L"AAA", L"10.0", L"10", L"win32"));  // "1" sorts before "2"
    printProductListing(logger_, set);
    expectLines({L"Products to be uninstalled:", L"\t\t(AAA/10/win32)", L"\t\t(AAA/2.0/win32)",
                 L"\t\t(ZZZ/1/win64)", kStars, L"Attempting to uninstall the above products ..."});
}

TEST_F(ReportTest, PercentAndNonAsciiAreTextNotFormat) {
    ProductSet set;
    set.insert(product(L"%s%n%d", L"1", L"100%", L"\u00e9\u4e2d\U0001F600"));
    printProductListing(logger_, set);
    expectLines({L"Products to be uninstalled:", L"\t\t(%s%n%d/100%/\u00e9\u4e2d\U0001F600)",
                 kStars, L"Attempting to uninstall the above products ..."});
}

TEST_F(ReportTest, SummaryWithNothingIsOneLine) {
    ProductUninstaller uninstaller;
    printRunSummary(logger_, uninstaller);
    expectLines({L"Summary:"});
}

TEST_F(ReportTest, SummaryShowsNonEmptySetsInFixedOrder) {
    ProductUninstaller uninstaller;
    uninstaller.notFoundProducts.insert(product(L"N", L"1", L"1", L"p"));
    uninstaller.failedProducts.insert(product(L"F2", L"1", L"1", L"p"));
    uninstaller.failedProducts.insert(product(L"F1", L"1", L"1", L"p"));
    uninstaller.removedProducts.insert(product(L"R", L"1", L"1", L"p"));
    printRunSummary(logger_, uninstaller);
    expectLines({L"Summary:", kStars, L"Removed products:", L"\t\t(R/1/p)", kStars,
                 L"Failed products:", L"\t\t(F1/1/p)", L"\t\t(F2/1/p)", kStars,
                 L"Products not found on the system:", L"\t\t(N/1/p)"});

    target_->lines.clear();
    console_.clear();
    ProductUninstaller onlyIgnored;
    onlyIgnored.ignoredProducts.insert(product(L"I", L"1", L"1", L"p"));
    printRunSummary(logger_, onlyIgnored);
    expectLines({L"Summary:", kStars, L"Ignored products:", L"\t\t(I/1/p)"});
}

// A stopped run says so last, before what it left out; even when it left nothing out.
TEST_F(ReportTest, StoppedSummarySaysWhyBeforeTheProductsLeftOut) {
    ProductUninstaller uninstaller;
    uninstaller.removedProducts.insert(product(L"R", L"1", L"1", L"p"));
    uninstaller.notAttemptedProducts.insert(product(L"N", L"1", L"1", L"p"));
    const std::wstring stopped =
        L"The run was stopped by a stop request (SIGTERM): no product was started after it.";
    printRunSummary(logger_, uninstaller, L"SIGTERM");
    expectLines({L"Summary:", kStars, L"Removed products:", L"\t\t(R/1/p)", kStars, stopped, kStars,
                 L"Not attempted products:", L"\t\t(N/1/p)"});

    target_->lines.clear();
    console_.clear();
    uninstaller.notAttemptedProducts.clear();
    printRunSummary(logger_, uninstaller, L"SIGTERM");
    expectLines({L"Summary:", kStars, L"Removed products:", L"\t\t(R/1/p)", kStars, stopped});
}

}  // namespace
}  // namespace velkaro
