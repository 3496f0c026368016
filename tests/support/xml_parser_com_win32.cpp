// MSXML through COM: the wrapper initialises COM on a thread only when creation needs it, and
// its destructor undoes exactly that.

#include <windows.h>
// windows.h first: the COM headers depend on it.
#include <objbase.h>

#include <gtest/gtest.h>

#include <thread>

#include "support/xml_dom.h"
#include "support/xml_parser.h"
#include "support_test_util.h"
#include "test_util.h"

namespace {

using zoka::XMLParser;

template <typename F>
void onFreshThread(F body) {
    std::thread thread(body);
    thread.join();
}

TEST(XmlParserCom, InitialisesComWhenTheThreadHasNoneAndBalancesIt) {
    testutil::ScratchDir scratch{L"com"};
    const std::wstring file = scratch.file(L"doc.xml");
    ASSERT_TRUE(testutil::writeBytes(file, "<r><a>1</a></r>"));
    onFreshThread([&] {
        {
            XMLParser parser;
            EXPECT_FALSE(parser.comInitialized());
            // The first creation fails for want of COM; the retry after CoInitialize succeeds.
            ASSERT_TRUE(parser.initWithXMLPath(file));
            EXPECT_TRUE(parser.comInitialized());
            // COM is now there: a second document needs no second initialisation.
            ASSERT_TRUE(parser.initWithXMLString(L"<DriverInfo/>"));
            EXPECT_TRUE(parser.comInitialized());
            EXPECT_TRUE(parser.nodeExistsXQuery(L"/DriverInfo"));
        }
        // The destructor uninitialised once: COM starts afresh (S_OK, not S_FALSE).
        HRESULT hr = ::CoInitialize(nullptr);
        EXPECT_EQ(hr, S_OK);
        if (SUCCEEDED(hr))
            ::CoUninitialize();
    });
}

TEST(XmlParserCom, LeavesTheCallersComAlone) {
    onFreshThread([] {
        ASSERT_EQ(::CoInitialize(nullptr), S_OK);
        {
            XMLParser parser;
            ASSERT_TRUE(parser.initWithXMLString(L"<r/>"));
            EXPECT_FALSE(parser.comInitialized());
        }
        // Still initialised by us: a nested CoInitialize reports S_FALSE.
        HRESULT hr = ::CoInitialize(nullptr);
        EXPECT_EQ(hr, S_FALSE);
        ::CoUninitialize();
        ::CoUninitialize();
    });
}

TEST(XmlParserCom, WorksInAMultithreadedApartment) {
    onFreshThread([] {
        ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        {
            XMLParser parser;
            ASSERT_TRUE(parser.initWithXMLString(L"<r><a>x</a></r>"));
            EXPECT_FALSE(parser.comInitialized());
            std::wstring value;
            EXPECT_TRUE(parser.stringValueForXQuery(L"/r/a", value));
            EXPECT_EQ(value, L"x");
        }
        ::CoUninitialize();
    });
}

TEST(XmlParserCom, ManyParsersOnAThreadWithoutCom) {
    onFreshThread([] {
        for (int i = 0; i < 20; ++i) {
            XMLParser parser;
            ASSERT_TRUE(parser.initWithXMLString(L"<r/>")) << i;
            EXPECT_TRUE(parser.comInitialized()) << i;
        }
        HRESULT hr = ::CoInitialize(nullptr);
        EXPECT_EQ(hr, S_OK);
        if (SUCCEEDED(hr))
            ::CoUninitialize();
    });
}

// Wine's MSXML neither resolves external resources by default nor enforces ProhibitDTD, so
// only the settings themselves can be read back here (ProhibitDTD not even that); refusing a
// DTD is checked on every build by the hostile-document table.
TEST(XmlParserCom, DocumentsReadNoExternalResource) {
    onFreshThread([] {
        ASSERT_EQ(::CoInitialize(nullptr), S_OK);
        {
            for (const bool byClassId : {true, false}) {
                zoka::xmldom::DocumentRef document = zoka::xmldom::createDocument(byClassId);
                ASSERT_TRUE(document) << byClassId;
                zoka::xmldom::refuseExternalResources(*document);
                const zoka::xmldom::LoadSettings settings = zoka::xmldom::loadSettings(*document);
                EXPECT_FALSE(settings.resolveExternals) << byClassId;
                EXPECT_FALSE(settings.validateOnParse) << byClassId;
                // Wine 8 accepts ProhibitDTD but does not report it back.
                if (!testutil::underWine()) {
                    EXPECT_TRUE(settings.prohibitDtd) << byClassId;
                }
            }
        }
        ::CoUninitialize();
    });
}

}  // namespace
