// Loading a configuration and reading every field of every product the way the configuration
// loader does: one indexed query per field ("...Product[i]/SapCode"), each pre-checked with
// nodeExistsXQuery. The time should grow linearly with the number of products.

#include <benchmark/benchmark.h>

#include <ctime>
#include <map>
#include <string>

#include "base/platform.h"
#include "support/file_utils.h"
#include "support/xml_parser.h"

namespace {

const std::wstring kVeltList = L"/ZephUninstallXML/UninstallInfo/VELT/Products/Product";
const std::wstring kQxList = L"/ZephUninstallXML/UninstallInfo/QX/Products/Product";

std::wstring configurationText(int products) {
    std::wstring xml =
        L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ZephUninstallXML>\n"
        L" <UninstallInfo>\n  <VELT>\n   <Products>\n";
    const int velt = products / 2;
    for (int i = 0; i < velt; ++i) {
        std::wstring n = std::to_wstring(i);
        xml += L"    <Product>\n     <SapCode>SAP" + n + L"</SapCode>\n     <Version>1." + n +
               L"</Version>\n     <Platform>win64</Platform>\n     <DeploymentUninstall>"
               L"<Deployment><Payload id=\"" +
               n +
               L"\" mode=\"silent\"><Option>keep</Option></Payload></Deployment>"
               L"</DeploymentUninstall>\n    </Product>\n";
    }
    xml += L"   </Products>\n  </VELT>\n  <QX>\n   <Products>\n";
    for (int i = velt; i < products; ++i) {
        std::wstring n = std::to_wstring(i);
        xml += L"    <Product><SapCode>QX" + n + L"</SapCode><Version>2." + n +
               L"</Version><Platform>osx</Platform><BaseVersion>2.0</BaseVersion></Product>\n";
    }
    return xml + L"   </Products>\n  </QX>\n </UninstallInfo>\n</ZephUninstallXML>\n";
}

// The configuration files of the run, in a folder of their own that goes at exit.
class Configurations {
public:
    ~Configurations() {
        std::wstring failed;
        if (!folder_.empty())
            zoka::deleteDirectory(folder_, failed, true, true);
    }
    const std::wstring& path(int products) {
        if (folder_.empty()) {
            zoka::os::getTempPath(folder_);
            zoka::appendPath(folder_, L"velkaro-xml-bench-" + std::to_wstring(::time(nullptr)));
            zoka::ensureFolder(folder_);
        }
        auto found = paths_.find(products);
        if (found != paths_.end())
            return found->second;
        std::wstring file = folder_;
        zoka::appendPath(file, L"config-" + std::to_wstring(products) + L".xml");
        zoka::writeTextFile(file, configurationText(products));
        return paths_.emplace(products, file).first->second;
    }

private:
    std::wstring folder_;
    std::map<int, std::wstring> paths_;
};

Configurations configurations;

bool readList(zoka::XMLParser& parser, const std::wstring& list, bool velt) {
    int count = 0;
    parser.getNodeListForXQuery(list, &count);
    std::wstring value;
    for (int i = 0; i < count; ++i) {
        const std::wstring prefix = list + L"[" + std::to_wstring(i) + L"]/";
        if (!parser.stringValueForXQuery(prefix + L"SapCode", value) ||
            !parser.stringValueForXQuery(prefix + L"Version", value) ||
            !parser.stringValueForXQuery(prefix + L"Platform", value))
            return false;
        if (velt) {
            zoka::XmlNode deployment =
                parser.getNodeForXQuery(prefix + L"DeploymentUninstall/Deployment");
            if (!parser.getXMLStringOfNode(deployment, value))
                return false;
        } else if (!parser.stringValueForXQuery(prefix + L"BaseVersion", value)) {
            return false;
        }
    }
    return true;
}

void loadAndReadEveryProduct(benchmark::State& state) {
    const int products = static_cast<int>(state.range(0));
    const std::wstring& path = configurations.path(products);
    for (auto _ : state) {
        zoka::XMLParser parser;
        if (!parser.initWithXMLPath(path) || !readList(parser, kVeltList, true) ||
            !readList(parser, kQxList, false)) {
            state.SkipWithError("the configuration did not read");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * products);
}

BENCHMARK(loadAndReadEveryProduct)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
