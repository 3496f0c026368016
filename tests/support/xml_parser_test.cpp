// The XML wrapper's tests, the same for both DOM services (libxml2 on POSIX, MSXML 3.0 on
// Windows and under Wine). Where the services differ, the test says which behaviour it expects.

#include "support/xml_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "base/platform.h"
#include "base/unicode.h"
#include "support_test_util.h"
#include "test_util.h"

namespace {

using supporttest::LibraryLogCapture;
using zoka::LEVEL_DEBUG;
using zoka::LEVEL_ERROR;
using zoka::LEVEL_WARN;
using zoka::XmlNode;
using zoka::XmlNodeList;
using zoka::XMLParser;

const std::wstring kSep(1, zoka::os::pathSeparator());
const std::wstring kVeltList = L"/ZephUninstallXML/UninstallInfo/VELT/Products/Product";
const std::wstring kQxList = L"/ZephUninstallXML/UninstallInfo/QX/Products/Product";
const std::wstring kDeployment =
    L"<Deployment mode=\"silent\"><Item a=\"1\">x &amp; y</Item><Empty/></Deployment>";

struct Product {
    std::wstring sapCode, version, platform;
};
const Product kVelt[] = {
    {L"AAA", L"1.0", L"win64"},
    {L"BBB", L"2.5", L"win32"},
    {L"Caf\u00e9 \u65e5\u672c", L"3", L""},  // non-ASCII, and an empty element
};

// The configuration as the loader reads it: whitespace around values, an attribute on each
// product, a deployment on one line.
std::wstring configuration() {
    std::wstring xml =
        L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ZephUninstallXML>\r\n"
        L" <UninstallInfo>\r\n  <VELT>\r\n   <Products>\r\n";
    int i = 0;
    for (const auto& p : kVelt) {
        xml += L"    <Product id=\"v" + std::to_wstring(i++) + L"\">\r\n";
        xml += L"     <SapCode>" + p.sapCode + L"</SapCode>\r\n";
        xml += L"     <Version>\r\n      " + p.version + L"\r\n     </Version>\r\n";
        xml += L"     <Platform>" + p.platform + L"</Platform>\r\n";
        xml += L"     <DeploymentUninstall>" + kDeployment + L"</DeploymentUninstall>\r\n";
        xml += L"    </Product>\r\n";
    }
    xml +=
        L"   </Products>\r\n  </VELT>\r\n  <QX>\r\n   <Products>\r\n"
        L"    <Product><SapCode>Q1</SapCode><Version>7</Version><Platform>osx</Platform>"
        L"<BaseVersion>7.0</BaseVersion></Product>\r\n"
        L"   </Products>\r\n  </QX>\r\n </UninstallInfo>\r\n</ZephUninstallXML>\r\n";
    return xml;
}

std::wstring item(const std::wstring& list, int i, const std::wstring& field) {
    return list + L"[" + std::to_wstring(i) + L"]/" + field;
}

// Markup without the line breaks and indentation a service may add between elements.
std::wstring compact(std::wstring xml) {
    xml.erase(std::remove_if(xml.begin(), xml.end(),
                             [](wchar_t c) { return c == L'\r' || c == L'\n' || c == L'\t'; }),
              xml.end());
    return xml;
}

class XmlParserTest : public ::testing::Test {
protected:
    testutil::ScratchDir scratch{L"xml"};
    std::wstring configPath() {
        std::wstring path = scratch.file(L"VelkaroConfig.xml");
        if (!zoka::os::pathExists(path))
            testutil::writeBytes(path, zoka::toUtf8(configuration()));
        return path;
    }
};

TEST_F(XmlParserTest, ReadsTheConfigurationWithIndexedQueries) {
    LibraryLogCapture log;
    XMLParser parser;
    ASSERT_TRUE(parser.initWithXMLPath(configPath())) << log.dump();

    int count = -1;
    XmlNodeList list = parser.getNodeListForXQuery(kVeltList, &count);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(count, 3);
    EXPECT_EQ(list.length(), 3);
    EXPECT_FALSE(list.item(2).empty());
    EXPECT_TRUE(list.item(3).empty());

    for (int i = 0; i < 3; ++i) {
        std::wstring value;
        EXPECT_TRUE(parser.stringValueForXQuery(item(kVeltList, i, L"SapCode"), value)) << i;
        EXPECT_EQ(value, kVelt[i].sapCode) << i;
        EXPECT_TRUE(parser.stringValueForXQuery(item(kVeltList, i, L"Version"), value)) << i;
        EXPECT_EQ(value, kVelt[i].version) << "surrounding whitespace is not part of the text";
        EXPECT_TRUE(parser.stringValueForXQuery(item(kVeltList, i, L"Platform"), value)) << i;
        EXPECT_EQ(value, kVelt[i].platform) << i;

        XmlNode deployment =
            parser.getNodeForXQuery(item(kVeltList, i, L"DeploymentUninstall/Deployment"));
        ASSERT_FALSE(deployment.empty()) << i;
        std::wstring markup;
        EXPECT_TRUE(parser.getXMLStringOfNode(deployment, markup));
        // Wine's MSXML indents the markup of a document loaded without preserving whitespace;
        // Windows and libxml2 give the element as written.
        EXPECT_EQ(compact(markup), kDeployment);
        if (!testutil::underWine()) {
            EXPECT_EQ(markup, kDeployment);
        }
    }
    std::wstring value;
    EXPECT_TRUE(parser.stringValueForXQuery(item(kQxList, 0, L"BaseVersion"), value));
    EXPECT_EQ(value, L"7.0");
    EXPECT_TRUE(log.records().empty()) << log.dump();
}

TEST_F(XmlParserTest, QueriesThatSelectNothingOrSomethingElse) {
    LibraryLogCapture log;
    XMLParser parser;
    ASSERT_TRUE(parser.initWithXMLPath(configPath()));

    // An index equal to the length, a missing element, a missing list: nothing, silently.
    for (const std::wstring& query :
         {item(kVeltList, 3, L"SapCode"), item(kVeltList, 0, L"Missing"),
          std::wstring(L"/ZephUninstallXML/UninstallInfo/Other/Products/Product"),
          std::wstring(L"/Other"), std::wstring(L"UninstallInfo")}) {
        std::wstring value = L"untouched";
        EXPECT_FALSE(parser.nodeExistsXQuery(query)) << zoka::toUtf8(query);
        EXPECT_FALSE(parser.stringValueForXQuery(query, value)) << zoka::toUtf8(query);
        EXPECT_EQ(value, L"untouched");
        EXPECT_TRUE(parser.getNodeForXQuery(query).empty());
        int count = 5;
        EXPECT_TRUE(parser.getNodeListForXQuery(query, &count).empty());
        EXPECT_EQ(count, 0);
    }
    // Without a leading "/" a query starts with the root element's name.
    EXPECT_TRUE(parser.nodeExistsXQuery(L"ZephUninstallXML/UninstallInfo/QX"));

    // An attribute as first match: its value is the text, but it is no element.
    const std::wstring attribute = kVeltList + L"[1]/@id";
    std::wstring value;
    EXPECT_TRUE(parser.stringValueForXQuery(attribute, value));
    EXPECT_EQ(value, L"v1");
    EXPECT_TRUE(parser.getNodeForXQuery(attribute).empty());
    XmlNodeList attributes = parser.getNodeListForXQuery(attribute);
    ASSERT_EQ(attributes.length(), 1);
    std::wstring markup;
    EXPECT_TRUE(parser.getXMLStringOfNode(attributes.item(0), markup));
    EXPECT_EQ(markup, L"id=\"v1\"");

    // The text of an element holds the text of its descendants.
    EXPECT_TRUE(parser.stringValueForXQuery(item(kVeltList, 0, L"DeploymentUninstall"), value));
    EXPECT_EQ(value, L"x & y");
    EXPECT_TRUE(log.records().empty()) << log.dump();
}

// Parents of 32 children or more are looked up through an index on POSIX: the same answers
// as a walk, for every name, before and after the tree changes. Line breaks and comments
// between the children, as in any hand-written configuration, take no position.
TEST_F(XmlParserTest, ParentsWithManyChildrenAnswerLikeSmallOnes) {
    for (const int count : {31, 32, 40}) {
        std::wstring xml = L"<r xmlns:a=\"urn:a\">";
        for (int i = 0; i < count; ++i) {
            xml += L"\n  <p><c>" + std::to_wstring(i) + L"</c></p><!-- note --><q/>";
            if (i % 10 == 0)
                xml += L"<a:p>ns" + std::to_wstring(i) + L"</a:p>";
        }
        xml += L"</r>";
        XMLParser parser;
        ASSERT_TRUE(parser.initWithXMLString(xml)) << count;
        struct Case {
            std::wstring query;
            bool found;
            std::wstring value;
        } cases[] = {
            {L"/r/p[0]/c", true, L"0"},
            {L"/r/p[30]/c", true, L"30"},
            {L"/r/p[" + std::to_wstring(count - 1) + L"]/c", true, std::to_wstring(count - 1)},
            {L"/r/p[" + std::to_wstring(count) + L"]/c", false, L""},
            {L"/r/a:p[1]", true, L"ns10"},
            {L"/r/q[" + std::to_wstring(count - 1) + L"]", true, L""},
            {L"/r/missing", false, L""},
        };
        for (const auto& c : cases) {
            std::wstring value = L"unset";
            EXPECT_EQ(parser.stringValueForXQuery(c.query, value), c.found)
                << count << " " << zoka::toUtf8(c.query);
            if (c.found) {
                EXPECT_EQ(value, c.value) << count << " " << zoka::toUtf8(c.query);
            }
        }
        int total = 0;
        parser.getNodeListForXQuery(L"/r/p", &total);
        EXPECT_EQ(total, count);
        // A child added to the big parent is found at once.
        XmlNode root;
        ASSERT_TRUE(parser.getRootNode(root));
        ASSERT_TRUE(parser.addChildToNode(L"p", L"added", root));
        std::wstring value;
        EXPECT_TRUE(parser.stringValueForXQuery(L"/r/p[" + std::to_wstring(count) + L"]", value));
        EXPECT_EQ(value, L"added") << count;
    }
}

TEST_F(XmlParserTest, MalformedQueriesAreCaughtServiceErrors) {
    LibraryLogCapture log;
    XMLParser parser;
    ASSERT_TRUE(parser.initWithXMLPath(configPath()));
    // MSXML rejects these with E_FAIL (Wine's crashes on some of them, so the Windows service
    // refuses them before asking it); the POSIX service does the same.
    for (const std::wstring& query :
         {std::wstring(L""), std::wstring(L"["), std::wstring(L"@"), kVeltList + L"/",
          kVeltList + L"[", kVeltList + L"[]", kVeltList + L"[0"}) {
        log.clear();
        std::wstring value = L"untouched";
        EXPECT_FALSE(parser.stringValueForXQuery(query, value)) << zoka::toUtf8(query);
        EXPECT_EQ(value, L"untouched");
        EXPECT_EQ(log.count(LEVEL_WARN,
                            L"Caught exception in ... nodeExistsXQuery. com error:80004005  "
                            L"system error:"),
                  1)
            << zoka::toUtf8(query) << "\n"
            << zoka::toUtf8(log.dump());
        int count = 9;
        EXPECT_TRUE(parser.getNodeListForXQuery(query, &count).empty());
        EXPECT_EQ(count, 0);
        EXPECT_TRUE(parser.getNodeForXQuery(query).empty());
    }
    // The document is still there.
    EXPECT_TRUE(parser.nodeExistsXQuery(kVeltList));
}

TEST_F(XmlParserTest, EveryOperationBeforeAnyDocument) {
    LibraryLogCapture log;
    XMLParser parser;
    std::wstring value = L"untouched";
    EXPECT_FALSE(parser.nodeExistsXQuery(L"/a"));
    EXPECT_TRUE(log.records().empty()) << "nodeExistsXQuery is silent";

    EXPECT_FALSE(parser.stringValueForXQuery(L"/a", value));
    EXPECT_EQ(value, L"untouched");
    EXPECT_TRUE(parser.getNodeForXQuery(L"/a").empty());
    int count = 7;
    EXPECT_TRUE(parser.getNodeListForXQuery(L"/a", &count).empty());
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(parser.getNodeListForXQuery(L"/a").empty());  // without a count
    XmlNode root;
    EXPECT_FALSE(parser.getRootNode(root));
    EXPECT_TRUE(root.empty());

    XMLParser other;
    ASSERT_TRUE(other.initWithXMLString(L"<r/>"));
    XmlNode foreign;
    ASSERT_TRUE(other.getRootNode(foreign));
    EXPECT_FALSE(parser.addChildToNode(L"x", L"", foreign));
    EXPECT_FALSE(parser.getXMLStringOfNode(foreign, value));
    EXPECT_FALSE(parser.addChildToNode(L"x", L"", XmlNode()));
    EXPECT_FALSE(parser.getXMLStringOfNode(XmlNode(), value));

    const wchar_t* expected[] = {
        L"stringValueForXQuery ... XMLParser not Initialized ...",
        L"getNodeForXQuery ... XMLParser not Initialized ...",
        L"getNodeListForXQuery ... XMLParser not Initialized ...",
        L"getNodeListForXQuery ... XMLParser not Initialized ...",
        L"getRootNode ... XMLParser not Initialized ...",
        L"addChildToNode ... XMLParser not Initialized ...",
        L"getXMLStringOfNode ... XMLParser not Initialized ...",
        L"addChildToNode ... node is null!",
        L"getNodeXMLString ... node is null!",
    };
    ASSERT_EQ(log.records().size(), std::size(expected)) << log.dump();
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(log.records()[i].level, LEVEL_DEBUG) << i;
        EXPECT_EQ(log.records()[i].text, expected[i]);
        EXPECT_EQ(log.records()[i].libraryTag, L"ZOKAUtils");
        EXPECT_EQ(log.records()[i].moduleTag, L"XMLParser");
    }
    EXPECT_EQ(value, L"untouched");
}

TEST_F(XmlParserTest, MessagesGoToTheParsersOwnLogger) {
    LibraryLogCapture hook;
    supporttest::RecordingLogger logger;
    XMLParser parser;
    parser.logger = &logger;
    XmlNode root;
    EXPECT_FALSE(parser.getRootNode(root));
    EXPECT_FALSE(parser.writeXMLToFile(scratch.file(L"x.xml")));
    EXPECT_TRUE(hook.records().empty()) << hook.dump();
    ASSERT_EQ(logger.records.size(), 2u);
    EXPECT_EQ(logger.records[0].level, LEVEL_DEBUG);
    EXPECT_EQ(logger.records[0].libraryTag, L"");          // tag1
    EXPECT_EQ(logger.records[0].moduleTag, L"XMLParser");  // tag2
    EXPECT_EQ(logger.records[1].level, LEVEL_ERROR);
}

TEST_F(XmlParserTest, InitWithXMLString) {
    LibraryLogCapture log;
    XMLParser parser;
    ASSERT_TRUE(parser.initWithXMLString(L"<DriverInfo/>"));
    XmlNode root;
    ASSERT_TRUE(parser.getRootNode(root));
    ASSERT_FALSE(root.empty());
    std::wstring markup;
    EXPECT_TRUE(parser.getXMLStringOfNode(root, markup));
    EXPECT_EQ(markup, L"<DriverInfo/>");

    // Malformed text: false, silent, and the earlier document stays.
    for (const wchar_t* bad : {L"", L"<DriverInfo>", L"<a></b>", L"text", L"<a/><b/>"}) {
        EXPECT_FALSE(parser.initWithXMLString(bad)) << zoka::toUtf8(bad);
    }
    EXPECT_TRUE(log.records().empty()) << log.dump();
    EXPECT_TRUE(parser.nodeExistsXQuery(L"/DriverInfo"));

    // A declaration naming another encoding does not matter for text that is already decoded.
    ASSERT_TRUE(parser.initWithXMLString(
        L"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\u00e9\u65e5</r>"));
    std::wstring value;
    EXPECT_TRUE(parser.stringValueForXQuery(L"/r", value));
    EXPECT_EQ(value, L"\u00e9\u65e5");
    EXPECT_FALSE(parser.nodeExistsXQuery(L"/DriverInfo")) << "the new document replaced the old";
}

TEST_F(XmlParserTest, LoadsUtf16AndLatin1Configurations) {
    const std::wstring body =
        L"<ZephUninstallXML><UninstallInfo><VELT><Products><Product><SapCode>Caf\u00e9</SapCode>"
        L"</Product></Products></VELT></UninstallInfo></ZephUninstallXML>";
    const std::string utf16 =
        "\xFF\xFE" + testutil::utf16le(L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n" + body);
    std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";
    for (wchar_t c : body)
        latin1.push_back(static_cast<char>(c));  // all below U+0100
    const std::string utf8Bom = "\xEF\xBB\xBF" + zoka::toUtf8(body);

    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"UTF-16LE with BOM", utf16}, {"ISO-8859-1 declared", latin1}, {"UTF-8 BOM", utf8Bom}};
    for (const auto& c : cases) {
        LibraryLogCapture log;
        const std::wstring path = scratch.file(L"config.xml");
        ASSERT_TRUE(testutil::writeBytes(path, c.bytes));
        XMLParser parser;
        ASSERT_TRUE(parser.initWithXMLPath(path)) << c.name << "\n" << zoka::toUtf8(log.dump());
        std::wstring value;
        EXPECT_TRUE(parser.stringValueForXQuery(item(kVeltList, 0, L"SapCode"), value)) << c.name;
        EXPECT_EQ(value, L"Caf\u00e9") << c.name;
    }
}

TEST_F(XmlParserTest, FileTheServiceRejectsIsLoadedFromItsText) {
    // MSXML's load refuses both (a UTF-8 file labelled UTF-16; a name it reads as a URL with an
    // escape in it); their text read as UTF-8 parses. libxml2 loads both directly.
    struct Case {
        std::wstring name;
        std::string bytes;
    } cases[] = {
        {L"labelled-utf16.xml",
         "<?xml version=\"1.0\" encoding=\"UTF-16\"?><r><a>Caf\xC3\xA9</a></r>"},
        {L"percent%41.xml", "<r><a>Caf\xC3\xA9</a></r>"},
    };
    for (const auto& c : cases) {
        const std::wstring path = scratch.file(c.name);
        ASSERT_TRUE(testutil::writeBytes(path, c.bytes));
        LibraryLogCapture log;
        XMLParser parser;
        ASSERT_TRUE(parser.initWithXMLPath(path)) << log.dump();
        std::wstring value;
        EXPECT_TRUE(parser.stringValueForXQuery(L"/r/a", value));
        EXPECT_EQ(value, L"Caf\u00e9");
        EXPECT_TRUE(log.records().empty()) << log.dump();
    }
}

std::string repeat(const std::string& piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

std::string entityBomb() {
    std::string dtd = "<!DOCTYPE r [<!ENTITY e0 \"lol\">";
    for (int i = 1; i <= 10; ++i) {
        dtd += "<!ENTITY e" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            dtd += "&e" + std::to_string(i - 1) + ";";
        dtd += "\">";
    }
    return dtd + "]><r><a>&e10;</a></r>";
}

TEST_F(XmlParserTest, BadFilesFailWithTheirMessageAndKeepTheDocument) {
    // Wine's MSXML load grows worse than linearly with the size (5 MB: 1 s, 50 MB: 70 s), so
    // under Wine the large file is 5 MB.
    const size_t bigSize = (testutil::underWine() ? 5 : 50) * 1024 * 1024;
    struct Case {
        const char* name;
        std::string bytes;  // written to the file unless it is a special case below
    } cases[] = {
        {"missing file", ""},
        {"a directory", ""},
        {"a device", ""},
        {"sparse file past the size limit", ""},
        {"empty file", ""},
        {"malformed", "<ZephUninstallXML><a></ZephUninstallXML>"},
        {"binary", std::string("\x00\x01\xFF\xFE\x00<", 6)},
        {"50 MB never closed",
         "<r>" + repeat("<Product><SapCode>X</SapCode></Product>", bigSize / 38)},
        // libxml2 (on POSIX and inside Wine's MSXML) refuses nesting deeper than 256 levels.
        {"nested 100,000 deep", repeat("<a>", 100000) + repeat("</a>", 100000)},
        {"entity-expansion bomb", entityBomb()},
    };
    XMLParser parser;
    ASSERT_TRUE(parser.initWithXMLPath(configPath()));
    for (const auto& c : cases) {
        std::wstring path = scratch.file(L"bad.xml");
        const std::string name = c.name;
        if (name == "missing file") {
            path = scratch.file(L"missing.xml");
        } else if (name == "a directory") {
            path = scratch.path();
        } else if (name == "a device") {
            path = zoka::os::pathSeparator() == L'/' ? L"/dev/zero" : L"NUL";
        } else if (name == "sparse file past the size limit") {
            path = scratch.file(L"sparse.xml");
            ASSERT_TRUE(testutil::writeBytes(path, "<r>"));
            std::filesystem::resize_file(std::filesystem::path(path), std::uintmax_t{300} << 20);
        } else {
            ASSERT_TRUE(testutil::writeBytes(path, c.bytes)) << c.name;
        }
        LibraryLogCapture log;
        EXPECT_FALSE(parser.initWithXMLPath(path)) << c.name;
        EXPECT_EQ(log.count(LEVEL_WARN, L"Failed to load xml " + path + L". system error:"), 1)
            << c.name << "\n"
            << zoka::toUtf8(log.dump());
        EXPECT_EQ(log.records().size(), 1u) << c.name << "\n" << zoka::toUtf8(log.dump());
        std::wstring value;
        EXPECT_TRUE(parser.stringValueForXQuery(item(kVeltList, 1, L"SapCode"), value)) << c.name;
        EXPECT_EQ(value, L"BBB") << c.name;
    }
}

std::wstring fileUri(std::wstring path) {
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return (path[0] == L'/' ? L"file://" : L"file:///") + path;
}

// Documents that others may have written. Every build refuses any document type declaration,
// and with it every way to make the service read another file or expand entities; the same
// verdicts hold for text and for files.
TEST_F(XmlParserTest, HostileDocumentsGetTheSameVerdictOnEveryBuild) {
    const std::wstring secret = scratch.file(L"secret.txt");
    ASSERT_TRUE(testutil::writeBytes(secret, "TOPSECRET"));
    const std::wstring dtd = scratch.file(L"secret.dtd");
    ASSERT_TRUE(testutil::writeBytes(dtd, "<!ENTITY x \"TOPSECRET\">"));
    struct Case {
        const char* name;
        std::string document;
        bool loads;
    } cases[] = {
        {"internal entity", "<!DOCTYPE r [<!ENTITY ent \"E&amp;V\">]><r><a>x&ent;y</a></r>", false},
        {"external entity",
         "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + zoka::toUtf8(fileUri(secret)) +
             "\">]><r><a>A&x;B</a></r>",
         false},
        {"external DTD",
         "<!DOCTYPE r SYSTEM \"" + zoka::toUtf8(fileUri(dtd)) + "\"><r><a>A&x;B</a></r>", false},
        {"parameter entities",
         "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + zoka::toUtf8(fileUri(dtd)) +
             "\"> %p;]><r><a>A&x;B</a></r>",
         false},
        {"entity bomb", entityBomb(), false},
        {"nested 100,000 deep", repeat("<a>", 100000) + "x" + repeat("</a>", 100000), false},
        {"nested 200 deep", repeat("<a>", 200) + "x" + repeat("</a>", 200), true},
    };
    for (const auto& c : cases) {
        const std::wstring path = scratch.file(L"hostile.xml");
        ASSERT_TRUE(testutil::writeBytes(path, c.document)) << c.name;
        XMLParser fromText, fromFile;
        LibraryLogCapture log;
        EXPECT_EQ(fromText.initWithXMLString(zoka::fromUtf8(c.document)), c.loads) << c.name;
        EXPECT_EQ(fromFile.initWithXMLPath(path), c.loads) << c.name;
        for (XMLParser* parser : {&fromText, &fromFile}) {
            XmlNode root;
            std::wstring markup;
            if (parser->getRootNode(root) && parser->getXMLStringOfNode(root, markup)) {
                EXPECT_EQ(markup.find(L"TOPSECRET"), std::wstring::npos) << c.name;
            }
        }
    }
}

TEST_F(XmlParserTest, BuildsAndSavesTheDriverDocument) {
    LibraryLogCapture log;
    const std::wstring path = scratch.file(L"driver.xml");
    {
        XMLParser parser;
        ASSERT_TRUE(parser.initWithXMLString(L"<DriverInfo/>"));
        XmlNode root;
        ASSERT_TRUE(parser.getRootNode(root));
        XmlNode info;
        ASSERT_TRUE(parser.addChildToNode(L"ProductInfo", L"", root, info));
        ASSERT_FALSE(info.empty());
        EXPECT_TRUE(parser.addChildToNode(L"SapCode", L"QXSP", info));
        EXPECT_TRUE(parser.addChildToNode(L"Platform", L"osx10-64", info));
        EXPECT_TRUE(parser.addChildToNode(L"BaseVersion", L"7.0", info));
        EXPECT_TRUE(parser.addChildToNode(L"RequestInfo", L"", root));
        // The tree changed after queries ran: queries see the new elements.
        EXPECT_TRUE(parser.nodeExistsXQuery(L"/DriverInfo/ProductInfo/BaseVersion"));
        ASSERT_TRUE(parser.writeXMLToFile(path));
    }
    const std::string bytes = testutil::readBytes(path);
    EXPECT_NE(bytes.compare(0, 3, "\xEF\xBB\xBF"), 0) << "no byte-order mark";
    const size_t start = bytes.find("<DriverInfo>");
    ASSERT_NE(start, std::string::npos) << bytes;
    std::string body = bytes.substr(start);
    body.erase(std::remove_if(body.begin(), body.end(),
                              [](char c) { return c == '\r' || c == '\n' || c == '\t'; }),
               body.end());
    EXPECT_EQ(body,
              "<DriverInfo><ProductInfo><SapCode>QXSP</SapCode><Platform>osx10-64</Platform>"
              "<BaseVersion>7.0</BaseVersion></ProductInfo><RequestInfo/></DriverInfo>");

    XMLParser reread;
    ASSERT_TRUE(reread.initWithXMLPath(path));
    std::wstring value;
    EXPECT_TRUE(reread.stringValueForXQuery(L"/DriverInfo/ProductInfo/Platform", value));
    EXPECT_EQ(value, L"osx10-64");
    EXPECT_TRUE(log.records().empty()) << log.dump();
}

TEST_F(XmlParserTest, SavedValuesAreEscaped) {
    const std::wstring path = scratch.file(L"escaped.xml");
    const std::wstring tricky = L"A&B <C> \"q\" caf\u00e9";
    {
        XMLParser parser;
        ASSERT_TRUE(parser.initWithXMLString(L"<DriverInfo/>"));
        XmlNode root;
        ASSERT_TRUE(parser.getRootNode(root));
        EXPECT_TRUE(parser.addChildToNode(L"SapCode", tricky, root));
        ASSERT_TRUE(parser.writeXMLToFile(path));
    }
    XMLParser reread;
    ASSERT_TRUE(reread.initWithXMLPath(path)) << testutil::readBytes(path);
    std::wstring value;
    EXPECT_TRUE(reread.stringValueForXQuery(L"/DriverInfo/SapCode", value));
    const std::string bytes = testutil::readBytes(path);
    if (testutil::underWine()) {
        // Wine's element nodeTypedValue reads the text as markup instead of escaping it: the
        // value does not survive. Windows escapes it, as expected below.
        EXPECT_NE(value, tricky) << bytes;
    } else {
        EXPECT_EQ(value, tricky);
        EXPECT_NE(bytes.find("A&amp;B &lt;C"), std::string::npos) << bytes;
    }
}

TEST_F(XmlParserTest, AddChildFailures) {
    LibraryLogCapture log;
    XMLParser parser;
    ASSERT_TRUE(parser.initWithXMLPath(configPath()));
    XmlNode root;
    ASSERT_TRUE(parser.getRootNode(root));

    // No name: the service refuses to create the element.
    XmlNode child = root;
    EXPECT_FALSE(parser.addChildToNode(L"", L"x", root, child));
    EXPECT_EQ(log.count(LEVEL_WARN,
                        L"Caught exception in ... addChildToNode. com error:80004005  "
                        L"system error:"),
              1)
        << log.dump();
    EXPECT_FALSE(child.empty()) << "the out reference is written only on success";

    // An attribute takes no element child.
    log.clear();
    XmlNodeList attributes = parser.getNodeListForXQuery(kVeltList + L"[0]/@id");
    ASSERT_EQ(attributes.length(), 1);
    EXPECT_FALSE(parser.addChildToNode(L"Child", L"x", attributes.item(0)));
    EXPECT_EQ(log.count(LEVEL_WARN,
                        L"Caught exception in ... addChildToNode. com error:80004005  "
                        L"system error:"),
              1)
        << log.dump();

    // Nothing was added anywhere.
    EXPECT_FALSE(parser.nodeExistsXQuery(L"/ZephUninstallXML/Child"));
    int count = 0;
    parser.getNodeListForXQuery(L"/ZephUninstallXML/*", &count);
    EXPECT_EQ(count, 1);
}

TEST_F(XmlParserTest, AddedChildIsTheLastChildWithItsText) {
    XMLParser parser;
    ASSERT_TRUE(parser.initWithXMLString(L"<r><a>1</a><a>2</a></r>"));
    XmlNode root;
    ASSERT_TRUE(parser.getRootNode(root));
    // Queries ran before the change: the indexed step must see the new child afterwards.
    EXPECT_FALSE(parser.nodeExistsXQuery(L"/r/a[2]"));
    XmlNode added;
    ASSERT_TRUE(parser.addChildToNode(L"a", L"3", root, added));
    std::wstring value, markup;
    EXPECT_TRUE(parser.stringValueForXQuery(L"/r/a[2]", value));
    EXPECT_EQ(value, L"3");
    EXPECT_TRUE(parser.getXMLStringOfNode(added, markup));
    EXPECT_EQ(markup, L"<a>3</a>");
    ASSERT_TRUE(parser.addChildToNode(L"b", L"", added));
    EXPECT_TRUE(parser.getXMLStringOfNode(root, markup));
    EXPECT_EQ(compact(markup), L"<r><a>1</a><a>2</a><a>3<b/></a></r>");
}

TEST_F(XmlParserTest, WriteFailuresNameThePath) {
    LibraryLogCapture log;
    const std::wstring missingFolder = scratch.file(L"no-such-folder") + kSep + L"out.xml";
    const std::wstring path = scratch.file(L"out.xml");
    {
        XMLParser empty;
        EXPECT_FALSE(empty.writeXMLToFile(path));
        EXPECT_FALSE(zoka::os::pathExists(path));
    }
    XMLParser parser;
    ASSERT_TRUE(parser.initWithXMLString(L"<DriverInfo/>"));
    EXPECT_FALSE(parser.writeXMLToFile(missingFolder));
    ASSERT_EQ(log.records().size(), 2u) << log.dump();
    EXPECT_EQ(log.records()[0].level, LEVEL_ERROR);
    EXPECT_EQ(log.records()[0].text,
              L"Caught exception while writing xml data to a file at path :" + path);
    EXPECT_EQ(log.records()[1].text,
              L"Caught exception while writing xml data to a file at path :" + missingFolder);
    EXPECT_TRUE(parser.writeXMLToFile(path));
}

}  // namespace
