#pragma once
// A strict check of a configuration document, beside the loader: the root element, elements the
// format does not know, missing and empty values, and products listed twice. Findings are plain
// data, so that a caller can print them or hand them to a report.

#include <string>
#include <vector>

namespace zoka {
class XMLParser;
}

namespace velkaro {

inline constexpr const wchar_t* kConfigRootName = L"ZephUninstallXML";

enum class FindingKind {
    NotLoadable,       ///< the file is not an XML document the service reads
    WrongRoot,         ///< the root element is not ZephUninstallXML
    UnknownElement,    ///< an element the format does not know, where the format is fixed
    MissingValue,      ///< a product lacks a required element
    EmptyValue,        ///< a value element without text (or only white space)
    DuplicateProduct,  ///< the same SapCode, Version and Platform as an earlier product
};

/// Where an element is: its path, with a 0-based position on each step that has same-named
/// siblings and always on Product (the loader's own numbering), and its line (0: not known).
struct ElementPlace {
    std::wstring path;
    long line = 0;
};

struct ConfigFinding {
    FindingKind kind = FindingKind::NotLoadable;
    std::wstring element;     ///< the element concerned (for MissingValue: the one that is absent)
    ElementPlace place;       ///< the element, or for MissingValue and DuplicateProduct its Product
    ElementPlace firstPlace;  ///< DuplicateProduct: the earlier product
};

/// The strict check of a loaded document; findings in document order.
std::vector<ConfigFinding> checkConfigDocument(zoka::XMLParser& parser);

/// The check of `path` as `parser` loaded it: a parser that holds no document (the file did not
/// load) gives one NotLoadable finding.
std::vector<ConfigFinding> checkLoadedConfig(zoka::XMLParser& parser, const std::wstring& path);

/// Loads `path` with its own parser and checks it (checkLoadedConfig).
std::vector<ConfigFinding> checkConfigFile(const std::wstring& path);

/// Only the elements the format does not know: what an ordinary run warns about.
std::vector<ConfigFinding> unknownConfigElements(zoka::XMLParser& parser);

/// The root element's name; false when the document has none.
bool configRootName(zoka::XMLParser& parser, std::wstring& name);

/// "path (line n)", or the path alone when the line is not known.
std::wstring placeText(const ElementPlace& place);

/// One line for a finding, naming the element and its place.
std::wstring findingText(const ConfigFinding& finding);

}  // namespace velkaro
