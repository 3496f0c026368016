#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/unicode.h"
#include "config/capture.h"
#include "config/product_uninstaller.h"
#include "test_util.h"

namespace {

using velkaro::ProductUninstaller;
using velkaro::UninstallProduct;

const wchar_t kVeltItem[] = L"/ZephUninstallXML/UninstallInfo/VELT/Products/Product";
const wchar_t kQxItem[] = L"/ZephUninstallXML/UninstallInfo/QX/Products/Product";

std::string veltProduct(const std::string& sap, const std::string& version,
                        const std::string& platform, const std::string& extra = "") {
    return "<Product><SapCode>" + sap + "</SapCode><Version>" + version + "</Version><Platform>" +
           platform + "</Platform>" + extra + "<DeploymentUninstall><Deployment id=\"" + sap +
           "\"><Payload>x</Payload></Deployment></DeploymentUninstall></Product>";
}

std::string qxProduct(const std::string& sap, const std::string& version,
                      const std::string& platform, const std::string& base,
                      const std::string& extra = "") {
    return "<Product><SapCode>" + sap + "</SapCode><Version>" + version + "</Version><Platform>" +
           platform + "</Platform><BaseVersion>" + base + "</BaseVersion>" + extra + "</Product>";
}

std::string document(const std::string& velt, const std::string& qx) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ZephUninstallXML><UninstallInfo>" + velt +
           qx + "</UninstallInfo></ZephUninstallXML>\n";
}
std::string veltList(const std::string& products) {
    return "<VELT><Products>" + products + "</Products></VELT>";
}
std::string qxList(const std::string& products) {
    return "<QX><Products>" + products + "</Products></QX>";
}

/// Loads `xml` from a scratch file, capturing log and console.
struct Load {
    explicit Load(const std::string& xml) {
        testutil::writeBytes(dir.file(L"VelkaroConfig.xml"), xml);
        result = uninstaller.loadUninstallConfig(dir.file(L"VelkaroConfig.xml"));
    }
    std::vector<UninstallProduct> products() const {
        return {uninstaller.productsToRemove.begin(), uninstaller.productsToRemove.end()};
    }
    std::vector<std::wstring> sapCodes() const {
        std::vector<std::wstring> codes;
        for (const auto& p : uninstaller.productsToRemove)
            codes.push_back(p.sapCode);
        return codes;
    }

    testutil::ScratchDir dir{L"config"};
    configtest::LogCapture log;
    configtest::ConsoleCapture console;
    ProductUninstaller uninstaller;
    bool result = false;
};

TEST(ConfigLoader, ReadsBothFamiliesInKeyOrder) {
    Load load(
        document(veltList(veltProduct("ZZZ", "1.0", "win64", "<BaseVersion>9.9</BaseVersion>") +
                          veltProduct("AAA", "2.0", "osx10")),
                 qxList(qxProduct("MMM", "16.0.1", "win32", "16.0",
                                  "<DeploymentUninstall><Deployment/></DeploymentUninstall>") +
                        qxProduct("BBB", "3", "win64", "3.0"))));
    ASSERT_TRUE(load.result);
    EXPECT_EQ(load.sapCodes(), (std::vector<std::wstring>{L"AAA", L"BBB", L"MMM", L"ZZZ"}));

    auto products = load.products();
    const UninstallProduct& aaa = products[0];
    EXPECT_EQ(aaa.family, velkaro::VELT);
    EXPECT_EQ(aaa.version, L"2.0");
    EXPECT_EQ(aaa.baseVersion, L"2.0");
    EXPECT_EQ(aaa.platform, L"osx10");
    // The whole element, attributes and content, is kept as markup.
    EXPECT_NE(aaa.deploymentXml.find(L"<Deployment"), std::wstring::npos) << aaa.deploymentXml;
    EXPECT_NE(aaa.deploymentXml.find(L"AAA"), std::wstring::npos) << aaa.deploymentXml;
    EXPECT_NE(aaa.deploymentXml.find(L"<Payload>x</Payload>"), std::wstring::npos);

    const UninstallProduct& mmm = products[2];
    EXPECT_EQ(mmm.family, velkaro::QX);
    EXPECT_EQ(mmm.version, L"16.0.1");
    EXPECT_EQ(mmm.baseVersion, L"16.0");
    EXPECT_EQ(mmm.platform, L"win32");
    EXPECT_TRUE(mmm.deploymentXml.empty()) << "a QX product's DeploymentUninstall is ignored";

    EXPECT_EQ(products[3].baseVersion, L"1.0") << "a VELT product's BaseVersion is ignored";
    EXPECT_TRUE(load.log.lines.empty());
    EXPECT_TRUE(load.console.out.empty());
}

TEST(ConfigLoader, DuplicateKeysKeepTheFirstAndVeltWinsAcrossFamilies) {
    Load load(document(
        veltList(veltProduct("DUP", "1", "win64") + veltProduct("SAME", "1", "win64") +
                 veltProduct("SAME", "1", "win64", "<Extra/>")),
        qxList(qxProduct("DUP", "1", "win64", "0.9") + qxProduct("Q", "1", "win64", "first") +
               qxProduct("Q", "1", "win64", "second"))));
    ASSERT_TRUE(load.result);
    auto products = load.products();
    ASSERT_EQ(products.size(), 3u);
    EXPECT_EQ(products[0].sapCode, L"DUP");
    EXPECT_EQ(products[0].family, velkaro::VELT);
    EXPECT_EQ(products[0].baseVersion, L"1");
    EXPECT_EQ(products[1].sapCode, L"Q");
    EXPECT_EQ(products[1].baseVersion, L"first");
    EXPECT_EQ(products[2].sapCode, L"SAME");
}

TEST(ConfigLoader, ProductsWhoseJoinedKeysCollideAreOneProduct) {
    // "A_1" + "2" and "A" + "1_2" join to the same key: the first one read (VELT) stays.
    Load load(document(veltList(veltProduct("A_1", "2", "win64")),
                       qxList(qxProduct("A", "1_2", "win64", "1"))));
    ASSERT_TRUE(load.result);
    auto products = load.products();
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(products[0].sapCode, L"A_1");
    EXPECT_EQ(products[0].family, velkaro::VELT);
}

TEST(ConfigLoader, EmptyAndAbsentListsLoadNothing) {
    struct Case {
        const char* name;
        std::string xml;
        std::vector<std::wstring> info;
    };
    const std::wstring noVelt = L"No VELT products specified for uninstallation ...";
    const std::wstring noQx = L"No QX products specified for uninstallation ...";
    const Case cases[] = {
        {"no families", document("", ""), {noVelt, noQx}},
        {"empty lists", document(veltList(""), qxList("")), {noVelt, noQx}},
        {"VELT without Products",
         document("<VELT/>", qxList(qxProduct("Q", "1", "w", "1"))),
         {noVelt}},
        {"QX absent", document(veltList(veltProduct("V", "1", "w")), ""), {noQx}},
        {"bare root", "<ZephUninstallXML/>", {noVelt, noQx}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load load(c.xml);
        EXPECT_TRUE(load.result);
        EXPECT_EQ(load.log.messagesAt(zoka::LEVEL_INFO), c.info);
        EXPECT_TRUE(load.log.messagesAt(zoka::LEVEL_ERROR).empty());
        EXPECT_TRUE(load.console.out.empty());
    }
}

TEST(ConfigLoader, MissingFieldStopsTheLoadAndKeepsEarlierProducts) {
    struct Case {
        const char* name;
        std::string xml;
        std::wstring prefix;  // the failing item
        std::vector<std::wstring> kept;
        bool veltFailed;
        const wchar_t* missing;  // the element the INFO line names
    };
    const std::string good1 = veltProduct("V1", "1", "w");
    const std::string good3 = veltProduct("V3", "1", "w");
    const std::string qxGood = qxProduct("Q0", "1", "w", "1");
    const std::string qxTail = qxList(qxProduct("QT", "1", "w", "1"));
    const Case cases[] = {
        {"VELT without SapCode",
         document(veltList(good1 +
                           "<Product><Version>1</Version><Platform>w</Platform>"
                           "<DeploymentUninstall><Deployment/></DeploymentUninstall>"
                           "</Product>" +
                           good3),
                  qxTail),
         std::wstring(kVeltItem) + L"[1]/",
         {L"V1"},
         true,
         L"SapCode"},
        {"VELT without Version",
         document(veltList(good1 + "<Product><SapCode>V2</SapCode><Platform>w</Platform>"
                                   "<DeploymentUninstall><Deployment/></DeploymentUninstall>"
                                   "</Product>"),
                  qxTail),
         std::wstring(kVeltItem) + L"[1]/",
         {L"V1"},
         true,
         L"Version"},
        {"VELT without Platform",
         document(veltList("<Product><SapCode>V0</SapCode><Version>1</Version>"
                           "<DeploymentUninstall><Deployment/></DeploymentUninstall>"
                           "</Product>" +
                           good1),
                  qxTail),
         std::wstring(kVeltItem) + L"[0]/",
         {},
         true,
         L"Platform"},
        {"VELT without Deployment",
         document(veltList(good1 + good3 +
                           "<Product><SapCode>V4</SapCode><Version>1</Version><Platform>w"
                           "</Platform><DeploymentUninstall/></Product>"),
                  qxTail),
         std::wstring(kVeltItem) + L"[2]/",
         {L"V1", L"V3"},
         true,
         L"DeploymentUninstall/Deployment"},
        {"QX without BaseVersion",
         document(veltList(good1),
                  qxList(qxGood +
                         "<Product><SapCode>Q1</SapCode><Version>1</Version><Platform>w"
                         "</Platform></Product>" +
                         qxProduct("Q2", "1", "w", "1"))),
         std::wstring(kQxItem) + L"[1]/",
         {L"Q0", L"V1"},
         false,
         L"BaseVersion"},
        {"QX without SapCode",
         document("", qxList("<Product><Version>1</Version><Platform>w</Platform>"
                             "<BaseVersion>1</BaseVersion></Product>")),
         std::wstring(kQxItem) + L"[0]/",
         {},
         false,
         L"SapCode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load load(c.xml);
        EXPECT_FALSE(load.result);
        EXPECT_EQ(load.sapCodes(), c.kept);
        std::wstring family = c.veltFailed ? L"VELT" : L"QX";
        ASSERT_EQ(load.log.messagesAt(zoka::LEVEL_ERROR).size(), 1u);
        EXPECT_EQ(
            load.log.messagesAt(zoka::LEVEL_ERROR)[0],
            L"Failed to parse the " + family + L" products uninstall info (" + c.prefix + L")...");
        for (const auto& line : load.log.lines)
            if (line.level == zoka::LEVEL_ERROR) {
                EXPECT_EQ(line.tag1, L"");
            }
        EXPECT_EQ(load.console.out,
                  std::vector<std::wstring>{L"Failed to parse the products uninstall info ..." +
                                            c.prefix});
        const std::wstring missingLine =
            L"The product at " + c.prefix + L" has no readable element " + c.missing + L".";
        if (c.veltFailed) {
            // The QX list is never read after a VELT failure.
            EXPECT_EQ(load.log.messagesAt(zoka::LEVEL_INFO),
                      std::vector<std::wstring>{missingLine});
        } else {
            EXPECT_EQ(load.log.messagesAt(zoka::LEVEL_INFO).back(), missingLine);
        }
    }
}

TEST(ConfigLoader, UnloadableFileFails) {
    testutil::ScratchDir dir(L"config");
    struct Case {
        const char* name;
        std::wstring path;
        bool parsed;  // the XML service read text and says where it broke
    };
    testutil::writeBytes(dir.file(L"broken.xml"), "<ZephUninstallXML>\n<UninstallInfo>");
    const Case cases[] = {{"missing file", dir.file(L"absent.xml"), false},
                          {"malformed document", dir.file(L"broken.xml"), true},
                          {"a folder", dir.path(), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        configtest::LogCapture log;
        configtest::ConsoleCapture console;
        ProductUninstaller uninstaller;
        EXPECT_FALSE(uninstaller.loadUninstallConfig(c.path));
        EXPECT_TRUE(uninstaller.productsToRemove.empty());
        ASSERT_GE(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].level, zoka::LEVEL_ERROR);
        EXPECT_EQ(log.lines[0].message, L"Initialize with XML failed!");
        ASSERT_GE(console.out.size(), 1u);
        EXPECT_EQ(console.out[0], L"Initialize with XML failed!");
        // The service's reason follows in both places when it gave one (a parse always does).
        ASSERT_EQ(log.lines.size(), console.out.size());
        if (c.parsed) {
            ASSERT_EQ(log.lines.size(), 2u);
            // Windows' MSXML gives the place too; Wine's gives only the word "error".
            const std::wstring expected =
                testutil::isPosix() ? L"XML parse error: line 2, column " : L"XML parse error: ";
            EXPECT_EQ(log.lines[1].message.rfind(expected, 0), 0u)
                << zoka::toUtf8(log.lines[1].message);
        }
        if (log.lines.size() == 2) {
            EXPECT_EQ(log.lines[1].level, zoka::LEVEL_INFO);
            EXPECT_EQ(console.out[1], log.lines[1].message);
        }
    }
}

TEST(ConfigLoader, TextsAreTakenAsTheyAre) {
    // Non-ASCII, format characters, markup escapes and an empty SapCode arrive unchanged.
    Load load(
        document(veltList(veltProduct("", "1", "w") + veltProduct("K\xC3\xA9%s%d", "2", "x&amp;y")),
                 qxList(qxProduct("\xF0\x9F\x98\x80", "1", "&lt;p&gt;", "b"))));
    ASSERT_TRUE(load.result);
    auto products = load.products();
    ASSERT_EQ(products.size(), 3u);
    EXPECT_EQ(products[0].sapCode, L"K\u00e9%s%d");
    EXPECT_EQ(products[0].platform, L"x&y");
    EXPECT_EQ(products[1].sapCode, L"");
    EXPECT_EQ(products[2].sapCode, zoka::fromUtf8("\xF0\x9F\x98\x80"));
    EXPECT_EQ(products[2].platform, L"<p>");
}

TEST(ProductOrder, ComparesUtf16CodeUnitsCaseSensitively) {
    auto product = [](const std::wstring& sap) {
        UninstallProduct p;
        p.sapCode = sap;
        p.version = L"1";
        p.platform = L"w";
        return p;
    };
    velkaro::ProductSet set;
    // U+10000 is a surrogate pair (0xD800 ...) and so sorts below U+FFFD in UTF-16, although
    // its code point is higher.
    for (const wchar_t* sap : {L"b", L"B", L"\uFFFD", L"A", L"AB"})
        set.insert(product(sap));
    set.insert(product(zoka::fromUtf8("\xF0\x90\x80\x80")));
    std::vector<std::wstring> order;
    for (const auto& p : set)
        order.push_back(p.sapCode);
    // Keys, not codes, decide: "AB_1_w" sorts before "A_1_w" since 'B' is below '_'.
    EXPECT_EQ(order, (std::vector<std::wstring>{L"AB", L"A", L"B", L"b",
                                                zoka::fromUtf8("\xF0\x90\x80\x80"), L"\uFFFD"}));
    EXPECT_EQ(velkaro::productKey(product(L"S")), L"S_1_w");
}

}  // namespace
