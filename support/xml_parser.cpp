#include "support/xml_parser.h"

#include <climits>
#include <string_view>
#include <utility>

#include "base/platform.h"
#include "logging/logger.h"
#include "support/file_utils.h"
#include "support/xml_dom.h"

namespace zoka {

namespace {

constexpr wchar_t kModule[] = L"XMLParser";

// The largest document file read: far above any real configuration, far below what would
// exhaust the memory of the machine it runs on.
constexpr int64_t kMaxDocumentBytes = int64_t{256} << 20;

/// What an operation logs when the service fails inside it.
struct FailureTexts {
    const wchar_t* serviceError;  // %x the service's code, %d the system error
    const wchar_t* otherError;    // %d the system error; logged at WARN
    LogLevel serviceLevel = LEVEL_WARN;
};

/// Runs one operation; a failure of the service inside it is logged with the operation's own
/// texts and becomes `failed`, so that nothing is thrown past XMLParser.
template <typename Result, typename Operation>
Result guarded(AbstractLogger* logger, const FailureTexts& texts, Result failed,
               Operation&& operation) {
    try {
        return operation();
    } catch (const xmldom::ServiceError& e) {
        libraryLog(logger, texts.serviceLevel, kModule, texts.serviceError,
                   static_cast<unsigned>(e.code()), os::lastError());
    } catch (...) {
        libraryLog(logger, LEVEL_WARN, kModule, texts.otherError, os::lastError());
    }
    return failed;
}

}  // namespace

namespace xmldom {

bool isMalformedQuery(const std::wstring& query) {
    if (query.empty())
        return true;
    if (query.size() > 1 && query.back() == L'/')
        return true;
    int depth = 0;
    size_t stepStart = 0;
    for (size_t i = 0; i < query.size(); ++i) {
        wchar_t c = query[i];
        if (c == L'[') {
            if (depth == 0) {
                std::wstring_view head(query.data() + stepStart, i - stepStart);
                bool afterPredicate = i > 0 && query[i - 1] == L']';
                if (!afterPredicate && (head.empty() || head == L"@"))
                    return true;
            }
            size_t next = query.find_first_not_of(L" \t\r\n", i + 1);
            if (next != std::wstring::npos && query[next] == L']')
                return true;
            ++depth;
        } else if (c == L']') {
            if (depth == 0)
                return true;
            --depth;
        } else if (c == L'/' && depth == 0) {
            if (query.compare(stepStart, i - stepStart, L"@") == 0 && i - stepStart == 1)
                return true;
            stepStart = i + 1;
        }
    }
    if (depth != 0)
        return true;
    return query.compare(stepStart, std::wstring::npos, L"@") == 0;
}

}  // namespace xmldom

int XmlNodeList::length() const {
    if (!impl_)
        return 0;
    try {
        long n = xmldom::listLength(*impl_);
        return n < 0 ? 0 : (n > INT_MAX ? INT_MAX : static_cast<int>(n));
    } catch (...) {
        return 0;
    }
}

XmlNode XmlNodeList::item(int index) const {
    if (!impl_ || index < 0)
        return {};
    try {
        return XmlNode(xmldom::listItem(*impl_, index));
    } catch (...) {
        return {};
    }
}

XMLParser::XMLParser() = default;

XMLParser::~XMLParser() {
    // The document goes before COM: its release may need the apartment.
    document_.reset();
    if (comInitialized_) {
        xmldom::uninitializeCom();
        comInitialized_ = false;
    }
}

std::shared_ptr<xmldom::Document> XMLParser::createDocument(bool byClassId) {
    xmldom::DocumentRef document = xmldom::createDocument(byClassId);
    if (document)
        return document;
    // The usual cause is a thread without COM. Only a successful CoInitialize is balanced by the
    // destructor: a failed one (another apartment model) must not be undone by us.
    if (!comInitialized_ && xmldom::initializeCom())
        comInitialized_ = true;
    document = xmldom::createDocument(byClassId);
    if (!document)
        libraryLog(logger, LEVEL_WARN, kModule, L"Failed in MSXML create instance error:%d",
                   os::lastError());
    return document;
}

bool XMLParser::initWithXMLPath(const std::wstring& path) {
    const FailureTexts texts = {
        L"Caught exception in ... initWithXMLPath. com error:%x  system error:%d",
        L"Caught exception in ... initWithXMLPath. error:%d"};
    loadError_.clear();
    return guarded(logger, texts, false, [&] {
        // A device, a pipe or a huge file is refused before anything reads it.
        int64_t size = 0;
        if (!os::regularFileSize(path, size) || size > kMaxDocumentBytes) {
            libraryLog(logger, LEVEL_WARN, kModule, L"Failed to load xml %s. system error:%d",
                       path.c_str(), os::lastError());
            return false;
        }
        xmldom::DocumentRef document = createDocument(true);
        if (!document)
            return false;
        xmldom::setAsyncOff(*document);
        xmldom::refuseExternalResources(*document);
        bool loaded = xmldom::load(*document, path);
        if (!loaded) {
            loadError_ = xmldom::lastLoadError(*document);
            // Some files the service rejects by path still parse from their text.
            std::wstring text;
            if (readTextFile(path, text)) {
                loaded = xmldom::loadXml(*document, text);
                // The text's own reason is the more exact one when there is one.
                const std::wstring textError = loaded ? L"" : xmldom::lastLoadError(*document);
                if (!textError.empty())
                    loadError_ = textError;
            }
        }
        if (!loaded) {
            libraryLog(logger, LEVEL_WARN, kModule, L"Failed to load xml %s. system error:%d",
                       path.c_str(), os::lastError());
            return false;
        }
        loadError_.clear();
        document_ = std::move(document);
        return true;
    });
}

bool XMLParser::initWithXMLString(const std::wstring& xml) {
    const FailureTexts texts = {
        L"Caught exception in ... initWithXMLString. com error:%x  system error:%d",
        L"Caught exception in ... initWithXMLString. error:%d"};
    return guarded(logger, texts, false, [&] {
        xmldom::DocumentRef document = createDocument(false);
        if (!document)
            return false;
        xmldom::setAsyncOff(*document);
        xmldom::refuseExternalResources(*document);
        if (!xmldom::loadXml(*document, xml))
            return false;
        document_ = std::move(document);
        return true;
    });
}

bool XMLParser::nodeExistsXQuery(const std::wstring& query) {
    if (!document_)
        return false;
    const FailureTexts texts = {
        L"Caught exception in ... nodeExistsXQuery. com error:%x  system error:%d",
        L"Caught exception in ... nodeExistsXQuery. error:%d"};
    return guarded(logger, texts, false, [&] {
        xmldom::NodeListRef list = xmldom::selectNodes(*document_, query);
        return xmldom::listLength(*list) != 0;
    });
}

bool XMLParser::stringValueForXQuery(const std::wstring& query, std::wstring& value) {
    if (!document_) {
        libraryLog(logger, LEVEL_DEBUG, kModule,
                   L"stringValueForXQuery ... XMLParser not Initialized ...");
        return false;
    }
    const FailureTexts texts = {
        L"Caught exception in ... stringValueForXQuery. com error:%x  system error:%d",
        L"Caught exception in ... stringValueForXQuery. error:%d", LEVEL_DEBUG};
    return guarded(logger, texts, false, [&] {
        if (!nodeExistsXQuery(query))
            return false;
        xmldom::NodeListRef list = xmldom::selectNodes(*document_, query);
        if (xmldom::listLength(*list) == 0)
            return false;
        xmldom::NodeRef node = xmldom::listItem(*list, 0);
        if (!node)
            return false;
        value = xmldom::text(*node);
        return true;
    });
}

XmlNode XMLParser::getNodeForXQuery(const std::wstring& query) {
    if (!document_) {
        libraryLog(logger, LEVEL_DEBUG, kModule,
                   L"getNodeForXQuery ... XMLParser not Initialized ...");
        return {};
    }
    const FailureTexts texts = {
        L"Caught exception in ... getNodeForXQuery. com error:%x  system error:%d",
        L"Caught exception in ... getNodeForXQuery. error:%d"};
    return guarded(logger, texts, XmlNode(), [&]() -> XmlNode {
        if (!nodeExistsXQuery(query))
            return {};
        xmldom::NodeListRef list = xmldom::selectNodes(*document_, query);
        if (xmldom::listLength(*list) <= 0)
            return {};
        xmldom::NodeRef node = xmldom::listItem(*list, 0);
        if (!node)
            return {};
        try {
            return XmlNode(xmldom::asElement(*node));
        } catch (const xmldom::ServiceError& e) {
            // An attribute or a text is simply not an element; anything else is a failure.
            if (e.code() == xmldom::kErrorNoInterface)
                return {};
            throw;
        }
    });
}

XmlNodeList XMLParser::getNodeListForXQuery(const std::wstring& query, int* count) {
    if (count)
        *count = 0;
    if (!document_) {
        libraryLog(logger, LEVEL_DEBUG, kModule,
                   L"getNodeListForXQuery ... XMLParser not Initialized ...");
        return {};
    }
    const FailureTexts texts = {
        L"Caught exception in ... getNodeListForXQuery. com error:%x  system error:%d",
        L"Caught exception in ... getNodeListForXQuery. error:%d"};
    return guarded(logger, texts, XmlNodeList(), [&]() -> XmlNodeList {
        if (!nodeExistsXQuery(query))
            return {};
        xmldom::NodeListRef list = xmldom::selectNodes(*document_, query);
        if (count) {
            long n = xmldom::listLength(*list);
            *count = n > INT_MAX ? INT_MAX : static_cast<int>(n);
        }
        return XmlNodeList(std::move(list));
    });
}

bool XMLParser::getRootNode(XmlNode& root) {
    if (!document_) {
        libraryLog(logger, LEVEL_DEBUG, kModule, L"getRootNode ... XMLParser not Initialized ...");
        return false;
    }
    // Caught here as well: no failure of the service may reach the caller.
    const FailureTexts texts = {
        L"Caught exception in ... getRootNode. com error:%x  system error:%d",
        L"Caught exception in ... getRootNode. error:%d"};
    return guarded(logger, texts, false, [&] {
        root = XmlNode(xmldom::documentElement(*document_));
        return true;
    });
}

namespace {

// Both forms of addChildToNode; they differ in the returned child and one message text.
bool addChild(const xmldom::DocumentRef& document, AbstractLogger* logger, const std::wstring& name,
              const std::wstring& text, const XmlNode& parent, XmlNode* child) {
    if (parent.empty()) {
        libraryLog(logger, LEVEL_DEBUG, kModule, L"addChildToNode ... node is null!");
        return false;
    }
    if (!document) {
        libraryLog(logger, LEVEL_DEBUG, kModule,
                   L"addChildToNode ... XMLParser not Initialized ...");
        return false;
    }
    const FailureTexts texts = {
        L"Caught exception in ... addChildToNode. com error:%x  system error:%d",
        child ? L"Caught exception in ... addChildToNode error:%d"
              : L"Caught exception in ... addChildToNode. error:%d"};
    return guarded(logger, texts, false, [&] {
        xmldom::NodeRef node = xmldom::createElement(*document, name);
        xmldom::setTypedValue(*node, text);
        xmldom::appendChild(*parent.impl(), *node);
        if (child)
            *child = XmlNode(xmldom::asElement(*node));
        return true;
    });
}

}  // namespace

bool XMLParser::addChildToNode(const std::wstring& name, const std::wstring& text,
                               const XmlNode& parent, XmlNode& child) {
    return addChild(document_, logger, name, text, parent, &child);
}

bool XMLParser::addChildToNode(const std::wstring& name, const std::wstring& text,
                               const XmlNode& parent) {
    return addChild(document_, logger, name, text, parent, nullptr);
}

bool XMLParser::getChildElements(const XmlNode& parent, std::vector<XmlElement>& children) {
    if (!document_) {
        libraryLog(logger, LEVEL_DEBUG, kModule,
                   L"getChildElements ... XMLParser not Initialized ...");
        return false;
    }
    const FailureTexts texts = {
        L"Caught exception in ... getChildElements. com error:%x  system error:%d",
        L"Caught exception in ... getChildElements. error:%d"};
    return guarded(logger, texts, false, [&] {
        std::vector<xmldom::NodeRef> nodes;
        if (parent.empty()) {
            if (xmldom::NodeRef root = xmldom::documentElement(*document_))
                nodes.push_back(std::move(root));
        } else {
            nodes = xmldom::childElements(*parent.impl());
        }
        std::vector<XmlElement> found;
        found.reserve(nodes.size());
        for (xmldom::NodeRef& node : nodes) {
            XmlElement element;
            element.name = xmldom::nodeName(*node);
            element.line = xmldom::lineNumber(*node);
            element.node = XmlNode(std::move(node));
            found.push_back(std::move(element));
        }
        children = std::move(found);
        return true;
    });
}

bool XMLParser::getTextOfNode(const XmlNode& node, std::wstring& text) {
    if (node.empty()) {
        libraryLog(logger, LEVEL_DEBUG, kModule, L"getTextOfNode ... node is null!");
        return false;
    }
    const FailureTexts texts = {
        L"Caught exception in ... getTextOfNode. com error:%x  system error:%d",
        L"Caught exception in ... getTextOfNode. error:%d"};
    return guarded(logger, texts, false, [&] {
        text = xmldom::text(*node.impl());
        return true;
    });
}

bool XMLParser::getXMLStringOfNode(const XmlNode& node, std::wstring& xml) {
    if (node.empty()) {
        libraryLog(logger, LEVEL_DEBUG, kModule, L"getNodeXMLString ... node is null!");
        return false;
    }
    if (!document_) {
        libraryLog(logger, LEVEL_DEBUG, kModule,
                   L"getXMLStringOfNode ... XMLParser not Initialized ...");
        return false;
    }
    const FailureTexts texts = {
        L"Caught exception in ... getXMLStringOfNode. com error:%x  system error:%d",
        L"Caught exception in ... getXMLStringOfNode. error:%d"};
    return guarded(logger, texts, false, [&] {
        std::wstring markup;
        if (!xmldom::markup(*node.impl(), markup))
            return false;
        xml = std::move(markup);
        return true;
    });
}

bool XMLParser::writeXMLToFile(const std::wstring& path) {
    try {
        if (!document_)
            throw xmldom::ServiceError(xmldom::kErrorPointer);
        xmldom::save(*document_, path);
        return true;
    } catch (...) {
        libraryLog(logger, LEVEL_ERROR, kModule,
                   L"Caught exception while writing xml data to a file at path :%ls", path.c_str());
    }
    return false;
}

}  // namespace zoka
