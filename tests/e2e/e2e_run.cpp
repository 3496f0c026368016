#include "e2e/e2e_run.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "base/platform.h"
#include "base/unicode.h"

namespace e2e {
namespace {

const wchar_t kSep = zoka::os::pathSeparator();
const std::wstring kBanner(50, L'#');
const std::wstring kStars(50, L'*');

bool onWindows() {
    return kSep == L'\\';
}

std::wstring xmlText(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        if (c == L'&')
            escaped += L"&amp;";
        else if (c == L'<')
            escaped += L"&lt;";
        else if (c == L'>')
            escaped += L"&gt;";
        else
            escaped += c;
    }
    return escaped;
}

std::wstring element(const wchar_t* name, const std::wstring& text) {
    return std::wstring(L"<") + name + L">" + xmlText(text) + L"</" + name + L">";
}

// The rule that picks a product's answer out of its parameter file: its SapCode element, which
// both the deployment markup and the driver document carry.
std::string needle(const Product& product) {
    return zoka::toUtf8(element(L"SapCode", product.sapCode));
}

// Serialises the end-to-end tests of every test program on this machine (native and sanitizer
// builds share the single-instance lock). Scenes nest, so the lock is counted per process.
struct SerialLock {
    int users = 0;
    std::unique_ptr<korr::VRXSemaphoreLock> lock;
};

SerialLock& serialLock() {
    static SerialLock state;
    return state;
}

// True for the first user in this process; waits up to ten minutes for other processes.
bool acquireSerialLock() {
    SerialLock& state = serialLock();
    if (state.users++ > 0)
        return false;
    for (int i = 0; i < 12000; ++i) {
        state.lock = std::make_unique<korr::VRXSemaphoreLock>(L"Global\\velkaro-e2e-tests-serial");
        if (state.lock->lock())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

void releaseSerialLock() {
    SerialLock& state = serialLock();
    if (--state.users == 0)
        state.lock.reset();
}

}  // namespace

std::wstring lockName() {
    return L"Global\\{93156C43-A68F-4665--3998867DB8088E1F}";
}

Scene::Scene(const std::wstring& tempName) : outermost_(acquireSerialLock()), scratch_(L"e2e") {
    temp_ = scratch_.file(tempName);
    testutil::makeFolder(temp_);
    journal_ = scratch_.file(L"journal.txt");
    places_ = std::make_unique<testutil::StandinPlaces>(scratch_.path());
    if (roots().shared && outermost_) {
        std::string otherProgram;  // a run that was killed may have left stand-ins behind
        places_->clearLeftovers(otherProgram);
    }
}

Scene::~Scene() {
    places_.reset();
    releaseSerialLock();
}

std::wstring Scene::placeSetup(Place place, const std::vector<Product>& products,
                               const std::string& otherwise) {
    std::string rules;
    for (const Product& product : products)
        rules += needle(product) + "=" + product.answer + ";";
    const std::wstring setup = places_->path(place);
    places_->install(setup, journal_, otherwise, rules);
    return setup;
}

std::wstring Scene::writeConfig(const std::vector<Product>& products, const std::wstring& name) {
    std::wstring velt, qx;
    for (const Product& p : products) {
        std::wstring item = L"<Product>" + element(L"SapCode", p.sapCode) +
                            element(L"Version", p.version) + element(L"Platform", p.platform);
        if (p.velt) {
            item += L"<DeploymentUninstall><Deployment><Payload>" + element(L"SapCode", p.sapCode) +
                    element(L"Version", p.version) +
                    L"</Payload></Deployment></DeploymentUninstall>";
            velt += item + L"</Product>\n";
        } else {
            qx += item + element(L"BaseVersion", p.baseVersion) + L"</Product>\n";
        }
    }
    const std::wstring xml =
        L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        L"<ZephUninstallXML><UninstallInfo>\n<VELT><Products>\n" +
        velt + L"</Products></VELT>\n<QX><Products>\n" + qx +
        L"</Products></QX>\n</UninstallInfo></ZephUninstallXML>\n";
    return writeFile(name, zoka::toUtf8(xml));
}

std::wstring Scene::writeFile(const std::wstring& name, const std::string& bytes) {
    const std::wstring file = scratch_.file(name);
    testutil::writeBytes(file, bytes);
    return file;
}

std::vector<EnvChange> tempFolderEnv(const std::wstring& folder) {
    std::vector<EnvChange> env;
    for (const std::string& name : testutil::tempFolderVariables())
        env.push_back({name, folder});
    return env;
}

std::vector<EnvChange> Scene::environment() const {
    return concat<EnvChange>({tempFolderEnv(temp_), roots().env});
}

RunResult Scene::run(const std::vector<std::wstring>& args, const std::wstring& workDir,
                     std::wstring program) {
    if (program.empty())
        program = testutil::siblingProgram(L"Velkaro");
    return testutil::runProcess(program, args, {environment(), workDir, true});
}

bool Scene::start(ChildProcess& child, const std::vector<std::wstring>& args) {
    return child.start(testutil::siblingProgram(L"Velkaro"), args, {environment(), L"", true});
}

std::vector<LogLine> Scene::logLines() const {
    std::vector<LogLine> lines;
    const std::string bytes = testutil::readBytes(temp_ + kSep + L"Velkaro.log");
    if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0)
        return lines;
    const std::wstring sep = L" | ";
    for (const std::wstring& line : testutil::utf16leLines(bytes.substr(2))) {
        std::vector<std::wstring> fields;
        size_t from = 0;
        for (int i = 0; i < 9; ++i) {
            size_t at = line.find(sep, from);
            if (at == std::wstring::npos)
                break;
            fields.push_back(line.substr(from, at - from));
            from = at + sep.size();
        }
        LogLine parsed;
        if (fields.size() == 9) {
            parsed.level = fields[1].size() > 2 ? fields[1].substr(1, fields[1].size() - 2) : L"";
            parsed.message = line.substr(from);
            parsed.programColumns =
                fields[2].empty() && fields[3] == L"Zeph" && fields[4] == L"Utilities" &&
                fields[5] == L"Velkaro" && fields[6].empty() && fields[7].empty() &&
                !fields[8].empty() &&
                fields[8].find_first_not_of(L"0123456789") == std::wstring::npos;
        } else {
            parsed.message = line;
        }
        lines.push_back(parsed);
    }
    return lines;
}

std::vector<std::wstring> Scene::logSummary() const {
    std::vector<std::wstring> summary;
    for (const LogLine& line : logLines())
        summary.push_back(line.level + L" " + line.message);
    return summary;
}

std::vector<JournalRecord> Scene::journal() const {
    return testutil::readJournal(journal_);
}

std::vector<std::wstring> Scene::tempEntries() const {
    return testutil::listFolder(temp_);
}

std::string consoleText(const std::vector<std::wstring>& lines) {
    std::string text;
    for (const std::wstring& line : lines)
        text += zoka::toUtf8(line) + (onWindows() ? "\r\n" : "\n");
    return text;
}

std::vector<std::wstring> openingLog() {
    return {L"INFO \n",
            L"INFO " + kBanner,
            L"INFO " + kBanner,
            L"INFO Launching the Velkaro...",
            L"INFO Velkaro version is : 2.2.0.8",
            L"INFO Command line: " + kAnyRest};
}

std::vector<std::wstring> matchLog(std::vector<std::wstring> actual,
                                   const std::vector<std::wstring>& expected) {
    for (size_t i = 0; i < actual.size() && i < expected.size(); ++i) {
        const std::wstring& want = expected[i];
        if (want.size() >= kAnyRest.size() &&
            want.compare(want.size() - kAnyRest.size(), kAnyRest.size(), kAnyRest) == 0 &&
            actual[i].compare(0, want.size() - kAnyRest.size(), want, 0,
                              want.size() - kAnyRest.size()) == 0)
            actual[i] = want;
    }
    return actual;
}

std::vector<std::wstring> closingLog(int returnCode) {
    return {L"INFO " + kBanner,
            L"INFO Ending the Velkaro Return Code (" + std::to_wstring(returnCode) + L")",
            L"INFO " + kBanner, L"INFO " + kBanner, L"INFO \n"};
}

// The options added after the original usage text, last ones.
const wchar_t kDryRunUsage[] =
    L"      --dryRun : check the configuration and show what a run would start, without starting "
    L"anything (no elevation needed)";
const wchar_t kStrictUsage[] =
    L"      --strict : refuse a configuration with any finding of the dry run, starting nothing";
const wchar_t kProcessTreeUsage[] =
    L"      --waitForProcessTree : a product is done only when every process its setup program "
    L"started has ended";

std::vector<std::wstring> usageOut() {
    return {L"",
            L"Commandline Usage :",
            L"",
            L"      Velkaro [--uninstallConfigPath=<Path to config XML, default is "
            L"'VelkaroConfig.xml' in same directory as Velkaro executable>] [{-h, -help, --help}]",
            L"",
            L"Velkaro must be launched with elevated privileges.",
            L"",
            L"Options for unattended runs :",
            L"      --setupTimeout=<seconds, 1 to 86400: a setup program that runs longer is "
            L"ended with every process it started>",
            L"      --resultFile=<path of a JSON file that receives the run's results>",
            kDryRunUsage,
            kStrictUsage,
            kProcessTreeUsage,
            L""};
}

std::vector<std::wstring> usageLog() {
    return {L"INFO Commandline Usage :",
            L"INFO       Velkaro [--uninstallConfigPath=<Path to config XML, default is "
            L"'VelkaroConfig.xml' in same directory as Velkaro executable>] [{-h, -help, --help}]",
            L"INFO Velkaro must be launched with elevated privileges.",
            L"INFO Options for unattended runs :",
            L"INFO       --setupTimeout=<seconds, 1 to 86400: a setup program that runs longer is "
            L"ended with every process it started>",
            L"INFO       --resultFile=<path of a JSON file that receives the run's results>",
            std::wstring(L"INFO ") + kDryRunUsage,
            std::wstring(L"INFO ") + kStrictUsage,
            std::wstring(L"INFO ") + kProcessTreeUsage};
}

std::vector<std::wstring> helpLog() {
    return concat<std::wstring>({openingLog(),
                                 {L"INFO Commandline syntax help was asked. Returning ..."},
                                 usageLog(),
                                 closingLog(0)});
}

Expected expectRun(const std::vector<Product>& products, bool veltPresent, bool qxBox, bool qxCore,
                   unsigned setupTimeout) {
    Expected e;
    auto both = [&e](const std::wstring& level, const std::wstring& text) {
        e.log.push_back(level + L" " + text);
        e.out.push_back(text);
    };
    // The configuration lists VELT products first, so a VELT entry wins a shared key.
    std::vector<Product> set;
    bool anyVelt = false, anyQx = false;
    for (bool velt : {true, false}) {
        for (const Product& p : products) {
            if (p.velt != velt)
                continue;
            (velt ? anyVelt : anyQx) = true;
            bool present = false;
            for (const Product& q : set)
                present = present || q.key() == p.key();
            if (!present)
                set.push_back(p);
        }
    }
    std::stable_sort(set.begin(), set.end(), [](const Product& a, const Product& b) {
        return zoka::compareUtf16(a.key(), b.key()) < 0;
    });
    auto line = [](const Product& p) {
        return L"\t\t(" + p.sapCode + L"/" + p.shown() + L"/" + p.platform + L")";
    };
    auto triple = [](const Product& p) {
        return L"(" + p.sapCode + L"/" + p.shown() + L"/" + p.platform + L")";
    };

    e.out = {L"Velkaro version is : 2.2.0.8", L"Starting the Velkaro...", L""};
    e.log = openingLog();
    e.log.push_back(kConfigInUse);
    if (!anyVelt)
        e.log.push_back(L"INFO No VELT products specified for uninstallation ...");
    if (!anyQx)
        e.log.push_back(L"INFO No QX products specified for uninstallation ...");
    if (set.empty()) {
        both(L"INFO", L"No Product specified to be uninstalled ...");
    } else {
        both(L"INFO", L"Products to be uninstalled:");
        for (const Product& p : set)
            both(L"INFO", line(p));
        both(L"INFO", kStars);
        both(L"INFO", L"Attempting to uninstall the above products ...");
    }

    std::vector<Product> removed, ignored, failed, notFound;
    if (!set.empty()) {
        if (qxBox)
            e.log.push_back(L"INFO QX setup piciked from QXBox");
        else if (qxCore)
            e.log.push_back(L"INFO QX setup piciked from QX core");
        if (!veltPresent)
            both(L"ERROR", L"VELT Runtime not found!");
        const bool qxPresent = qxBox || qxCore;
        if (!qxPresent)
            both(L"ERROR", L"QX Runtime not found!");
        // With no setup program at all no product is attempted or placed in any set.
        for (const Product& p : veltPresent || qxPresent ? set : std::vector<Product>()) {
            if (!(p.velt ? veltPresent : qxPresent)) {
                ignored.push_back(p);
                continue;
            }
            both(L"INFO", L"Uninstalling " + triple(p));
            e.log.push_back(L"INFO Starting the setup program " + kAnyRest);
            e.order.push_back(p.sapCode);
            const bool died = p.answer == "die" && !onWindows();
            const int code = p.answer == "die" || p.answer == "hangtree" ? 3 : std::stoi(p.answer);
            const std::wstring c = std::to_wstring(code);
            const std::wstring veltSays = L"The return code from the Quenda Installer Process is (";
            const std::wstring qxSays = L"The return code from the QXPIM Setup Process is (";
            enum { Removed, NotFound, Failed } outcome = Failed;
            const std::wstring family = p.velt ? L"VELT" : L"QXPIM";
            if (p.answer == "hangtree") {
                // Only a run with a time limit ends such a setup program.
                e.log.push_back(L"ERROR The setup program " + kAnyRest);
                e.log.push_back(L"ERROR The " + family +
                                L" Setup process was ended at its time limit. Stopping the "
                                L"uninstallation process.");
            } else if (died) {
                e.log.push_back(L"ERROR Failed to get the return code of the " +
                                std::wstring(p.velt ? L"VELT" : L"QXPIM") +
                                L" Setup process.Stopping the uninstallation process.");
            } else if (code == 0 || (!p.velt && code == 130)) {
                e.log.push_back(L"INFO " + (p.velt ? veltSays + c + L").Uninstallation successful."
                                                   : qxSays + c + L"). Successfully uninstalled."));
                outcome = Removed;
            } else if (code == (p.velt ? 33 : 135)) {
                e.log.push_back(L"INFO " + (p.velt ? veltSays + c + L"). Nothing to uninstall."
                                                   : qxSays + c + L"). Product not installed."));
                outcome = NotFound;
            } else {
                e.log.push_back(L"ERROR " +
                                (p.velt ? veltSays : L"The QXPIM Setup Process return code is (") +
                                c + L").Stopping the uninstallation process.");
            }
            if (outcome == Removed) {
                both(L"INFO", L"Successfully uninstalled " + triple(p));
                removed.push_back(p);
            } else if (outcome == NotFound) {
                both(L"INFO", L"Not found on system " + triple(p));
                notFound.push_back(p);
            } else {
                both(L"INFO", L"Uninstall failed for " + triple(p));
                if (p.answer == "hangtree")
                    e.out.push_back(L"Its setup program ran longer than the limit of " +
                                    std::to_wstring(setupTimeout) +
                                    L" seconds (--setupTimeout) and was ended with every process "
                                    L"it started.");
                failed.push_back(p);
            }
            both(L"INFO", kStars);
        }
    }

    both(L"INFO", L"Summary:");
    const std::pair<const wchar_t*, const std::vector<Product>*> sections[] = {
        {L"Removed products:", &removed},
        {L"Ignored products:", &ignored},
        {L"Failed products:", &failed},
        {L"Products not found on the system:", &notFound}};
    for (const auto& [heading, list] : sections) {
        if (list->empty())
            continue;
        both(L"INFO", kStars);
        both(L"INFO", heading);
        for (const Product& p : *list)
            both(L"INFO", line(p));
    }
    e.exitCode = failed.empty() ? 0 : 2;
    const std::wstring exitLine =
        L"Velkaro exiting with Return Code (" + std::to_wstring(e.exitCode) + L")";
    (e.exitCode == 0 ? e.out : e.err).push_back(exitLine);
    const auto closing = closingLog(e.exitCode);
    e.log.insert(e.log.end(), closing.begin(), closing.end());
    return e;
}

std::string readResultFile(const std::wstring& path) {
    std::string bytes = testutil::readBytes(path);
    const char* keep = std::getenv("VELKARO_KEEP_RESULTS");
    if (keep != nullptr && *keep != '\0') {
        static int count = 0;
        const std::filesystem::path copy =
            std::filesystem::path(keep) /
            (std::to_string(testutil::processId()) + "-" + std::to_string(++count) + ".json");
        testutil::writeBytes(copy.wstring(), bytes);
    }
    return bytes;
}

}  // namespace e2e
