#include "standin.h"

#include <filesystem>

#include "base/platform.h"
#include "base/unicode.h"

namespace fs = std::filesystem;

namespace testutil {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string unescape(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() && hexDigit(value[i + 1]) >= 0 &&
            hexDigit(value[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(value[i + 1]) * 16 + hexDigit(value[i + 2]));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(hexDigit(hex[i]) * 16 + hexDigit(hex[i + 1]));
    return bytes;
}

std::wstring join(std::wstring path, std::initializer_list<const wchar_t*> parts) {
    for (const wchar_t* part : parts)
        path += zoka::os::pathSeparator() + std::wstring(part);
    return path;
}

}  // namespace

std::wstring JournalRecord::get(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() || it->second.empty() ? std::wstring() : it->second.front();
}

const std::vector<std::wstring>& JournalRecord::args() const {
    static const std::vector<std::wstring> none;
    auto it = values.find("arg");
    return it == values.end() ? none : it->second;
}

std::vector<JournalRecord> readJournal(const std::wstring& path) {
    std::vector<JournalRecord> records;
    const std::string bytes = readBytes(path);
    JournalRecord current;
    bool open = false;
    // A line without its end is being written: it and its record are left for the next read.
    for (size_t start = 0, end; (end = bytes.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string line = bytes.substr(start, end - start);
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = unescape(line.substr(eq + 1));
        if (key == "record") {
            if (value == "end" && open)
                records.push_back(current);
            open = value == "begin";
            current = JournalRecord();
        } else if (open) {
            current.values[key].push_back(zoka::fromUtf8(value));
            if (key == "param_hex")
                current.paramBytes = fromHex(value);
        }
    }
    return records;
}

StandinPlaces::StandinPlaces(const std::wstring& scratch) : roots_(programRoots(scratch)) {}

StandinPlaces::~StandinPlaces() {
    std::error_code ec;
    for (auto it = placed_.rbegin(); it != placed_.rend(); ++it)
        fs::remove_all(fsPath(*it), ec);
    for (auto it = made_.rbegin(); it != made_.rend(); ++it)
        fs::remove(fsPath(*it), ec);
}

std::wstring StandinPlaces::path(SetupPlace place) const {
    switch (place) {
        case SetupPlace::Velt:
            return join(roots_.commonFiles,
                        {L"Quenda", L"ZOKA", L"Plimm", L"DrexCore", L"Setup.exe"});
        case SetupPlace::QxBox:
            return join(roots_.commonFiles,
                        {L"Quenda", L"Quenda Desktop Common", L"QXBox", L"Setup.exe"});
        case SetupPlace::QxCore:
        default:
            return join(roots_.programFiles,
                        {L"Quenda", L"Quenda Loomwork", L"QXCore", L"Setup.exe"});
    }
}

bool StandinPlaces::clearLeftovers(std::string& problem) const {
    const std::string standin = readBytes(siblingProgram(L"standin_setup"));
    for (SetupPlace place : {SetupPlace::Velt, SetupPlace::QxBox, SetupPlace::QxCore}) {
        const std::wstring setup = path(place);
        std::error_code ec;
        if (!zoka::os::pathExists(setup))
            continue;
        if (zoka::os::isDirectory(setup) ? fs::is_empty(fsPath(setup), ec)
                                         : readBytes(setup) == standin) {
            fs::remove(fsPath(setup), ec);
            fs::remove(fsPath(setup + L".cfg"), ec);
        } else {
            problem = "a setup program is installed at " + zoka::toUtf8(setup);
        }
    }
    return problem.empty();
}

bool StandinPlaces::install(const std::wstring& path, const std::wstring& journal,
                            const std::string& exitCode, const std::string& rules,
                            const std::string& mode) {
    const std::vector<std::wstring> made =
        makeFolders(path.substr(0, path.rfind(zoka::os::pathSeparator())));
    made_.insert(made_.end(), made.begin(), made.end());
    placed_.push_back(path);
    placed_.push_back(path + L".cfg");
    std::string config = "STANDIN_JOURNAL=" + zoka::toUtf8(journal) + "\nSTANDIN_EXIT=" + exitCode +
                         "\nSTANDIN_MODE=" + mode + "\nSTANDIN_SLEEP_MS=0\n";
    if (!rules.empty())
        config += "STANDIN_RULES=" + rules + "\nSTANDIN_UNMATCHED=" + exitCode + "\n";
    return copyProgram(siblingProgram(L"standin_setup"), path) &&
           writeBytes(path + L".cfg", config);
}

void StandinPlaces::installFolder(const std::wstring& path) {
    const std::vector<std::wstring> made = makeFolders(path);
    made_.insert(made_.end(), made.begin(), made.end());
    placed_.push_back(path);
}

void StandinPlaces::uninstall(const std::wstring& path) {
    std::error_code ec;
    fs::remove(fsPath(path), ec);
    fs::remove(fsPath(path + L".cfg"), ec);
}

}  // namespace testutil
