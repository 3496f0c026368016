#pragma once
// XMLParser: one XML document of the platform's DOM service (MSXML 3.0 on Windows, libxml2 on
// POSIX) behind a small, failure-tolerant vocabulary: load, query, build, serialise, save.
// Queries are XSL Patterns read from the document node: "/" steps to child elements by name and
// a numeric predicate "[n]" selects the match at position n counting from 0. No operation
// throws; failures are results (false or an empty reference), most with a message through the
// library log hook (module "XMLParser").

#include <memory>
#include <string>
#include <vector>

namespace zoka {

class AbstractLogger;

namespace xmldom {
struct Document;
struct Node;
struct NodeList;
}  // namespace xmldom

/// A counted reference to a node of a parser's document: an element, an attribute, a text.
/// Copies refer to the same node; an empty reference means none. Release references before the
/// parser that produced them (on Windows the parser may end COM on the thread).
class XmlNode {
public:
    XmlNode() = default;
    explicit XmlNode(std::shared_ptr<xmldom::Node> impl) : impl_(std::move(impl)) {}

    bool empty() const { return impl_ == nullptr; }
    explicit operator bool() const { return impl_ != nullptr; }
    /// The service's node, for the parser's own implementation.
    xmldom::Node* impl() const { return impl_.get(); }

private:
    std::shared_ptr<xmldom::Node> impl_;
};

/// A counted reference to the matches of one query, in document order; empty means none.
class XmlNodeList {
public:
    XmlNodeList() = default;
    explicit XmlNodeList(std::shared_ptr<xmldom::NodeList> impl) : impl_(std::move(impl)) {}

    bool empty() const { return impl_ == nullptr; }
    explicit operator bool() const { return impl_ != nullptr; }
    /// Number of matches; 0 for an empty reference or when the service fails.
    int length() const;
    /// The match at `index` (from 0), or an empty reference when there is none.
    XmlNode item(int index) const;

private:
    std::shared_ptr<xmldom::NodeList> impl_;
};

/// An element as a reader of the document's structure sees it.
struct XmlElement {
    std::wstring name;  ///< qualified name ("prefix:local" or "local")
    long line = 0;      ///< line in the source; 0 when the service does not tell (MSXML never does)
    XmlNode node;
};

class XMLParser {
public:
    /// Touches neither COM nor the DOM service.
    XMLParser();
    /// Releases the document and, when this object initialised COM, uninitialises it once.
    ~XMLParser();
    XMLParser(const XMLParser&) = delete;
    XMLParser& operator=(const XMLParser&) = delete;

    /// Loads a file (falling back to its text read as UTF-8); the document is replaced only on
    /// success.
    bool initWithXMLPath(const std::wstring& path);
    /// Loads XML text; fails silently when it does not parse.
    bool initWithXMLString(const std::wstring& xml);

    /// True when the query selects at least one node.
    bool nodeExistsXQuery(const std::wstring& query);
    /// The text of the first match (an attribute's value, an element's text with that of its
    /// descendants); `value` is written only on success.
    bool stringValueForXQuery(const std::wstring& query, std::wstring& value);
    /// The first match when it is an element, else an empty reference.
    XmlNode getNodeForXQuery(const std::wstring& query);
    /// Every match, or an empty reference when there is none; `count` receives the length.
    XmlNodeList getNodeListForXQuery(const std::wstring& query, int* count = nullptr);
    /// The root element (possibly empty); false when no document is loaded.
    bool getRootNode(XmlNode& root);

    /// Appends a new element `name` with `text` as its content as the last child of `parent`.
    bool addChildToNode(const std::wstring& name, const std::wstring& text, const XmlNode& parent,
                        XmlNode& child);
    bool addChildToNode(const std::wstring& name, const std::wstring& text, const XmlNode& parent);

    /// The element children of `parent` (the root element when `parent` is empty), in document
    /// order; `children` is written only on success.
    bool getChildElements(const XmlNode& parent, std::vector<XmlElement>& children);
    /// The node's text, as stringValueForXQuery gives it for a match.
    bool getTextOfNode(const XmlNode& node, std::wstring& text);

    /// The node's markup, its own tag included.
    bool getXMLStringOfNode(const XmlNode& node, std::wstring& xml);
    /// Saves the document to `path` (UTF-8 unless the document declares another encoding).
    bool writeXMLToFile(const std::wstring& path);

    /// The DOM service's reason ("line L, column C: text") why the last initWithXMLPath failed;
    /// empty after a success or when the service gave none.
    const std::wstring& loadError() const { return loadError_; }

    /// True when a document is loaded.
    bool hasDocument() const { return document_ != nullptr; }

    /// True once this object initialised COM on its thread (never on POSIX).
    bool comInitialized() const { return comInitialized_; }

    /// When set, every message of this object goes here instead of the library hook. Not owned.
    AbstractLogger* logger = nullptr;

private:
    std::shared_ptr<xmldom::Document> createDocument(bool byClassId);

    std::shared_ptr<xmldom::Document> document_;
    bool comInitialized_ = false;
    std::wstring loadError_;
};

}  // namespace zoka
