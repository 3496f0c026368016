// The driver document is built by the XML service, which can run out of memory at any of its
// allocations. libxml2 takes its allocator from xmlMemSetup, so each of those allocations can be
// made to fail in turn.
#include <gtest/gtest.h>

#include <libxml/xmlmemory.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "config/capture.h"
#include "engine/media_uninstaller.h"
#include "engine/setup_fixture.h"
#include "support/xml_parser.h"
#include "test_util.h"

namespace {

// Allocations left before the next one fails; negative: none fails.
long allocationsLeft = -1;

bool allocationFails() {
    if (allocationsLeft < 0)
        return false;
    if (allocationsLeft == 0)
        return true;
    --allocationsLeft;
    return false;
}
void* failingMalloc(size_t size) {
    return allocationFails() ? nullptr : std::malloc(size);
}
void* failingRealloc(void* p, size_t size) {
    return allocationFails() ? nullptr : std::realloc(p, size);
}
char* failingStrdup(const char* s) {
    if (allocationFails())
        return nullptr;
    const size_t n = std::strlen(s) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    return copy != nullptr ? static_cast<char*>(std::memcpy(copy, s, n)) : nullptr;
}

// While it lives, libxml2's allocations from the `allowed`-th on fail. The functions it puts in
// place free with free(), as libxml2's own do, so blocks from before and after mix safely.
class FailingXmlAllocations {
public:
    explicit FailingXmlAllocations(long allowed) {
        xmlMemGet(&free_, &malloc_, &realloc_, &strdup_);
        allocationsLeft = allowed;
        xmlMemSetup(std::free, failingMalloc, failingRealloc, failingStrdup);
    }
    ~FailingXmlAllocations() {
        allocationsLeft = -1;
        xmlMemSetup(free_, malloc_, realloc_, strdup_);
    }
    FailingXmlAllocations(const FailingXmlAllocations&) = delete;
    FailingXmlAllocations& operator=(const FailingXmlAllocations&) = delete;

private:
    xmlFreeFunc free_ = nullptr;
    xmlMallocFunc malloc_ = nullptr;
    xmlReallocFunc realloc_ = nullptr;
    xmlStrdupFunc strdup_ = nullptr;
};

// Each allocation of the driver document's building and saving fails in turn: every one ends
// as a logged failure of that product (never a crash, a leak or a setup program started with a
// half-written document), and each stage's own message is reached.
TEST(QxRemoval, XmlServiceOutOfMemoryFailsTheProductWithItsStage) {
    enginetest::SetupPrograms setup;
    REQUIRE_USABLE(setup);
    setup.install(setup.qxBoxPath());
    testutil::TempFolderOverride temp(setup.tempFolder());
    velkaro::UninstallProduct product;
    product.sapCode = L"Q";
    product.version = L"1.3";
    product.baseVersion = L"1";
    product.platform = L"w";
    product.family = velkaro::QX;

    const std::wstring prefix = L"Failed to uninstall QX media (Q, 1), ";
    const std::set<std::wstring> stages = {
        prefix + L"parser initialization failed for param XML...",
        prefix + L"failed to add product XML param ...",
        prefix + L"failed to save product XML param ...",
    };
    std::set<std::wstring> reached;
    // libxml2 sets itself up on first use, once per process; that is not what is tested here.
    zoka::XMLParser first;
    ASSERT_TRUE(first.initWithXMLString(L"<DriverInfo/>"));

    velkaro::MediaUninstaller media;
    bool removed = false;
    long allowed = 0;
    for (; allowed < 10000 && !removed; ++allowed) {
        configtest::LogCapture log;
        bool found = false;
        {
            FailingXmlAllocations failing(allowed);
            removed = media.uninstallQXMedia(product, found);
        }
        if (removed)
            break;
        const std::vector<std::wstring> errors = log.messagesAt(zoka::LEVEL_ERROR);
        ASSERT_EQ(errors.size(), 1u) << "allocation " << allowed;
        ASSERT_EQ(stages.count(errors[0]), 1u) << "allocation " << allowed;
        reached.insert(errors[0]);
        EXPECT_TRUE(setup.records().empty()) << "allocation " << allowed;
    }
    EXPECT_TRUE(removed);
    EXPECT_EQ(setup.records().size(), 1u);
    EXPECT_EQ(reached, stages);
}

}  // namespace
