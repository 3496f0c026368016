#include "engine/setup_fixture.h"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "logging/shared_logger.h"
#include "support/platform.h"
#include "support/unicode.h"

namespace fs = std::filesystem;

namespace enginetest {

namespace {

fs::path fsPath(const std::wstring& path) {
    return fs::u8path(zoka::toUtf8(path));
}

std::wstring join(std::wstring base, std::initializer_list<const wchar_t*> parts) {
    for (const wchar_t* part : parts) {
        base.push_back(zoka::os::pathSeparator());
        base.append(part);
    }
    return base;
}

const char* const kStandinVariables[] = {"STANDIN_JOURNAL", "STANDIN_EXIT", "STANDIN_MODE",
                                         "STANDIN_SLEEP_MS", "STANDIN_RULES"};

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
            out.push_back(static_cast<char>(hexDigit(value[i + 1]) * 16 + hexDigit(value[i + 2])));
            i += 2;
        } else {
            out.push_back(value[i]);
        }
    }
    return out;
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(hexDigit(hex[i]) * 16 + hexDigit(hex[i + 1])));
    return bytes;
}

/// The utilities' shared log file is created, and kept open, in whatever temporary folder is
/// current at its first use. Give it a folder of its own, so that it never lands in (or holds
/// open) a test's temporary folder. The name is fixed: where the open file keeps the folder
/// from being removed at exit (Windows), the next run reuses it instead of adding another.
class SharedLogFolder {
public:
    SharedLogFolder() {
        zoka::os::getTempPath(path_);
        path_ += L"velkaro-test-sharedlog";
        std::error_code ec;
        fs::create_directories(fsPath(path_), ec);
        testutil::TempFolderOverride temp(path_);
        getSharedLogger();
    }
    ~SharedLogFolder() { testutil::removeTree(path_); }

private:
    std::wstring path_;
};

void createSharedLogAside() {
    static SharedLogFolder folder;
}

}  // namespace

bool isPosix() {
    return zoka::os::pathSeparator() == L'/';
}

std::wstring StandinRecord::value(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? std::wstring() : it->second;
}

SetupPrograms::SetupPrograms() {
    createSharedLogAside();
    // Stand-in settings from the environment would come before those of the installed copies.
    for (const char* name : kStandinVariables) {
        std::wstring old = testutil::getEnv(name);
        hadEnv_.push_back(!old.empty());
        savedEnv_.emplace_back(name, old);
        testutil::setEnv(name, L"", true);
    }
    if (isPosix()) {
        commonBase_ = scratch_.file(L"Common Files");
        programBase_ = scratch_.file(L"Program Files");
        for (const char* name : {"CommonProgramFiles", "ProgramFiles"}) {
            std::wstring old = testutil::getEnv(name);
            hadEnv_.push_back(!old.empty());
            savedEnv_.emplace_back(name, old);
        }
        testutil::setEnv("CommonProgramFiles", commonBase_);
        testutil::setEnv("ProgramFiles", programBase_);
    } else {
        // The shell's folders, which the environment names too on a normal system.
        commonBase_ = testutil::getEnv("CommonProgramFiles");
        programBase_ = testutil::getEnv("ProgramFiles");
        if (commonBase_.empty() || programBase_.empty()) {
            reason_ = "the program files folders are not known";
            return;
        }
        // Copies left by an interrupted earlier run are removed; anything else is not ours.
        std::string standin = testutil::readBytes(testutil::siblingProgram(L"standin_setup"));
        for (const std::wstring& path : {veltPath(), qxBoxPath(), qxCorePath()}) {
            if (!zoka::os::pathExists(path))
                continue;
            std::error_code ec;
            if (!zoka::os::isDirectory(path) && testutil::readBytes(path) == standin) {
                fs::remove(fsPath(path), ec);
                fs::remove(fsPath(path + L".cfg"), ec);
            } else {
                reason_ = "a setup program is installed at " + zoka::toUtf8(path);
            }
        }
    }
    fs::create_directories(fsPath(tempFolder()));
}

SetupPrograms::~SetupPrograms() {
    std::error_code ec;
    for (auto it = placed_.rbegin(); it != placed_.rend(); ++it)
        fs::remove_all(fsPath(*it), ec);
    for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it)
        fs::remove(fsPath(*it), ec);  // only when empty: never more than this fixture made
    for (size_t i = 0; i < savedEnv_.size(); ++i)
        testutil::setEnv(savedEnv_[i].first, savedEnv_[i].second, !hadEnv_[i]);
}

std::wstring SetupPrograms::veltPath() const {
    return join(commonBase_, {L"Quenda", L"ZOKA", L"Plimm", L"DrexCore", L"Setup.exe"});
}
std::wstring SetupPrograms::qxBoxPath() const {
    return join(commonBase_, {L"Quenda", L"Quenda Desktop Common", L"QXBox", L"Setup.exe"});
}
std::wstring SetupPrograms::qxCorePath() const {
    return join(programBase_, {L"Quenda", L"Quenda Loomwork", L"QXCore", L"Setup.exe"});
}

void SetupPrograms::createFolders(const std::wstring& folder) {
    std::vector<std::wstring> missing;
    for (fs::path p = fsPath(folder); !p.empty() && !fs::exists(p); p = p.parent_path()) {
        missing.push_back(zoka::fromUtf8(p.u8string()));
        if (p == p.parent_path())
            break;
    }
    std::error_code ec;
    fs::create_directories(fsPath(folder), ec);
    createdFolders_.insert(createdFolders_.end(), missing.rbegin(), missing.rend());
}

void SetupPrograms::install(const std::wstring& path, const std::string& exitCode,
                            const std::string& rules, const std::string& mode) {
    createFolders(zoka::fromUtf8(fsPath(path).parent_path().u8string()));
    std::error_code ec;
    fs::copy_file(fsPath(testutil::siblingProgram(L"standin_setup")), fsPath(path),
                  fs::copy_options::overwrite_existing, ec);
    std::string config = "STANDIN_JOURNAL=" + zoka::toUtf8(journal()) +
                         "\nSTANDIN_EXIT=" + exitCode + "\nSTANDIN_MODE=" + mode +
                         "\nSTANDIN_SLEEP_MS=0\n";
    if (!rules.empty())
        config += "STANDIN_RULES=" + rules + "\n";
    testutil::writeBytes(path + L".cfg", config);
    placed_.push_back(path);
    placed_.push_back(path + L".cfg");
}

void SetupPrograms::installFolder(const std::wstring& path) {
    createFolders(path);
    placed_.push_back(path);
}

void SetupPrograms::uninstall(const std::wstring& path) {
    std::error_code ec;
    fs::remove(fsPath(path), ec);
    fs::remove(fsPath(path + L".cfg"), ec);
}

std::vector<StandinRecord> SetupPrograms::records() const {
    std::vector<StandinRecord> records;
    std::istringstream in(testutil::readBytes(journal()));
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq);
        std::string value = unescape(line.substr(eq + 1));
        if (key == "record" && value == "begin") {
            records.emplace_back();
            continue;
        }
        if (records.empty())
            continue;
        StandinRecord& record = records.back();
        if (key == "arg")
            record.args.push_back(zoka::fromUtf8(value));
        if (key == "param_hex")
            record.paramBytes = fromHex(value);
        record.values[key] = zoka::fromUtf8(value);
    }
    return records;
}

std::vector<std::wstring> SetupPrograms::tempLeftovers() const {
    std::vector<std::wstring> names;
    std::error_code ec;
    for (fs::directory_iterator it(fsPath(tempFolder()), ec), end; !ec && it != end;
         it.increment(ec))
        names.push_back(zoka::fromUtf8(it->path().filename().u8string()));
    return names;
}

}  // namespace enginetest
