// The strict configuration check, and what an ordinary load does with a foreign root element and
// with elements the format does not know.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/unicode.h"
#include "config/capture.h"
#include "config/config_check.h"
#include "config/product_uninstaller.h"
#include "support/xml_parser.h"
#include "test_util.h"

namespace {

using velkaro::ConfigFinding;
using velkaro::FindingKind;

const std::wstring kVelt = L"/ZephUninstallXML/UninstallInfo/VELT/Products/Product";
const std::wstring kQx = L"/ZephUninstallXML/UninstallInfo/QX/Products/Product";

// One element per line, so each finding's line is the line of its element.
const char kVeltOk[] =
    "<Product>\n<SapCode>V</SapCode>\n<Version>1</Version>\n<Platform>w</Platform>\n"
    "<DeploymentUninstall><Deployment/></DeploymentUninstall>\n</Product>\n";

std::string config(const std::string& velt, const std::string& qx = "") {
    return "<ZephUninstallXML>\n<UninstallInfo>\n<VELT>\n<Products>\n" + velt +
           "</Products>\n</VELT>\n<QX>\n<Products>\n" + qx +
           "</Products>\n</QX>\n</UninstallInfo>\n</ZephUninstallXML>\n";
}

/// Whether the XML service reports source lines (libxml2 does, MSXML does not).
bool serviceGivesLines() {
    zoka::XMLParser parser;
    std::vector<zoka::XmlElement> roots;
    return parser.initWithXMLString(L"<a/>") && parser.getChildElements({}, roots) &&
           !roots.empty() && roots[0].line > 0;
}

struct Expect {
    FindingKind kind;
    std::wstring element;
    std::wstring path;
    long line;
    long firstLine = 0;  // DuplicateProduct
};

TEST(ConfigCheck, EachKindOfFindingNamesTheElementAndItsPlace) {
    const bool lines = serviceGivesLines();
    struct Case {
        const char* name;
        std::string xml;
        std::vector<Expect> findings;
    };
    const Case cases[] = {
        {"valid",
         config(kVeltOk,
                "<Product><SapCode>Q</SapCode><Version>1</Version>"
                "<Platform>w</Platform><BaseVersion>1</BaseVersion></Product>"),
         {}},
        {"foreign root",
         "<ZephUninstalXML>\n<UninstallInfo/>\n</ZephUninstalXML>",
         {{FindingKind::WrongRoot, L"ZephUninstalXML", L"/ZephUninstalXML", 1}}},
        {"misspelt family",
         "<ZephUninstallXML>\n<UninstallInfo>\n<Qx><Products/></Qx>\n<Info/>\n"
         "</UninstallInfo>\n<UninstallInfo/>\n</ZephUninstallXML>",
         {{FindingKind::UnknownElement, L"Qx", L"/ZephUninstallXML/UninstallInfo[0]/Qx", 3},
          {FindingKind::UnknownElement, L"Info", L"/ZephUninstallXML/UninstallInfo[0]/Info", 4}}},
        {"unknown under Products and Product",
         config(std::string(kVeltOk) + "<Produkt/>\n" +
                "<Product>\n<SapCode>W</SapCode>\n<Version>1</Version>\n<Platform>w</Platform>\n"
                "<Extra/>\n<DeploymentUninstall><Deployment/></DeploymentUninstall>\n</Product>\n"),
         {{FindingKind::UnknownElement, L"Produkt",
           L"/ZephUninstallXML/UninstallInfo/VELT/Products/Produkt", 11},
          {FindingKind::UnknownElement, L"Extra", kVelt + L"[1]/Extra", 16}}},
        {"empty and blank values",
         config("<Product>\n<SapCode></SapCode>\n<Version> \n</Version>\n<Platform>w</Platform>\n"
                "<DeploymentUninstall><Deployment/></DeploymentUninstall>\n</Product>\n",
                "<Product>\n<SapCode>Q</SapCode>\n<Version>1</Version>\n<Platform>w</Platform>\n"
                "<BaseVersion/>\n</Product>\n"),
         {{FindingKind::EmptyValue, L"SapCode", kVelt + L"[0]/SapCode", 6},
          {FindingKind::EmptyValue, L"Version", kVelt + L"[0]/Version", 7},
          {FindingKind::EmptyValue, L"BaseVersion", kQx + L"[0]/BaseVersion", 20}}},
        {"missing values",
         config("<Product>\n<Version>1</Version>\n<Platform>w</Platform>\n</Product>\n",
                "<Product>\n<SapCode>Q</SapCode>\n<Version>1</Version>\n<Platform>w</Platform>\n"
                "</Product>\n"),
         {{FindingKind::MissingValue, L"SapCode", kVelt + L"[0]", 5},
          {FindingKind::MissingValue, L"DeploymentUninstall/Deployment", kVelt + L"[0]", 5},
          {FindingKind::MissingValue, L"BaseVersion", kQx + L"[0]", 13}}},
        // Two products without their keys have no key to share: neither is a duplicate.
        {"keys missing twice",
         config("<Product>\n<Platform>w</Platform>\n"
                "<DeploymentUninstall><Deployment/></DeploymentUninstall>\n</Product>\n"
                "<Product>\n<Platform>w</Platform>\n"
                "<DeploymentUninstall><Deployment/></DeploymentUninstall>\n</Product>\n"),
         {{FindingKind::MissingValue, L"SapCode", kVelt + L"[0]", 5},
          {FindingKind::MissingValue, L"Version", kVelt + L"[0]", 5},
          {FindingKind::MissingValue, L"SapCode", kVelt + L"[1]", 9},
          {FindingKind::MissingValue, L"Version", kVelt + L"[1]", 9}}},
        // The same key twice in one family and once across both: each names the first.
        {"duplicates",
         config(std::string(kVeltOk) + kVeltOk,
                "<Product>\n<SapCode>V</SapCode>\n<Version>1</Version>\n<Platform>w</Platform>\n"
                "<BaseVersion>1</BaseVersion>\n</Product>\n"),
         {{FindingKind::DuplicateProduct, L"V_1_w", kVelt + L"[1]", 11, 5},
          {FindingKind::DuplicateProduct, L"V_1_w", kQx + L"[0]", 21, 5}}},
    };
    testutil::ScratchDir dir(L"check");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::writeBytes(dir.file(L"c.xml"), c.xml);
        const std::vector<ConfigFinding> found = velkaro::checkConfigFile(dir.file(L"c.xml"));
        ASSERT_EQ(found.size(), c.findings.size());
        for (size_t i = 0; i < found.size(); ++i) {
            SCOPED_TRACE(zoka::toUtf8(velkaro::findingText(found[i])));
            EXPECT_EQ(found[i].kind, c.findings[i].kind);
            EXPECT_EQ(found[i].element, c.findings[i].element);
            EXPECT_EQ(found[i].place.path, c.findings[i].path);
            EXPECT_EQ(found[i].place.line, lines ? c.findings[i].line : 0);
            if (c.findings[i].kind == FindingKind::DuplicateProduct) {
                EXPECT_EQ(found[i].firstPlace.path, kVelt + L"[0]");
                EXPECT_EQ(found[i].firstPlace.line, lines ? c.findings[i].firstLine : 0);
            }
        }
    }
}

// An ordinary load refuses a foreign root, and warns about unknown elements but loads the rest.
TEST(ConfigLoader, ForeignRootIsRefusedAndUnknownElementsWarn) {
    const bool lines = serviceGivesLines();
    struct Case {
        const char* name;
        std::string xml;
        bool loads;
        size_t products;
        std::vector<std::wstring> warnings;  // log and console alike
        std::wstring error;
    };
    const std::wstring at3 = lines ? L" (line 3)" : L"";
    const Case cases[] = {
        {"foreign root",
         "<Config><UninstallInfo/></Config>",
         false,
         0,
         {},
         L"Not an uninstall configuration: the root element (Config) is not ZephUninstallXML."},
        {"unknown family",
         "<ZephUninstallXML>\n<UninstallInfo>\n<Qx/>\n</UninstallInfo>\n</ZephUninstallXML>",
         true,
         0,
         {L"Unknown element (Qx) ignored at /ZephUninstallXML/UninstallInfo/Qx" + at3},
         L""},
        {"unknown field, product still read",
         config(std::string(kVeltOk).insert(10, "<Sapcode/>")),
         true,
         1,
         {L"Unknown element (Sapcode) ignored at " + kVelt + L"[0]/Sapcode" +
          (lines ? L" (line 6)" : L"")},
         L""},
    };
    testutil::ScratchDir dir(L"check");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::writeBytes(dir.file(L"c.xml"), c.xml);
        configtest::LogCapture log;
        configtest::ConsoleCapture console;
        velkaro::ProductUninstaller uninstaller;
        EXPECT_EQ(uninstaller.loadUninstallConfig(dir.file(L"c.xml")), c.loads);
        EXPECT_EQ(uninstaller.productsToRemove.size(), c.products);
        EXPECT_EQ(log.messagesAt(zoka::LEVEL_WARN), c.warnings);
        if (c.loads) {
            EXPECT_TRUE(log.messagesAt(zoka::LEVEL_ERROR).empty());
            EXPECT_EQ(std::vector<std::wstring>(console.out.begin(),
                                                console.out.begin() + c.warnings.size()),
                      c.warnings);
        } else {
            EXPECT_EQ(log.messagesAt(zoka::LEVEL_ERROR), std::vector<std::wstring>{c.error});
            EXPECT_EQ(console.out, std::vector<std::wstring>{c.error});
        }
    }
}

}  // namespace
