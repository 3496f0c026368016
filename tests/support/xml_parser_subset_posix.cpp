// The POSIX DOM service: the XSL Pattern subset it evaluates, what it refuses, and silence on
// the console whatever the input.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/unicode.h"
#include "support/xml_parser.h"
#include "support_test_util.h"
#include "test_util.h"

namespace {

using supporttest::LibraryLogCapture;
using zoka::XmlNode;
using zoka::XmlNodeList;
using zoka::XMLParser;

const wchar_t kDoc[] =
    L"<r xmlns:p=\"urn:p\"><a x=\"1\" y=\"2\">A0</a><b>B0</b><a>A1<c>C</c></a><p:n>N</p:n></r>";

TEST(XmlParserPosix, QueriesOfTheSubset) {
    XMLParser parser;
    ASSERT_TRUE(parser.initWithXMLString(kDoc));
    struct Case {
        const wchar_t* query;
        int count;
        const wchar_t* firstText;
    } cases[] = {
        {L"/r/a", 2, L"A0"},
        {L"r/a[1]", 1, L"A1C"},
        {L"/r/a[ 1 ]", 1, L"A1C"},
        {L"/r/a[2]", 0, nullptr},
        {L"/r/a[99999999999999999999999]", 0, nullptr},
        {L"/r/*", 4, L"A0"},
        {L"/r/*[1]", 1, L"B0"},
        {L"/r/a[0][0]", 1, L"A0"},
        {L"/r/a[1][0]", 1, L"A1C"},
        {L"/r/a[0][1]", 0, nullptr},
        {L"/r/a/c", 1, L"C"},
        {L"/r/a/@*", 2, L"1"},
        {L"/r/a/@y", 1, L"2"},
        {L"/r/a[0]/@*[1]", 1, L"2"},
        {L"/r/p:n", 1, L"N"},
        {L"/", 1, L"A0B0A1CN"},
    };
    for (const auto& c : cases) {
        int count = -1;
        XmlNodeList list = parser.getNodeListForXQuery(c.query, &count);
        EXPECT_EQ(count, c.count) << zoka::toUtf8(c.query);
        std::wstring value;
        EXPECT_EQ(parser.stringValueForXQuery(c.query, value), c.firstText != nullptr)
            << zoka::toUtf8(c.query);
        if (c.firstText != nullptr) {
            EXPECT_EQ(value, c.firstText) << zoka::toUtf8(c.query);
        }
    }
}

TEST(XmlParserPosix, QueriesOutsideTheSubsetSelectNothingSilently) {
    LibraryLogCapture log;
    XMLParser parser;
    ASSERT_TRUE(parser.initWithXMLString(kDoc));
    for (const wchar_t* query :
         {L"//a", L"/r//c", L"/r/a[@x]", L"/r/a[end()]", L"/r/a[-1]", L"/r/a/..", L"/r/./a",
          L"/r /a", L"/r/a[x=1]", L"/r/@x/y", L"/r/a | /r/b"}) {
        EXPECT_FALSE(parser.nodeExistsXQuery(query)) << zoka::toUtf8(query);
    }
    EXPECT_TRUE(log.records().empty()) << log.dump();
}

TEST(XmlParserPosix, RefusesWhatWindowsRefuses) {
    LibraryLogCapture log;
    XMLParser parser;
    ASSERT_TRUE(parser.initWithXMLString(L"<r/>"));
    XmlNode root;
    ASSERT_TRUE(parser.getRootNode(root));
    // Names MSXML's createNode refuses (Wine's accepts them).
    for (const wchar_t* name : {L"1bad", L"a b", L"<x>", L"a&b"}) {
        EXPECT_FALSE(parser.addChildToNode(name, L"", root)) << zoka::toUtf8(name);
    }
    // A second root element, and a parent from another document.
    XmlNodeList document = parser.getNodeListForXQuery(L"/");
    ASSERT_EQ(document.length(), 1);
    EXPECT_FALSE(parser.addChildToNode(L"second", L"", document.item(0)));
    XMLParser other;
    ASSERT_TRUE(other.initWithXMLString(L"<o/>"));
    XmlNode foreign;
    ASSERT_TRUE(other.getRootNode(foreign));
    EXPECT_FALSE(parser.addChildToNode(L"x", L"", foreign));
    EXPECT_EQ(
        log.count(zoka::LEVEL_WARN, L"Caught exception in ... addChildToNode. com error:80004005"),
        6)
        << log.dump();
    std::wstring markup;
    EXPECT_TRUE(other.getXMLStringOfNode(foreign, markup));
    EXPECT_EQ(markup, L"<o/>");
    EXPECT_TRUE(parser.getXMLStringOfNode(root, markup));
    EXPECT_EQ(markup, L"<r/>");
}

TEST(XmlParserPosix, ReferencesKeepTheirDocumentAlive) {
    XmlNode kept;
    XmlNodeList list;
    {
        XMLParser parser;
        ASSERT_TRUE(parser.initWithXMLString(L"<r><a>1</a><a>2</a></r>"));
        kept = parser.getNodeForXQuery(L"/r/a[1]");
        list = parser.getNodeListForXQuery(L"/r/a");
        ASSERT_TRUE(parser.initWithXMLString(L"<other/>"));  // the first document is replaced
    }
    XMLParser reader;
    ASSERT_TRUE(reader.initWithXMLString(L"<x/>"));
    std::wstring markup;
    EXPECT_TRUE(reader.getXMLStringOfNode(kept, markup));
    EXPECT_EQ(markup, L"<a>2</a>");
    ASSERT_EQ(list.length(), 2);
    EXPECT_TRUE(reader.getXMLStringOfNode(list.item(0), markup));
    EXPECT_EQ(markup, L"<a>1</a>");
}

// Redirects standard error into a file while it lives.
class StderrCapture {
public:
    explicit StderrCapture(const std::wstring& path) {
        ::fflush(stderr);
        saved_ = ::dup(2);
        int fd = ::open(zoka::toUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() {
        ::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
    }

private:
    int saved_;
};

TEST(XmlParserPosix, NothingReachesTheConsole) {
    testutil::ScratchDir scratch{L"quiet"};
    const std::wstring errors = scratch.file(L"stderr.txt");
    const std::wstring file = scratch.file(L"bad.xml");
    {
        StderrCapture capture(errors);
        XMLParser parser;
        for (const char* bytes :
             {"<r><a></r>", "<!DOCTYPE r SYSTEM \"http://example.invalid/r.dtd\"><r/>",
              "<!DOCTYPE r [<!ENTITY x SYSTEM \"/etc/hostname\">]><r>&x;&undefined;</r>",
              "<?xml version=\"1.0\" encoding=\"x-none\"?><r/>", "\xFF\xFE<\0r\0",
              "<r a='1' a='2'/>", "<r>\x01</r>"}) {
            testutil::writeBytes(file, bytes);
            parser.initWithXMLPath(file);
            parser.initWithXMLString(zoka::fromUtf8(bytes));
        }
        ASSERT_TRUE(parser.initWithXMLString(L"<r/>"));
        XmlNode root;
        parser.getRootNode(root);
        parser.addChildToNode(L"1bad", L"", root);
        parser.addChildToNode(L"ok", L"\x01\x02", root);
        parser.writeXMLToFile(scratch.file(L"missing") + L"/out.xml");
        parser.writeXMLToFile(scratch.file(L"out.xml"));
    }
    EXPECT_EQ(testutil::readBytes(errors), "");
}

}  // namespace
