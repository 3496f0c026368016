// The DOM service over MSXML 3.0 through COM. Every failed HRESULT becomes a ServiceError, the
// way a COM smart pointer would raise it; XMLParser decides what each one means.

#include <windows.h>
// windows.h first: the COM and MSXML headers depend on it.
#include <msxml2.h>
#include <ole2.h>

#include <new>

#include "base/win32_handle.h"
#include "support/xml_dom.h"

namespace zoka::xmldom {

namespace {

// The class and interface ids this service uses. msxml2.h declares them, but mingw's import
// libraries do not define all of them, so they are defined once, here.
// DOMDocument of the MSXML 2 library (version-independent class of "MSXML2.DOMDocument.3.0").
constexpr CLSID kClsidDomDocument = {
    0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
constexpr IID kIidUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomElement = {
    0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

constexpr char kProgId[] = "MSXML2.DOMDocument.3.0";

void check(HRESULT hr) {
    if (FAILED(hr))
        throw ServiceError(static_cast<int32_t>(hr));
}

/// Owns a BSTR (SysFreeString).
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& text)
        : bstr_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
        if (bstr_ == nullptr)
            throw ServiceError(static_cast<int32_t>(E_OUTOFMEMORY));
    }
    ~Bstr() { ::SysFreeString(bstr_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return bstr_; }
    BSTR* put() {
        ::SysFreeString(bstr_);
        bstr_ = nullptr;
        return &bstr_;
    }
    std::wstring str() const { return bstr_ ? std::wstring(bstr_, ::SysStringLen(bstr_)) : L""; }

private:
    BSTR bstr_ = nullptr;
};

/// Owns a VARIANT (VariantClear).
class Variant {
public:
    Variant() { ::VariantInit(&value_); }
    explicit Variant(const std::wstring& text) : Variant() {
        value_.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (value_.bstrVal == nullptr)
            throw ServiceError(static_cast<int32_t>(E_OUTOFMEMORY));
        value_.vt = VT_BSTR;
    }
    explicit Variant(long number) : Variant() {
        value_.vt = VT_I4;
        value_.lVal = number;
    }
    ~Variant() { ::VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    const VARIANT& get() const { return value_; }

private:
    VARIANT value_;
};

template <typename T>
win32::ComPtr<IXMLDOMNode> asNode(const win32::ComPtr<T>& p) {
    // Every DOM interface derives from IXMLDOMNode: a new counted reference, no query needed.
    IXMLDOMNode* node = p.get();
    if (node != nullptr)
        node->AddRef();
    return win32::ComPtr<IXMLDOMNode>::adopt(node);
}

}  // namespace

struct Document {
    win32::ComPtr<IXMLDOMDocument2> dom;
};
struct Node {
    win32::ComPtr<IXMLDOMNode> dom;
};
struct NodeList {
    win32::ComPtr<IXMLDOMNodeList> dom;
};

namespace {

NodeRef makeNode(win32::ComPtr<IXMLDOMNode> dom) {
    if (!dom)
        return nullptr;
    auto node = std::make_shared<Node>();
    node->dom = std::move(dom);
    return node;
}

}  // namespace

DocumentRef createDocument(bool byClassId) {
    try {
        CLSID clsid = kClsidDomDocument;
        if (!byClassId) {
            // The ProgID is widened in the ANSI code page; a "{...}" text would be a class id.
            wchar_t progId[64] = {};
            if (::MultiByteToWideChar(CP_ACP, 0, kProgId, -1, progId, 64) == 0)
                return nullptr;
            HRESULT hr = progId[0] == L'{' ? ::CLSIDFromString(progId, &clsid)
                                           : ::CLSIDFromProgID(progId, &clsid);
            if (FAILED(hr))
                return nullptr;
        }
        win32::ComPtr<IUnknown> unknown;
        if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, kIidUnknown,
                                      reinterpret_cast<void**>(unknown.put()))) ||
            !unknown)
            return nullptr;
        if (FAILED(::OleRun(unknown.get())))
            return nullptr;
        auto document = std::make_shared<Document>();
        if (FAILED(unknown->QueryInterface(kIidXmlDomDocument2,
                                           reinterpret_cast<void**>(document->dom.put()))) ||
            !document->dom)
            return nullptr;
        return document;
    } catch (...) {
        return nullptr;
    }
}

bool initializeCom() {
    return SUCCEEDED(::CoInitialize(nullptr));
}

void uninitializeCom() {
    ::CoUninitialize();
}

void setAsyncOff(Document& document) {
    check(document.dom->put_async(VARIANT_FALSE));
}

namespace {

// The nesting depth that libxml2, and so the POSIX build, accepts.
constexpr long kMaxElementDepth = 256;

void setOptionalProperty(Document& document, const wchar_t* name, const VARIANT& value) {
    // Older MSXML 3.0 releases lack some properties: then the service's own limits hold.
    Bstr property{std::wstring(name)};
    document.dom->setProperty(property.get(), value);
}

// Wine's MSXML accepts ProhibitDTD without enforcing it: a loaded document that still has a
// document type declaration is refused here, so every service gives the same verdict.
bool loadedWithoutDtd(Document& document, VARIANT_BOOL loaded) {
    if (loaded != VARIANT_TRUE)
        return false;
    win32::ComPtr<IXMLDOMDocumentType> doctype;
    check(document.dom->get_doctype(doctype.put()));
    return !doctype;
}

}  // namespace

void refuseExternalResources(Document& document) {
    check(document.dom->put_resolveExternals(VARIANT_FALSE));
    check(document.dom->put_validateOnParse(VARIANT_FALSE));
    VARIANT prohibit;
    ::VariantInit(&prohibit);
    prohibit.vt = VT_BOOL;
    prohibit.boolVal = VARIANT_TRUE;
    setOptionalProperty(document, L"ProhibitDTD", prohibit);
    Variant depth(kMaxElementDepth);
    setOptionalProperty(document, L"MaxElementDepth", depth.get());
}

LoadSettings loadSettings(Document& document) {
    LoadSettings settings;
    VARIANT_BOOL value = VARIANT_TRUE;
    check(document.dom->get_resolveExternals(&value));
    settings.resolveExternals = value == VARIANT_TRUE;
    check(document.dom->get_validateOnParse(&value));
    settings.validateOnParse = value == VARIANT_TRUE;
    Bstr property{std::wstring(L"ProhibitDTD")};
    VARIANT prohibit;
    ::VariantInit(&prohibit);
    settings.prohibitDtd = SUCCEEDED(document.dom->getProperty(property.get(), &prohibit)) &&
                           prohibit.vt == VT_BOOL && prohibit.boolVal == VARIANT_TRUE;
    ::VariantClear(&prohibit);
    return settings;
}

bool load(Document& document, const std::wstring& path) {
    Variant source(path);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    check(document.dom->load(source.get(), &loaded));
    return loadedWithoutDtd(document, loaded);
}

bool loadXml(Document& document, const std::wstring& xml) {
    Bstr text(xml);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    check(document.dom->loadXML(text.get(), &loaded));
    return loadedWithoutDtd(document, loaded);
}

std::wstring lastLoadError(Document& document) {
    win32::ComPtr<IXMLDOMParseError> error;
    long line = 0, column = 0;
    Bstr reason;
    if (FAILED(document.dom->get_parseError(error.put())) || !error ||
        FAILED(error->get_line(&line)) || FAILED(error->get_linepos(&column)) ||
        FAILED(error->get_reason(reason.put())))
        return std::wstring();
    std::wstring message = reason.str();
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    if (message.empty() || line <= 0)
        return message;  // no position: a file that could not be read, say
    return L"line " + std::to_wstring(line) + L", column " + std::to_wstring(column) + L": " +
           message;
}

NodeListRef selectNodes(Document& document, const std::wstring& query) {
    // MSXML answers these with an error; Wine's crashes on some of them, so they never reach it.
    if (isMalformedQuery(query))
        throw ServiceError(kErrorFail);
    Bstr pattern(query);
    auto list = std::make_shared<NodeList>();
    check(document.dom->selectNodes(pattern.get(), list->dom.put()));
    if (!list->dom)
        throw ServiceError(kErrorPointer);
    return list;
}

long listLength(NodeList& list) {
    long length = 0;
    check(list.dom->get_length(&length));
    return length;
}

NodeRef listItem(NodeList& list, long index) {
    win32::ComPtr<IXMLDOMNode> node;
    check(list.dom->get_item(index, node.put()));
    return makeNode(std::move(node));
}

std::wstring text(Node& node) {
    Bstr value;
    check(node.dom->get_text(value.put()));
    return value.str();
}

bool markup(Node& node, std::wstring& xml) {
    Bstr value;
    if (FAILED(node.dom->get_xml(value.put())))
        return false;
    xml = value.str();
    return true;
}

NodeRef documentElement(Document& document) {
    win32::ComPtr<IXMLDOMElement> root;
    check(document.dom->get_documentElement(root.put()));
    return makeNode(asNode(root));
}

NodeRef createElement(Document& document, const std::wstring& name) {
    Variant type(static_cast<long>(NODE_ELEMENT));
    Bstr tag(name);
    Bstr noNamespace(L"");
    win32::ComPtr<IXMLDOMNode> node;
    check(document.dom->createNode(type.get(), tag.get(), noNamespace.get(), node.put()));
    if (!node)
        throw ServiceError(kErrorPointer);
    return makeNode(std::move(node));
}

void setTypedValue(Node& node, const std::wstring& value) {
    Variant typed(value);
    check(node.dom->put_nodeTypedValue(typed.get()));
}

void appendChild(Node& parent, Node& child) {
    win32::ComPtr<IXMLDOMNode> appended;  // released at once
    check(parent.dom->appendChild(child.dom.get(), appended.put()));
}

NodeRef asElement(Node& node) {
    win32::ComPtr<IXMLDOMElement> element;
    check(node.dom->QueryInterface(kIidXmlDomElement, reinterpret_cast<void**>(element.put())));
    if (!element)
        throw ServiceError(kErrorNoInterface);
    return makeNode(asNode(element));
}

void save(Document& document, const std::wstring& path) {
    Variant destination(path);
    check(document.dom->save(destination.get()));
}

std::vector<NodeRef> childElements(Node& node) {
    win32::ComPtr<IXMLDOMNodeList> list;
    check(node.dom->get_childNodes(list.put()));
    if (!list)
        throw ServiceError(kErrorPointer);
    long length = 0;
    check(list->get_length(&length));
    std::vector<NodeRef> children;
    for (long i = 0; i < length; ++i) {
        win32::ComPtr<IXMLDOMNode> child;
        check(list->get_item(i, child.put()));
        DOMNodeType type = NODE_INVALID;
        if (child && SUCCEEDED(child->get_nodeType(&type)) && type == NODE_ELEMENT)
            children.push_back(makeNode(std::move(child)));
    }
    return children;
}

std::wstring nodeName(Node& node) {
    Bstr name;
    check(node.dom->get_nodeName(name.put()));
    return name.str();
}

long lineNumber(Node&) {
    // MSXML's DOM keeps no source positions.
    return 0;
}

}  // namespace zoka::xmldom
