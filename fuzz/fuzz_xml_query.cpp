// The XML wrapper's query evaluator: the input is a query, a NUL, then a document.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "support/xml_parser.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::isolate();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> parts = fuzzsupport::words(data, size);
    if (parts.size() < 2)
        return 0;
    const std::wstring& query = parts[0];
    std::wstring document = parts[1];
    for (size_t i = 2; i < parts.size(); ++i)
        document += L'\0' + parts[i];
    zoka::XMLParser parser;
    if (!parser.initWithXMLString(document))
        return 0;
    const bool exists = parser.nodeExistsXQuery(query);
    int count = -1;
    zoka::XmlNodeList list = parser.getNodeListForXQuery(query, &count);
    // The three ways of asking agree on whether anything matched.
    if (exists != (count > 0) || exists != !list.empty())
        fuzzsupport::fail("query answers disagree");
    if (list.length() != count)
        fuzzsupport::fail("list length differs from the count");
    for (int i = 0; i < count && i < 64; ++i) {
        std::wstring markup;
        zoka::XmlNode node = list.item(i);
        if (node.empty())
            fuzzsupport::fail("a listed match is missing");
        parser.getXMLStringOfNode(node, markup);
    }
    std::wstring value;
    parser.stringValueForXQuery(query, value);
    zoka::XmlNode element = parser.getNodeForXQuery(query);
    if (!element.empty()) {
        zoka::XmlNode child;
        parser.addChildToNode(L"Added", value, element, child);
    }
    return 0;
}
