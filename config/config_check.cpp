#include "config/config_check.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <utility>

#include "config/uninstall_product.h"
#include "support/xml_parser.h"

namespace velkaro {

namespace {

using Names = std::vector<const wchar_t*>;

bool contains(const Names& names, const std::wstring& name) {
    return std::any_of(names.begin(), names.end(), [&](const wchar_t* n) { return name == n; });
}

// The format's fixed levels: which children each element may have.
const Names kUnderRoot = {L"UninstallInfo"};
const Names kUnderUninstallInfo = {L"VELT", L"QX"};
const Names kUnderFamily = {L"Products"};
const Names kUnderProducts = {L"Product"};
// Both families know every field: the loader ignores a VELT BaseVersion and a QX
// DeploymentUninstall rather than refusing them.
const Names kUnderProduct = {L"SapCode", L"Version", L"Platform", L"BaseVersion",
                             L"DeploymentUninstall"};

struct FamilyRules {
    const wchar_t* name;
    const wchar_t* listQuery;  // the loader's query: Product positions count across it
    Names required;            // text values that must be present and not empty
    bool needsDeployment;
};

const FamilyRules kVeltRules = {L"VELT",
                                L"/ZephUninstallXML/UninstallInfo/VELT/Products/Product",
                                {L"SapCode", L"Version", L"Platform"},
                                true};
const FamilyRules kQxRules = {L"QX",
                              L"/ZephUninstallXML/UninstallInfo/QX/Products/Product",
                              {L"SapCode", L"Version", L"Platform", L"BaseVersion"},
                              false};

bool isBlank(const std::wstring& text) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return std::iswspace(c); });
}

class Walker {
public:
    Walker(zoka::XMLParser& parser, bool strict) : parser_(parser), strict_(strict) {}

    std::vector<ConfigFinding> run() {
        std::vector<zoka::XmlElement> roots;
        if (!parser_.getChildElements(zoka::XmlNode(), roots) || roots.empty())
            return std::move(findings_);
        const zoka::XmlElement& root = roots.front();
        const ElementPlace rootPlace{L"/" + root.name, root.line};
        if (root.name != kConfigRootName) {
            // Nothing below a foreign root means anything to the loader.
            if (strict_)
                add(FindingKind::WrongRoot, root.name, rootPlace);
            return std::move(findings_);
        }
        for (const Child& info : children(root.node, rootPlace.path, kUnderRoot)) {
            for (const Child& family :
                 children(info.element.node, info.place.path, kUnderUninstallInfo)) {
                const FamilyRules& rules =
                    family.element.name == kVeltRules.name ? kVeltRules : kQxRules;
                for (const Child& list :
                     children(family.element.node, family.place.path, kUnderFamily))
                    walkProducts(list, rules);
            }
        }
        return std::move(findings_);
    }

private:
    struct Child {
        zoka::XmlElement element;
        ElementPlace place;
    };

    void add(FindingKind kind, const std::wstring& element, const ElementPlace& place,
             const ElementPlace& firstPlace = {}) {
        findings_.push_back({kind, element, place, firstPlace});
    }

    /// The known children of `node`, each with its place; the unknown ones become findings.
    std::vector<Child> children(const zoka::XmlNode& node, const std::wstring& path,
                                const Names& known) {
        std::vector<zoka::XmlElement> elements;
        if (!parser_.getChildElements(node, elements))
            return {};
        std::map<std::wstring, int> total, seen;
        for (const zoka::XmlElement& e : elements)
            ++total[e.name];
        std::vector<Child> result;
        for (zoka::XmlElement& e : elements) {
            std::wstring step = path + L"/" + e.name;
            const int position = seen[e.name]++;
            if (total[e.name] > 1)
                step += L"[" + std::to_wstring(position) + L"]";
            ElementPlace place{step, e.line};
            if (!contains(known, e.name))
                add(FindingKind::UnknownElement, e.name, place);
            else
                result.push_back({std::move(e), std::move(place)});
        }
        return result;
    }

    void walkProducts(const Child& list, const FamilyRules& rules) {
        std::vector<zoka::XmlElement> elements;
        if (!parser_.getChildElements(list.element.node, elements))
            return;
        int& next = rules.needsDeployment ? veltCount_ : qxCount_;
        for (const zoka::XmlElement& e : elements) {
            if (e.name != L"Product") {
                add(FindingKind::UnknownElement, e.name, {list.place.path + L"/" + e.name, e.line});
                continue;
            }
            // Numbered as the loader's queries number them, so both name the same product.
            const ElementPlace place{
                std::wstring(rules.listQuery) + L"[" + std::to_wstring(next++) + L"]", e.line};
            walkProduct(e.node, place, rules);
        }
    }

    void walkProduct(const zoka::XmlNode& node, const ElementPlace& place,
                     const FamilyRules& rules) {
        std::map<std::wstring, Child> first;  // the loader reads the first of each name
        for (Child& field : children(node, place.path, kUnderProduct))
            first.emplace(field.element.name, std::move(field));
        if (!strict_)
            return;

        UninstallProduct product;
        std::map<std::wstring, std::wstring*> keyFields = {{L"SapCode", &product.sapCode},
                                                           {L"Version", &product.version},
                                                           {L"Platform", &product.platform}};
        bool keyComplete = true;
        for (const wchar_t* name : rules.required) {
            auto found = first.find(name);
            if (found == first.end()) {
                add(FindingKind::MissingValue, name, place);
                keyComplete = keyComplete && keyFields.count(name) == 0;
                continue;
            }
            std::wstring text;
            if (!parser_.getTextOfNode(found->second.element.node, text) || isBlank(text))
                add(FindingKind::EmptyValue, name, found->second.place);
            auto key = keyFields.find(name);
            if (key != keyFields.end())
                *key->second = text;
        }
        if (rules.needsDeployment && !hasDeployment(first))
            add(FindingKind::MissingValue, L"DeploymentUninstall/Deployment", place);

        if (!keyComplete)
            return;
        auto inserted = products_.emplace(productKey(product), place);
        if (!inserted.second)
            add(FindingKind::DuplicateProduct, productKey(product), place, inserted.first->second);
    }

    bool hasDeployment(const std::map<std::wstring, Child>& first) {
        auto found = first.find(L"DeploymentUninstall");
        if (found == first.end())
            return false;
        std::vector<zoka::XmlElement> inner;
        if (!parser_.getChildElements(found->second.element.node, inner))
            return false;
        return std::any_of(inner.begin(), inner.end(),
                           [](const zoka::XmlElement& e) { return e.name == L"Deployment"; });
    }

    zoka::XMLParser& parser_;
    bool strict_;
    std::vector<ConfigFinding> findings_;
    std::map<std::wstring, ElementPlace> products_;  // productKey -> first place
    int veltCount_ = 0;
    int qxCount_ = 0;
};

}  // namespace

std::vector<ConfigFinding> checkConfigDocument(zoka::XMLParser& parser) {
    return Walker(parser, true).run();
}

std::vector<ConfigFinding> checkLoadedConfig(zoka::XMLParser& parser, const std::wstring& path) {
    if (!parser.hasDocument())
        return {{FindingKind::NotLoadable, L"", {path, 0}, {}}};
    return checkConfigDocument(parser);
}

std::vector<ConfigFinding> checkConfigFile(const std::wstring& path) {
    zoka::XMLParser parser;
    parser.initWithXMLPath(path);
    return checkLoadedConfig(parser, path);
}

std::vector<ConfigFinding> unknownConfigElements(zoka::XMLParser& parser) {
    return Walker(parser, false).run();
}

bool configRootName(zoka::XMLParser& parser, std::wstring& name) {
    std::vector<zoka::XmlElement> roots;
    if (!parser.getChildElements(zoka::XmlNode(), roots) || roots.empty())
        return false;
    name = roots.front().name;
    return true;
}

std::wstring placeText(const ElementPlace& place) {
    if (place.line <= 0)
        return place.path;
    return place.path + L" (line " + std::to_wstring(place.line) + L")";
}

std::wstring findingText(const ConfigFinding& finding) {
    const std::wstring where = placeText(finding.place);
    switch (finding.kind) {
        case FindingKind::NotLoadable:
            return L"Not a readable XML document: " + where;
        case FindingKind::WrongRoot:
            return L"Root element (" + finding.element + L") is not " + kConfigRootName + L": " +
                   where;
        case FindingKind::UnknownElement:
            return L"Unknown element (" + finding.element + L") at " + where;
        case FindingKind::MissingValue:
            return L"Missing element (" + finding.element + L") in " + where;
        case FindingKind::EmptyValue:
            return L"Empty value (" + finding.element + L") at " + where;
        case FindingKind::DuplicateProduct:
            return L"Product listed twice (" + finding.element + L") at " + where + L", first at " +
                   placeText(finding.firstPlace);
    }
    return where;
}

}  // namespace velkaro
