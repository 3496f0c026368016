#pragma once
// The DOM service under XMLParser, one implementation per platform (xml_parser_win32.cpp over
// MSXML 3.0, xml_parser_posix.cpp over libxml2). Internal to the utility library.
//
// Every call that can fail throws ServiceError with the service's HRESULT, except where a
// result says otherwise; XMLParser turns those into its failure results.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zoka::xmldom {

/// HRESULTs the wrapper itself raises or tests for, with the same values on every platform.
inline constexpr int32_t kErrorFail = static_cast<int32_t>(0x80004005);         // E_FAIL
inline constexpr int32_t kErrorPointer = static_cast<int32_t>(0x80004003);      // E_POINTER
inline constexpr int32_t kErrorNoInterface = static_cast<int32_t>(0x80004002);  // E_NOINTERFACE
inline constexpr int32_t kErrorOutOfMemory = static_cast<int32_t>(0x8007000E);  // E_OUTOFMEMORY

/// A failure reported by the DOM service.
class ServiceError {
public:
    explicit ServiceError(int32_t code) : code_(code) {}
    int32_t code() const { return code_; }

private:
    int32_t code_;
};

struct Document;
struct Node;
struct NodeList;
using DocumentRef = std::shared_ptr<Document>;
using NodeRef = std::shared_ptr<Node>;
using NodeListRef = std::shared_ptr<NodeList>;

/// A fresh empty document of the version-3.0 class, named by class id or by ProgID. Empty on
/// failure; never throws.
DocumentRef createDocument(bool byClassId);
/// CoInitialize(NULL) on the calling thread; true when it succeeded (S_OK or S_FALSE) and so
/// must be balanced. Nothing on POSIX (false).
bool initializeCom();
/// CoUninitialize on the calling thread; nothing on POSIX.
void uninitializeCom();

void setAsyncOff(Document& document);

/// What a document may read while it loads. An elevated program reads documents that others
/// may have written: no external entity, external DTD or validation is ever loaded.
struct LoadSettings {
    bool resolveExternals = false;
    bool validateOnParse = false;
    bool prohibitDtd = true;
};
/// Sets the document so that loading reads nothing but the given file or text, and refuses a
/// document type declaration: MSXML's resolveExternals and validateOnParse false, ProhibitDTD
/// true and the nesting depth bounded where this MSXML has those properties. Load and loadXml
/// refuse a document with a document type declaration on every build, whatever the service
/// enforces.
void refuseExternalResources(Document& document);
/// The settings as the service reports them (fixed on POSIX), for tests.
LoadSettings loadSettings(Document& document);
/// Parses the file; false when the service does not load it.
bool load(Document& document, const std::wstring& path);
/// Parses the text; false when the service does not load it.
bool loadXml(Document& document, const std::wstring& xml);
/// The service's reason for the last failed load into `document` ("line L, column C: text");
/// empty when it gave none.
std::wstring lastLoadError(Document& document);
NodeListRef selectNodes(Document& document, const std::wstring& query);
long listLength(NodeList& list);
/// The item at `index`, empty when there is none.
NodeRef listItem(NodeList& list, long index);
std::wstring text(Node& node);
/// False when the service reports an error (no exception).
bool markup(Node& node, std::wstring& xml);
/// The root element, empty when the document has none.
NodeRef documentElement(Document& document);
/// A new element without namespace, not yet in the tree.
NodeRef createElement(Document& document, const std::wstring& name);
/// The typed value of an element, set from a string (used on new elements only: the value
/// replaces whatever content the element had).
void setTypedValue(Node& node, const std::wstring& value);
void appendChild(Node& parent, Node& child);
/// The same node as an element; throws ServiceError(kErrorNoInterface) for other node kinds.
NodeRef asElement(Node& node);
void save(Document& document, const std::wstring& path);
/// The element children of a node, in document order.
std::vector<NodeRef> childElements(Node& node);
/// The node's qualified name.
std::wstring nodeName(Node& node);
/// The node's line in the parsed source; 0 when the service does not record lines.
long lineNumber(Node& node);

/// True for a query that no XSL Pattern can read: empty, a trailing "/", an unbalanced or
/// empty "[...]", a step without a name ("@" alone, "[0]" alone). MSXML rejects these with an
/// error (Wine's crashes on some), so both services report them as kErrorFail.
bool isMalformedQuery(const std::wstring& query);

}  // namespace zoka::xmldom
