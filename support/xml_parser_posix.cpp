// The DOM service over libxml2. Parsing never touches the network and never loads an external
// entity or DTD; queries are the XSL Pattern subset the callers use, evaluated here directly.

#include <errno.h>
#include <fcntl.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/unicode.h"
#include "base/unique_fd.h"
#include "support/file_utils_posix.h"
#include "support/xml_dom.h"

namespace zoka::xmldom {

namespace {

// No network, no entity substitution, no DTD loading, no size or depth limits lifted: libxml2's
// defaults then refuse nesting deeper than 256 levels.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// A text value larger than this is refused rather than built (entity references can multiply
// the text of a small document).
constexpr size_t kMaxTextBytes = size_t{64} << 20;

void initLibrary() {
    static const bool initialised = [] {
        xmlInitParser();
        return true;
    }();
    (void)initialised;
}

void quietGeneric(void*, const char*, ...) {}

template <typename R, typename... A>
constexpr auto quietFor(R (*)(A...)) {
    return static_cast<R (*)(A...)>([](A...) -> R {});
}

// Nothing of libxml2 reaches the console while an object of this type lives.
class QuietErrors {
public:
    QuietErrors()
        : structured_(xmlStructuredError),
          structuredContext_(xmlStructuredErrorContext),
          generic_(xmlGenericError),
          genericContext_(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(nullptr, quietFor(xmlStructuredErrorFunc{}));
        xmlSetGenericErrorFunc(nullptr, quietGeneric);
    }
    ~QuietErrors() {
        xmlSetStructuredErrorFunc(structuredContext_, structured_);
        xmlSetGenericErrorFunc(genericContext_, generic_);
    }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    xmlStructuredErrorFunc structured_;
    void* structuredContext_;
    xmlGenericErrorFunc generic_;
    void* genericContext_;
};

xmlParserInputPtr refuseLoad(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

// Belt and braces beside the parse options: any attempt to load an external resource while
// parsing is refused outright.
class RefuseExternalLoads {
public:
    RefuseExternalLoads() : previous_(xmlGetExternalEntityLoader()) {
        xmlSetExternalEntityLoader(refuseLoad);
    }
    ~RefuseExternalLoads() { xmlSetExternalEntityLoader(previous_); }
    RefuseExternalLoads(const RefuseExternalLoads&) = delete;
    RefuseExternalLoads& operator=(const RefuseExternalLoads&) = delete;

private:
    xmlExternalEntityLoader previous_;
};

const char* chars(const xmlChar* s) {
    return reinterpret_cast<const char*>(s);
}
const xmlChar* xmlChars(const std::string& s) {
    return reinterpret_cast<const xmlChar*>(s.c_str());
}

std::string qualifiedName(const xmlChar* name, const xmlNs* ns) {
    std::string result;
    if (ns != nullptr && ns->prefix != nullptr) {
        result = chars(ns->prefix);
        result.push_back(':');
    }
    if (name != nullptr)
        result += chars(name);
    return result;
}

// The qualified name of an element or attribute ("prefix:local" or "local") is `name`, compared
// without building it.
bool hasName(const xmlNode* node, const std::string& name) {
    const char* local = chars(node->name);
    if (node->ns != nullptr && node->ns->prefix != nullptr) {
        const char* prefix = chars(node->ns->prefix);
        size_t n = std::strlen(prefix);
        return name.size() > n && name.compare(0, n, prefix) == 0 && name[n] == ':' &&
               name.compare(n + 1, std::string::npos, local) == 0;
    }
    return name == local;
}

// Parents with at least this many element children get a child index.
constexpr size_t kIndexedFrom = 32;

// "line L, column C: message" of the parser's last error; empty when there is none.
std::wstring describeError(const xmlError* error) {
    if (error == nullptr || error->code == XML_ERR_OK)
        return std::wstring();
    std::string message = error->message != nullptr ? error->message : "";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    if (error->line <= 0)
        return fromUtf8(message);
    return L"line " + std::to_wstring(error->line) + L", column " + std::to_wstring(error->int2) +
           L": " + fromUtf8(message);
}

xmlDocPtr parse(const char* data, size_t size, const char* encoding, int extraOptions,
                std::wstring& reason) {
    reason.clear();
    if (size > static_cast<size_t>(INT_MAX))
        return nullptr;
    QuietErrors quiet;
    RefuseExternalLoads refuse;
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (context == nullptr)
        throw ServiceError(kErrorOutOfMemory);
    xmlDocPtr doc = xmlCtxtReadMemory(context, data, static_cast<int>(size), nullptr, encoding,
                                      kParseOptions | extraOptions);
    // A document type declaration is refused, as ProhibitDTD makes MSXML do: it is where
    // external resources and entity expansion come from.
    if (doc != nullptr &&
        (!context->wellFormed || doc->intSubset != nullptr || doc->extSubset != nullptr)) {
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    if (doc == nullptr)
        reason = describeError(xmlCtxtGetLastError(context));
    xmlFreeParserCtxt(context);
    return doc;
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

struct Document : std::enable_shared_from_this<Document> {
    Document() = default;
    ~Document() {
        if (doc != nullptr)
            xmlFreeDoc(doc);
    }
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    /// The element children of `parent` named `name` ("*": all of them), in document order.
    /// A parent with many children gets an index, built once, so that an indexed step costs
    /// no walk from the first child; the children of a small parent are gathered into
    /// `scratch` by a plain walk.
    const std::vector<xmlNodePtr>& children(xmlNodePtr parent, const std::string& name,
                                            std::vector<xmlNodePtr>& scratch) {
        static const std::vector<xmlNodePtr> none;
        auto found = index.find(parent);
        if (found == index.end()) {
            size_t elements = 0;
            for (xmlNodePtr c = parent->children; c != nullptr && elements < kIndexedFrom;
                 c = c->next)
                if (c->type == XML_ELEMENT_NODE)
                    ++elements;
            if (elements < kIndexedFrom) {
                scratch.clear();
                for (xmlNodePtr c = parent->children; c != nullptr; c = c->next)
                    if (c->type == XML_ELEMENT_NODE && (name == "*" || hasName(c, name)))
                        scratch.push_back(c);
                return scratch;
            }
            ByName groups;
            for (xmlNodePtr c = parent->children; c != nullptr; c = c->next) {
                if (c->type != XML_ELEMENT_NODE)
                    continue;
                groups[qualifiedName(c->name, c->ns)].push_back(c);
                groups["*"].push_back(c);
            }
            found = index.emplace(parent, std::move(groups)).first;
        }
        auto group = found->second.find(name);
        return group == found->second.end() ? none : group->second;
    }

    /// Any change of the tree drops the child index.
    void changed() { index.clear(); }

    using ByName = std::unordered_map<std::string, std::vector<xmlNodePtr>>;
    xmlDocPtr doc = nullptr;
    std::unordered_map<const xmlNode*, ByName> index;
    std::wstring loadError;  ///< the parser's reason for the last failed load
};

struct Node : std::enable_shared_from_this<Node> {
    Node(DocumentRef ownerDocument, xmlNodePtr treeNode, bool detached)
        : owner(std::move(ownerDocument)), node(treeNode), ownsIfDetached(detached) {}
    ~Node() {
        // A created element that never made it into the tree is ours to free.
        if (ownsIfDetached && node->parent == nullptr)
            xmlFreeNode(node);
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    DocumentRef owner;
    xmlNodePtr node;
    bool ownsIfDetached;
};

struct NodeList {
    DocumentRef owner;
    std::vector<xmlNodePtr> nodes;
};

namespace {

// One step of a query: child elements by name ("*" for any) or attributes ("@name", "@*"),
// then 0-based position predicates, each counted among the matches of one context node.
struct Step {
    bool attribute = false;
    std::string name;
    std::vector<size_t> positions;
};

bool isNameChar(unsigned char c) {
    return c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == ':';
}

bool parseName(std::string_view text, std::string& name) {
    if (text == "*") {
        name = "*";
        return true;
    }
    if (text.empty() || text == "." || text == "..")
        return false;
    for (char c : text)
        if (!isNameChar(static_cast<unsigned char>(c)))
            return false;
    name = std::string(text);
    return true;
}

// "[ 12 ]" -> 12; anything else (a filter, a function, a sign) is outside the subset.
bool parsePosition(std::string_view text, size_t& position) {
    size_t begin = 0, end = text.size();
    while (begin < end && isXmlSpace(text[begin]))
        ++begin;
    while (end > begin && isXmlSpace(text[end - 1]))
        --end;
    if (begin == end)
        return false;
    size_t value = 0;
    for (size_t i = begin; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        unsigned digit = static_cast<unsigned>(text[i] - '0');
        // Past the largest position a document can hold: matches nothing.
        value = value > (SIZE_MAX - digit) / 10 ? SIZE_MAX : value * 10 + digit;
    }
    position = value;
    return true;
}

bool parseStep(std::string_view text, Step& step) {
    size_t bracket = text.find('[');
    std::string_view head = text.substr(0, bracket);
    if (!head.empty() && head[0] == '@') {
        step.attribute = true;
        head.remove_prefix(1);
    }
    if (!parseName(head, step.name))
        return false;
    while (bracket != std::string_view::npos) {
        size_t close = text.find(']', bracket);
        if (close == std::string_view::npos)
            return false;
        size_t position = 0;
        if (!parsePosition(text.substr(bracket + 1, close - bracket - 1), position))
            return false;
        step.positions.push_back(position);
        bracket = close + 1;
        if (bracket == text.size())
            break;
        if (text[bracket] != '[')
            return false;
    }
    return true;
}

// False when the query is outside the subset; it then selects nothing.
bool parseQuery(const std::string& query, std::vector<Step>& steps) {
    std::string_view rest(query);
    if (!rest.empty() && rest[0] == '/')
        rest.remove_prefix(1);
    if (rest.empty())
        return true;  // "/": the document itself
    while (true) {
        size_t slash = rest.find('/');
        Step step;
        if (!parseStep(rest.substr(0, slash), step))
            return false;
        if (step.attribute && slash != std::string_view::npos)
            return false;
        steps.push_back(std::move(step));
        if (slash == std::string_view::npos)
            return true;
        rest.remove_prefix(slash + 1);
    }
}

// The matches of one context node after the step's position predicates, appended to `out`.
// Indexes straight into `matches`, so an indexed step costs the same at any position.
void appendSelected(const Step& step, const std::vector<xmlNodePtr>& matches,
                    std::vector<xmlNodePtr>& out) {
    if (step.positions.empty()) {
        out.insert(out.end(), matches.begin(), matches.end());
        return;
    }
    // After the first predicate one node is left, which only position 0 keeps.
    if (step.positions[0] >= matches.size())
        return;
    for (size_t i = 1; i < step.positions.size(); ++i)
        if (step.positions[i] != 0)
            return;
    out.push_back(matches[step.positions[0]]);
}

std::vector<xmlNodePtr> evaluate(Document& document, const std::vector<Step>& steps) {
    std::vector<xmlNodePtr> scratch;
    std::vector<xmlNodePtr> contexts{reinterpret_cast<xmlNodePtr>(document.doc)};
    for (const Step& step : steps) {
        std::vector<xmlNodePtr> next;
        for (xmlNodePtr context : contexts) {
            if (step.attribute) {
                if (context->type != XML_ELEMENT_NODE)
                    continue;
                std::vector<xmlNodePtr> matches;
                for (xmlAttrPtr a = context->properties; a != nullptr; a = a->next)
                    if (step.name == "*" || qualifiedName(a->name, a->ns) == step.name)
                        matches.push_back(reinterpret_cast<xmlNodePtr>(a));
                appendSelected(step, matches, next);
            } else {
                appendSelected(step, document.children(context, step.name, scratch), next);
            }
        }
        contexts.swap(next);
        if (contexts.empty())
            break;
    }
    return contexts;
}

void appendLimited(std::string& out, const xmlChar* text) {
    if (text == nullptr)
        return;
    size_t n = std::strlen(chars(text));
    if (n > kMaxTextBytes - out.size())
        throw ServiceError(kErrorOutOfMemory);
    out.append(chars(text), n);
}

// Text and CDATA of the node and its descendants, entity references expanded, without
// recursion.
std::string collectText(xmlNodePtr node) {
    std::string out;
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
        appendLimited(out, node->content);
        return out;
    }
    std::vector<xmlNodePtr> pending{node->children};
    size_t visits = 0;
    while (!pending.empty()) {
        xmlNodePtr current = pending.back();
        pending.pop_back();
        if (current == nullptr)
            continue;
        // Shared entity content may be visited many times over; bound the walk as well.
        if (++visits > kMaxTextBytes)
            throw ServiceError(kErrorOutOfMemory);
        pending.push_back(current->next);
        switch (current->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                appendLimited(out, current->content);
                break;
            case XML_ELEMENT_NODE:
                pending.push_back(current->children);
                break;
            case XML_ENTITY_REF_NODE: {
                xmlEntityPtr entity = xmlGetDocEntity(current->doc, current->name);
                if (entity != nullptr && entity->children != nullptr)
                    pending.push_back(entity->children);
                break;
            }
            default:
                break;
        }
    }
    return out;
}

std::string trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isXmlSpace(text[begin]))
        ++begin;
    while (end > begin && isXmlSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// The document takes a newly parsed tree; a failed parse (null) leaves it as it was.
bool replaceTree(Document& document, xmlDocPtr doc) {
    if (doc == nullptr)
        return false;
    xmlFreeDoc(document.doc);
    document.doc = doc;
    document.changed();
    return true;
}

}  // namespace

DocumentRef createDocument(bool) {
    try {
        initLibrary();
        auto document = std::make_shared<Document>();
        document->doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
        if (document->doc == nullptr)
            return nullptr;
        return document;
    } catch (...) {
        return nullptr;
    }
}

bool initializeCom() {
    return false;
}

void uninitializeCom() {}

void setAsyncOff(Document&) {}

// libxml2 is set per parse (no network, no entity loading) and parse() refuses any DTD.
void refuseExternalResources(Document&) {}

LoadSettings loadSettings(Document&) {
    return LoadSettings();
}

bool load(Document& document, const std::wstring& path) {
    posix::UniqueFd fd(::open(toUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return false;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (st.st_size > INT_MAX) {
        errno = EFBIG;
        return false;
    }
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = posix::readSome(fd.get(), &bytes[done], bytes.size() - done);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    // The bytes carry their own encoding: a byte-order mark or the declaration.
    return replaceTree(document, parse(bytes.data(), bytes.size(), nullptr, 0, document.loadError));
}

bool loadXml(Document& document, const std::wstring& xml) {
    // The text is already decoded: any encoding its declaration names is moot.
    std::string bytes = toUtf8(xml);
    return replaceTree(document, parse(bytes.data(), bytes.size(), "UTF-8", XML_PARSE_IGNORE_ENC,
                                       document.loadError));
}

std::wstring lastLoadError(Document& document) {
    return document.loadError;
}

NodeListRef selectNodes(Document& document, const std::wstring& query) {
    if (isMalformedQuery(query))
        throw ServiceError(kErrorFail);
    auto list = std::make_shared<NodeList>();
    std::vector<Step> steps;
    if (parseQuery(toUtf8(query), steps))
        list->nodes = evaluate(document, steps);
    // Nodes and lists keep the document alive, like counted references of the service.
    list->owner = document.shared_from_this();
    return list;
}

long listLength(NodeList& list) {
    return static_cast<long>(list.nodes.size());
}

NodeRef listItem(NodeList& list, long index) {
    if (index < 0 || static_cast<size_t>(index) >= list.nodes.size())
        return nullptr;
    return std::make_shared<Node>(list.owner, list.nodes[static_cast<size_t>(index)], false);
}

std::wstring text(Node& node) {
    std::string value = collectText(node.node);
    if (node.node->type == XML_ELEMENT_NODE || node.node->type == XML_DOCUMENT_NODE)
        value = trimmed(value);
    return fromUtf8(value);
}

bool markup(Node& node, std::wstring& xml) {
    QuietErrors quiet;
    xmlNodePtr n = node.node;
    if (n->type == XML_ATTRIBUTE_NODE) {
        xmlChar* escaped = xmlEncodeSpecialChars(n->doc, xmlChars(collectText(n)));
        if (escaped == nullptr)
            return false;
        std::string result = qualifiedName(n->name, n->ns) + "=\"" + chars(escaped) + "\"";
        xmlFree(escaped);
        xml = fromUtf8(result);
        return true;
    }
    xmlBufferPtr buffer = xmlBufferCreate();
    if (buffer == nullptr)
        return false;
    bool ok = xmlNodeDump(buffer, n->doc, n, 0, 0) >= 0;
    if (ok)
        xml = fromUtf8(std::string_view(chars(xmlBufferContent(buffer)),
                                        static_cast<size_t>(xmlBufferLength(buffer))));
    xmlBufferFree(buffer);
    return ok;
}

NodeRef documentElement(Document& document) {
    xmlNodePtr root = xmlDocGetRootElement(document.doc);
    if (root == nullptr)
        return nullptr;
    return std::make_shared<Node>(document.shared_from_this(), root, false);
}

NodeRef createElement(Document& document, const std::wstring& name) {
    std::string utf8 = toUtf8(name);
    QuietErrors quiet;
    if (utf8.empty() || utf8.find('\0') != std::string::npos ||
        xmlValidateName(xmlChars(utf8), 0) != 0)
        throw ServiceError(kErrorFail);
    xmlNodePtr element = xmlNewDocNode(document.doc, nullptr, xmlChars(utf8), nullptr);
    if (element == nullptr)
        throw ServiceError(kErrorOutOfMemory);
    return std::make_shared<Node>(document.shared_from_this(), element, true);
}

void setTypedValue(Node& node, const std::wstring& value) {
    xmlNodePtr n = node.node;
    if (n->type != XML_ELEMENT_NODE && n->type != XML_ATTRIBUTE_NODE)
        throw ServiceError(kErrorFail);
    std::string utf8 = toUtf8(value);
    // A raw text node: the value is text, never markup or entity references.
    xmlNodePtr text = nullptr;
    if (!utf8.empty()) {
        if (utf8.size() > static_cast<size_t>(INT_MAX))
            throw ServiceError(kErrorOutOfMemory);
        text = xmlNewDocTextLen(n->doc, xmlChars(utf8), static_cast<int>(utf8.size()));
        if (text == nullptr)
            throw ServiceError(kErrorOutOfMemory);
    }
    xmlFreeNodeList(n->children);
    n->children = nullptr;
    n->last = nullptr;
    if (text != nullptr && xmlAddChild(n, text) == nullptr) {
        xmlFreeNode(text);
        throw ServiceError(kErrorFail);
    }
    node.owner->changed();
}

void appendChild(Node& parent, Node& child) {
    xmlNodePtr p = parent.node;
    xmlNodePtr c = child.node;
    // Only a new element of the same document moves into the tree: under an element, or as
    // the root of a document that has none.
    if (parent.owner.get() != child.owner.get() || c->type != XML_ELEMENT_NODE ||
        c->parent != nullptr)
        throw ServiceError(kErrorFail);
    bool toDocument = p->type == XML_DOCUMENT_NODE;
    if (!(p->type == XML_ELEMENT_NODE ||
          (toDocument && xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(p)) == nullptr)))
        throw ServiceError(kErrorFail);
    if (xmlAddChild(p, c) == nullptr)
        throw ServiceError(kErrorFail);
    parent.owner->changed();
}

NodeRef asElement(Node& node) {
    if (node.node->type != XML_ELEMENT_NODE)
        throw ServiceError(kErrorNoInterface);
    return node.shared_from_this();
}

void save(Document& document, const std::wstring& path) {
    xmlChar* bytes = nullptr;
    int size = 0;
    {
        QuietErrors quiet;
        const char* encoding =
            document.doc->encoding != nullptr ? chars(document.doc->encoding) : "UTF-8";
        xmlDocDumpMemoryEnc(document.doc, &bytes, &size, encoding);
    }
    if (bytes == nullptr || size < 0) {
        if (bytes != nullptr)
            xmlFree(bytes);
        throw ServiceError(kErrorFail);
    }
    std::string data(chars(bytes), static_cast<size_t>(size));
    xmlFree(bytes);
    posix::UniqueFd fd;
    if (posix::createRegularFile(toUtf8(path), fd) != 0 || posix::writeAll(fd.get(), data) != 0)
        throw ServiceError(kErrorFail);
    ::fsync(fd.get());
}

std::vector<NodeRef> childElements(Node& node) {
    std::vector<NodeRef> children;
    for (xmlNodePtr c = node.node->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE)
            children.push_back(std::make_shared<Node>(node.owner, c, false));
    return children;
}

std::wstring nodeName(Node& node) {
    return fromUtf8(qualifiedName(node.node->name, node.node->ns));
}

long lineNumber(Node& node) {
    const long line = xmlGetLineNo(node.node);
    return line > 0 ? line : 0;
}

}  // namespace zoka::xmldom
