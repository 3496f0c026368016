// The real program as a process: console bytes, exit code, log lines, what the setup stand-ins
// received, and what is left in the temporary folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/platform.h"
#include "base/unicode.h"
#include "e2e/e2e_run.h"
#include "sysutil/admin.h"

namespace e2e {
namespace {

const wchar_t kSep = zoka::os::pathSeparator();

#define REQUIRE_ADMIN()                                                                    \
    if (!korr::_utilIsUserAdmin())                                                         \
    GTEST_SKIP() << "the program refuses to run without administrator rights (root); run " \
                    "the tests as root"

Product velt(const wchar_t* sap, const std::string& answer, const wchar_t* version = L"1.0",
             const wchar_t* platform = L"win64") {
    return Product{true, sap, version, platform, L"", answer};
}

Product qx(const wchar_t* sap, const std::string& answer, const wchar_t* version = L"2.0.1",
           const wchar_t* base = L"2.0", const wchar_t* platform = L"win64") {
    return Product{false, sap, version, platform, base, answer};
}

std::wstring str(const std::string& bytes) {
    return zoka::fromUtf8(bytes);
}

// The run folder and its parameter files are gone; only the logs stay.
void expectOnlyLogsLeft(const Scene& scene) {
    for (const std::wstring& name : scene.tempEntries())
        EXPECT_TRUE(name == L"Velkaro.log" || name == L"Plimm.log")
            << "left behind: " << str(zoka::toUtf8(name));
}

void expectColumns(const Scene& scene) {
    for (const LogLine& line : scene.logLines())
        EXPECT_TRUE(line.programColumns) << "columns of: " << zoka::toUtf8(line.message);
}

void expectRunMatches(const Scene& scene, const RunResult& result, const Expected& expected) {
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, expected.exitCode);
    EXPECT_EQ(result.out, consoleText(expected.out));
    EXPECT_EQ(result.err, consoleText(expected.err));
    EXPECT_EQ(matchLog(scene.logSummary(), expected.log), expected.log);
    expectColumns(scene);
    std::vector<std::wstring> order;
    for (const JournalRecord& record : scene.journal()) {
        std::wstring param = str(record.paramBytes);
        size_t open = param.find(L"<SapCode>"), close = param.find(L"</SapCode>");
        order.push_back(open == std::wstring::npos || close == std::wstring::npos
                            ? L"?"
                            : param.substr(open + 9, close - open - 9));
    }
    EXPECT_EQ(order, expected.order);
    expectOnlyLogsLeft(scene);
}

// Writes a configuration of the products, runs the program on it and expects the complete run
// with the given setup programs present.
void expectCompleteRun(Scene& scene, const std::vector<Product>& products, bool velt, bool qxBox,
                       bool qxCore) {
    const std::wstring config = scene.writeConfig(products);
    expectRunMatches(scene, scene.run({L"--uninstallConfigPath=" + config}),
                     expectRun(products, velt, qxBox, qxCore));
}

std::vector<std::wstring> refusalOut() {
    return {L"Velkaro version is : 2.2.0.8", L"Starting the Velkaro...", L""};
}

// A run that ends with code 1 before removing anything: the console lines after the opening
// ones, the error lines before the exit line, and the log lines between the fixed ones.
void expectRefusal(const Scene& scene, const RunResult& result,
                   const std::vector<std::wstring>& out, const std::vector<std::wstring>& err,
                   const std::vector<std::wstring>& log) {
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, consoleText(concat<std::wstring>({refusalOut(), out})));
    EXPECT_EQ(result.err,
              consoleText(concat<std::wstring>({err, {L"Velkaro exiting with Return Code (1)"}})));
    const std::vector<std::wstring> expectedLog =
        concat<std::wstring>({openingLog(), log, closingLog(1)});
    EXPECT_EQ(matchLog(scene.logSummary(), expectedLog), expectedLog);
    expectColumns(scene);
    EXPECT_TRUE(scene.journal().empty());
}

// ---- help and the command line ---------------------------------------------------------------

TEST(E2eHelp, EveryHelpFormShowsTheUsageAndEndsWithZero) {
    const std::vector<std::wstring> cases[] = {
        {L"-?"},
        {L"/h"},
        {L"-help"},
        {L"--help"},
        {L"/help"},
        // Non-option words and a valid option before it do not matter.
        {L"stray", L"--uninstallConfigPath=none.xml", L"/?"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(zoka::toUtf8(args.back()));
        Scene scene;
        RunResult result = scene.run(args);
        ASSERT_TRUE(result.started);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(
            result.out,
            consoleText(concat<std::wstring>({{L"Velkaro version is : 2.2.0.8"}, usageOut()})));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(matchLog(scene.logSummary(), helpLog()), helpLog());
        EXPECT_TRUE(scene.journal().empty());
    }
}

TEST(E2eOptions, ErrorsAndStrayWordsAreRefusedWithOne) {
    const struct {
        std::vector<std::wstring> args;
        std::wstring errorLine;  // empty: none
    } cases[] = {
        {{L"--Help"}, L"Unrecognized option : --Help"},
        {{L"-HELP"}, L"Unrecognized option : -HELP"},
        {{L"--uninstall=x.xml"}, L"Unrecognized option : --uninstall"},
        {{L"/uninstallConfigPath=x.xml"}, L"Unrecognized option : -uninstallConfigPath"},
        {{L"-"}, L"Unrecognized option : -"},
        {{L"--help=1"}, L"Option does not accept argument : --help"},
        {{L"--waitForProcessTree=yes"}, L"Option does not accept argument : --waitForProcessTree"},
        {{L"--uninstallConfigPath"}, L"Required argument is missing : --uninstallConfigPath"},
        {{L"--uninstallConfigPath", L"c.xml"},
         L"Required argument is missing : --uninstallConfigPath"},
        {{L"--resultFile="}, L"Invalid argument data : --resultFile"},
        // An error before a help option wins.
        {{L"-x", L"--help"}, L"Unrecognized option : -x"},
        // A word that is not an option: no error line, only the parameter failure.
        {{L"c.xml"}, L""},
        {{L"/-help"}, L""},
        {{L"\u00e9t\u00e9 \u4e2d"}, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zoka::toUtf8(c.args.front()));
        Scene scene;
        std::vector<std::wstring> err;
        if (!c.errorLine.empty())
            err.push_back(c.errorLine);
        err.push_back(L"Missing or Incorrect parameters.");
        expectRefusal(
            scene, scene.run(c.args), usageOut(), err,
            concat<std::wstring>({{L"ERROR Missing or Incorrect parameters."}, usageLog()}));
    }
}

TEST(E2eTempFolder, MissingFolderIsCreatedUnusableOneIsRefused) {
    Scene scene;
    scene.writeFile(L"plain-file", "x");
    // Created when missing (its parent exists): the log lands in it.
    const std::wstring fresh = scene.path(L"fresh \u00fc");
    auto runWithTemp = [&scene](const std::wstring& temp) {
        return testutil::runProcess(
            testutil::siblingProgram(L"Velkaro"), {L"-?"},
            {concat<EnvChange>({tempFolderEnv(temp), scene.roots().env}), L"", true});
    };
    RunResult created = runWithTemp(fresh);
    EXPECT_EQ(created.exitCode, 0);
    EXPECT_FALSE(testutil::readBytes(fresh + kSep + L"Velkaro.log").empty());
    // Not creatable (below a plain file): code 1, the reason and the exit line, since no log
    // can exist; the exit line closes the console as in every other run.
    const std::wstring blocked = scene.path(L"plain-file") + kSep + L"sub";
    RunResult refused = runWithTemp(blocked);
    ASSERT_TRUE(refused.started);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err,
              consoleText({L"The temporary folder is not available and cannot be created.",
                           L"Velkaro exiting with Return Code (1)"}));
}

// ---- the configuration path ------------------------------------------------------------------

void expectMissingConfig(const Scene& scene, const RunResult& result, const std::wstring& path) {
    expectRefusal(scene, result, usageOut(),
                  {L"Missing UninstallConfig : " + path, L"Missing or Incorrect parameters."},
                  concat<std::wstring>({{L"ERROR Missing UninstallConfig (" + path + L")",
                                         L"ERROR Missing or Incorrect parameters."},
                                        usageLog()}));
}

TEST(E2eConfigPath, MissingFileOrFolderIsRefused) {
    Scene scene;
    scene.writeFile(L"real.xml", "<ZephUninstallXML/>");
    const std::wstring cases[] = {
        scene.path(L"absent.xml"),
        scene.root(),         // a folder
        scene.root() + kSep,  // a folder, with its trailing separator
        L"relative" + std::wstring(1, kSep) + L"absent.xml",  // reported unchanged
        scene.path(L"real.xml") + kSep,                       // a file used as a folder
    };
    for (const std::wstring& path : cases) {
        SCOPED_TRACE(zoka::toUtf8(path));
        Scene run;
        expectMissingConfig(run, run.run({L"--uninstallConfigPath=" + path}), path);
    }
}

TEST(E2eConfigPath, DefaultPathBesideTheProgram) {
    Scene scene;
    const std::wstring folder = scene.path(L"bin \u00fc");
    testutil::makeFolder(folder);
    const std::wstring program = folder + kSep + L"Velkaro" + (kSep == L'\\' ? L".exe" : L"");
    ASSERT_TRUE(testutil::copyProgram(testutil::siblingProgram(L"Velkaro"), program));
    const std::wstring expectedPath = folder + kSep + L"VelkaroConfig.xml";

    // No configuration beside it yet: the default path is the one reported.
    for (const auto& args : {std::vector<std::wstring>{}, {L"--uninstallConfigPath="}}) {
        Scene run;
        expectMissingConfig(run, run.run(args, L"", program), expectedPath);
    }

    if (!korr::_utilIsUserAdmin())
        GTEST_SKIP() << "the rest needs administrator rights (root)";
    const std::vector<Product> products = {velt(L"DEF", "0")};
    testutil::writeBytes(expectedPath,
                         testutil::readBytes(scene.writeConfig(products, L"default.xml")));
    for (const auto& args : {std::vector<std::wstring>{}, {L"--uninstallConfigPath="}}) {
        Scene run;
        run.placeSetup(Place::Velt, products);
        expectRunMatches(run, run.run(args, L"", program), expectRun(products, true, false, false));
    }
}

TEST(E2eConfigPath, RelativePathIsTakenFromTheWorkingFolder) {
    REQUIRE_ADMIN();
    Scene scene;
    const std::vector<Product> products = {qx(L"REL", "0")};
    scene.placeSetup(Place::QxBox, products);
    testutil::makeFolder(scene.path(L"work"));
    testutil::makeFolder(scene.path(L"work") + kSep + L"cfg");
    testutil::writeBytes(scene.path(L"work") + kSep + L"cfg" + kSep + L"c.xml",
                         testutil::readBytes(scene.writeConfig(products)));
    RunResult result = scene.run({L"--uninstallConfigPath=cfg" + std::wstring(1, kSep) + L"c.xml"},
                                 scene.path(L"work"));
    expectRunMatches(scene, result, expectRun(products, false, true, false));
}

// ---- refusals --------------------------------------------------------------------------------

TEST(E2eRefusal, WithoutAdministratorRights) {
    Scene scene;
    const std::wstring config = scene.writeConfig({velt(L"NOADM", "0")});
    scene.placeSetup(Place::Velt, {velt(L"NOADM", "0")});
    std::wstring program = testutil::siblingProgram(L"Velkaro");
    std::vector<std::wstring> args = {L"--uninstallConfigPath=" + config};
    std::string whyNot;
    if (!testutil::unprivilegedCommand(program, args, whyNot))
        GTEST_SKIP() << whyNot;
    openFolderToEveryone(scene.temp());
    // The refusal is on standard output, its exit line on standard error.
    expectRefusal(scene, scene.run(args, L"", program),
                  {L"", L"Velkaro not launched with Admin privileges."}, {},
                  {kConfigInUse, L"ERROR Velkaro not launched with Admin privileges."});
}

TEST(E2eRefusal, AnotherInstanceHoldingTheLock) {
    REQUIRE_ADMIN();
    const std::vector<Product> products = {velt(L"LCK", "0")};
    {
        Scene scene;
        const std::wstring config = scene.writeConfig(products);
        scene.placeSetup(Place::Velt, products);
        korr::VRXSemaphoreLock other(lockName());
        ASSERT_TRUE(other.lock());
        // The reason goes to standard error before the exit line.
        expectRefusal(scene, scene.run({L"--uninstallConfigPath=" + config}), {},
                      {L"Another instance of Velkaro is already running."},
                      {kConfigInUse, L"ERROR Another instance of Velkaro is already running."});
    }
    // Once the holder lets go, the next run goes ahead.
    Scene scene;
    scene.placeSetup(Place::Velt, products);
    expectCompleteRun(scene, products, true, false, false);
}

// The first instance hangs inside a setup program: a second one is turned away; once the first
// is killed (its setup program too), the next run is not blocked.
TEST(E2eRefusal, RunningInstanceBlocksAndKilledInstanceDoesNot) {
    REQUIRE_ADMIN();
    Scene first;
    // One product handled before the hang, one after it that is never reached.
    const std::vector<Product> hanging = {velt(L"DONE", "0"), velt(L"HANG", "hang"),
                                          velt(L"LATER", "0")};
    const std::wstring config = first.writeConfig(hanging);
    first.placeSetup(Place::Velt, hanging);
    // An older run's outcome, which a killed run must not leave in place.
    const std::wstring results = first.writeFile(
        L"r.json", R"({"state": "finished", "startTime": "2026-01-01T00:00:00Z", "exitCode": 0})");
    ChildProcess instance;
    ASSERT_TRUE(
        first.start(instance, {L"--uninstallConfigPath=" + config, L"--resultFile=" + results}));
    unsigned long standinPid = 0;
    for (int i = 0; i < 600 && standinPid == 0; ++i) {
        const std::vector<JournalRecord> journal = first.journal();
        if (journal.size() == 2)
            standinPid = std::stoul("0" + zoka::toUtf8(journal[1].get("pid")));
        if (standinPid == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_NE(standinPid, 0u) << "the first instance never started its setup program";

    {
        Scene second;
        const std::wstring config2 = second.writeConfig({velt(L"SECOND", "0")});
        expectRefusal(second, second.run({L"--uninstallConfigPath=" + config2}), {},
                      {L"Another instance of Velkaro is already running."},
                      {kConfigInUse, L"ERROR Another instance of Velkaro is already running."});
    }

    // The setup program holds the instance's inherited output files: both end before the
    // instance's output folder is removed.
    const unsigned long instancePid = instance.id();
    instance.kill();
    EXPECT_TRUE(killProcessId(standinPid));
    instance.wait();

    const nlohmann::json doc = nlohmann::json::parse(readResultFile(results), nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << testutil::readBytes(results);
    EXPECT_EQ(doc["state"], "running");
    EXPECT_TRUE(doc["exitCode"].is_null() && doc["endTime"].is_null());
    EXPECT_EQ(doc["processId"], instancePid);
    // Every product from the start: the one handled with its outcome, the rest pending.
    std::vector<std::string> outcomes;
    for (const nlohmann::json& p : doc["products"])
        outcomes.push_back(p["SapCode"].get<std::string>() + " " + p["outcome"].get<std::string>());
    EXPECT_EQ(outcomes,
              (std::vector<std::string>{"DONE removed", "HANG pending", "LATER pending"}));

    Scene third;
    const std::vector<Product> products = {velt(L"AFTER", "0")};
    third.placeSetup(Place::Velt, products);
    expectCompleteRun(third, products, true, false, false);
}

// ---- configurations that cannot be used ------------------------------------------------------

// Malformed, endless (a device is refused at once, not read until memory runs out) or naming
// another file through a DTD.
TEST(E2eConfig, UnloadableDocumentStopsWithOne) {
    REQUIRE_ADMIN();
    for (const char* kind : {"malformed", "device", "external entity"}) {
        SCOPED_TRACE(kind);
        Scene scene;
        std::wstring config;
        if (std::string(kind) == "malformed") {
            config = scene.writeFile(L"bad.xml", "<ZephUninstallXML><UninstallInfo>");
        } else if (std::string(kind) == "device") {
            config = kSep == L'/' ? L"/dev/zero" : L"NUL";
        } else {
            config = scene.writeFile(L"xxe.xml",
                                     "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>"
                                     "<ZephUninstallXML><UninstallInfo>&x;</UninstallInfo>"
                                     "</ZephUninstallXML>");
        }
        scene.placeSetup(Place::Velt, {});
        const RunResult result = scene.run({L"--uninstallConfigPath=" + config});
        // The XML service's reason follows when it parsed anything; its words are the service's
        // own (Windows' MSXML and libxml2 give the place, Wine's MSXML only the word "error").
        std::vector<std::wstring> out = {L"Initialize with XML failed!"};
        std::vector<std::wstring> log = {kConfigInUse, L"ERROR Initialize with XML failed!"};
        const size_t at = result.out.find("XML parse error: ");
        if (at != std::string::npos) {
            const size_t end = result.out.find('\n', at);
            const std::wstring reasonLine = zoka::fromUtf8(
                result.out.substr(at, end - at - (end > 0 && result.out[end - 1] == '\r' ? 1 : 0)));
            out.push_back(reasonLine);
            log.push_back(L"INFO " + reasonLine);
        }
        if (std::string(kind) == "malformed") {
            EXPECT_NE(result.out.find(testutil::isPosix() ? "XML parse error: line 1, column "
                                                          : "XML parse error: "),
                      std::string::npos)
                << result.out;
        }
        expectRefusal(scene, result, out, {}, log);
    }
}

TEST(E2eConfig, ProductWithAMissingFieldStopsWithOne) {
    REQUIRE_ADMIN();
    const std::string good =
        "<Product><SapCode>OK</SapCode><Version>1</Version><Platform>p</Platform>"
        "<DeploymentUninstall><Deployment/></DeploymentUninstall></Product>";
    const struct {
        const char* name;
        std::string xml;
        std::vector<std::wstring> log;
        std::wstring out;
    } cases[] = {
        {"VELT without Platform, second item",
         "<ZephUninstallXML><UninstallInfo><VELT><Products>" + good +
             "<Product><SapCode>X</SapCode><Version>1</Version>"
             "<DeploymentUninstall><Deployment/></DeploymentUninstall></Product>"
             "</Products></VELT><QX><Products><Product/></Products></QX>"
             "</UninstallInfo></ZephUninstallXML>",
         {L"ERROR Failed to parse the VELT products uninstall info "
          L"(/ZephUninstallXML/UninstallInfo/VELT/Products/Product[1]/)...",
          L"INFO The product at /ZephUninstallXML/UninstallInfo/VELT/Products/Product[1]/ has no "
          L"readable element Platform."},
         L"/ZephUninstallXML/UninstallInfo/VELT/Products/Product[1]/"},
        {"VELT without Deployment",
         "<ZephUninstallXML><UninstallInfo><VELT><Products>"
         "<Product><SapCode>X</SapCode><Version>1</Version><Platform>p</Platform>"
         "<DeploymentUninstall/></Product></Products></VELT></UninstallInfo></ZephUninstallXML>",
         {L"ERROR Failed to parse the VELT products uninstall info "
          L"(/ZephUninstallXML/UninstallInfo/VELT/Products/Product[0]/)...",
          L"INFO The product at /ZephUninstallXML/UninstallInfo/VELT/Products/Product[0]/ has no "
          L"readable element DeploymentUninstall/Deployment."},
         L"/ZephUninstallXML/UninstallInfo/VELT/Products/Product[0]/"},
        {"QX without BaseVersion",
         "<ZephUninstallXML><UninstallInfo><QX><Products>"
         "<Product><SapCode>X</SapCode><Version>1</Version><Platform>p</Platform></Product>"
         "</Products></QX></UninstallInfo></ZephUninstallXML>",
         {L"INFO No VELT products specified for uninstallation ...",
          L"ERROR Failed to parse the QX products uninstall info "
          L"(/ZephUninstallXML/UninstallInfo/QX/Products/Product[0]/)...",
          L"INFO The product at /ZephUninstallXML/UninstallInfo/QX/Products/Product[0]/ has no "
          L"readable element BaseVersion."},
         L"/ZephUninstallXML/UninstallInfo/QX/Products/Product[0]/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        const std::wstring config = scene.writeFile(L"c.xml", c.xml);
        scene.placeSetup(Place::Velt, {});
        scene.placeSetup(Place::QxBox, {});
        // Nothing is removed from a half-read list.
        expectRefusal(scene, scene.run({L"--uninstallConfigPath=" + config}),
                      {L"Failed to parse the products uninstall info ..." + c.out}, {},
                      concat<std::wstring>({{kConfigInUse}, c.log}));
    }
}

// ---- complete runs ---------------------------------------------------------------------------

TEST(E2eRun, EmptyProductListEndsWithZero) {
    REQUIRE_ADMIN();
    Scene scene;
    scene.placeSetup(Place::Velt, {});
    expectCompleteRun(scene, {}, true, false, false);
    EXPECT_TRUE(scene.journal().empty());
}

TEST(E2eRun, EveryAnswerOfBothFamilies) {
    REQUIRE_ADMIN();
    Scene scene;
    const std::vector<Product> veltProducts = {velt(L"V0", "0"), velt(L"V33", "33"),
                                               velt(L"V1", "1"), velt(L"V34", "34"),
                                               velt(L"VDIE", "die")};
    const std::vector<Product> qxProducts = {qx(L"Q0", "0"), qx(L"Q130", "130"), qx(L"Q135", "135"),
                                             qx(L"Q1", "1"), qx(L"Q255", "255")};
    const std::vector<Product> products = concat<Product>({veltProducts, qxProducts});
    const std::wstring veltSetup = scene.placeSetup(Place::Velt, veltProducts);
    const std::wstring qxSetup = scene.placeSetup(Place::QxBox, qxProducts);
    const std::wstring config = scene.writeConfig(products);
    const Expected expected = expectRun(products, true, true, false);
    ASSERT_EQ(expected.exitCode, 2);
    expectRunMatches(scene, scene.run({L"--uninstallConfigPath=" + config}), expected);

    // What each setup program was given: its own path, the parameter option, and a file in one
    // run folder directly inside the temporary folder.
    const std::vector<JournalRecord> records = scene.journal();
    ASSERT_EQ(records.size(), expected.order.size());
    std::wstring runFolder;
    for (const JournalRecord& record : records) {
        const bool isVelt = record.get("family") == L"VELT";
        SCOPED_TRACE(zoka::toUtf8(record.get("program")));
        const std::vector<std::wstring> args = record.args();
        const std::wstring param = record.get("param");
        EXPECT_EQ(record.get("program"), isVelt ? veltSetup : qxSetup);
        EXPECT_EQ(
            record.get("cwd"),
            (isVelt ? veltSetup : qxSetup).substr(0, (isVelt ? veltSetup : qxSetup).rfind(kSep)));
        EXPECT_EQ(record.get("param_status"), L"ok");
        if (isVelt) {
            EXPECT_EQ(args, (std::vector<std::wstring>{veltSetup, L"--deploymentFile=" + param}));
            EXPECT_EQ(record.paramBytes.rfind("<Deployment>", 0), 0u) << record.paramBytes;
        } else {
            EXPECT_EQ(args, (std::vector<std::wstring>{qxSetup, L"--uninstall=1",
                                                       L"--driverXML=" + param}));
            const size_t sap = record.paramBytes.find("<SapCode>");
            const size_t platform = record.paramBytes.find("<Platform>win64</Platform>");
            const size_t base = record.paramBytes.find("<BaseVersion>2.0</BaseVersion>");
            EXPECT_NE(record.paramBytes.find("<DriverInfo>"), std::string::npos)
                << record.paramBytes;
            EXPECT_TRUE(sap < platform && platform < base && base != std::string::npos)
                << record.paramBytes;
        }
        if (record.has("cmdline")) {  // Windows: the exact command line
            EXPECT_EQ(record.get("cmdline"),
                      isVelt
                          ? L"\"" + veltSetup + L"\" --deploymentFile=\"" + param + L"\" "
                          : L"\"" + qxSetup + L"\" --uninstall=1 --driverXML=\"" + param + L"\" ");
        }
        const std::wstring folder = param.substr(0, param.rfind(kSep));
        if (runFolder.empty())
            runFolder = folder;
        EXPECT_EQ(folder, runFolder) << "one run folder for the whole run";
        EXPECT_EQ(folder.rfind(scene.temp() + kSep + L"{", 0), 0u) << zoka::toUtf8(folder);
        EXPECT_EQ(folder.size(), scene.temp().size() + 1 + 38);
        EXPECT_EQ(param.size(), folder.size() + 1 + 38);
    }
}

TEST(E2eRun, RemovedAndNotFoundOnlyEndWithZero) {
    REQUIRE_ADMIN();
    Scene scene;
    const std::vector<Product> veltProducts = {velt(L"A", "0"), velt(L"B", "33")};
    const std::vector<Product> qxProducts = {qx(L"C", "130"), qx(L"D", "135")};
    scene.placeSetup(Place::Velt, veltProducts);
    scene.placeSetup(Place::QxBox, qxProducts);
    const std::vector<Product> products = concat<Product>({veltProducts, qxProducts});
    const std::wstring config = scene.writeConfig(products);
    const Expected expected = expectRun(products, true, true, false);
    ASSERT_EQ(expected.exitCode, 0);
    expectRunMatches(scene, scene.run({L"--uninstallConfigPath=" + config}), expected);
}

TEST(E2eRun, MissingFamilyPrograms) {
    REQUIRE_ADMIN();
    const std::vector<Product> products = {velt(L"VA", "0"), qx(L"QB", "1"), velt(L"VC", "1"),
                                           qx(L"QD", "0")};
    const struct {
        const char* name;
        bool velt, qx;
    } cases[] = {
        {"VELT missing", false, true}, {"QX missing", true, false}, {"both missing", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        if (c.velt)
            scene.placeSetup(Place::Velt, products);
        if (c.qx)
            scene.placeSetup(Place::QxBox, products);
        expectCompleteRun(scene, products, c.velt, c.qx, false);
    }
}

TEST(E2eRun, QxFallbackLocation) {
    REQUIRE_ADMIN();
    const std::vector<Product> products = {qx(L"QF", "0")};
    {
        Scene scene;
        const std::wstring core = scene.placeSetup(Place::QxCore, products);
        expectCompleteRun(scene, products, false, false, true);
        ASSERT_EQ(scene.journal().size(), 1u);
        EXPECT_EQ(scene.journal()[0].get("program"), core);
    }
    {
        // Both present: the common-files one is taken.
        Scene scene;
        const std::wstring box = scene.placeSetup(Place::QxBox, products);
        scene.placeSetup(Place::QxCore, products);
        expectCompleteRun(scene, products, false, true, false);
        ASSERT_EQ(scene.journal().size(), 1u);
        EXPECT_EQ(scene.journal()[0].get("program"), box);
    }
}

TEST(E2eRun, FamiliesInterleaveInKeyOrder) {
    REQUIRE_ADMIN();
    Scene scene;
    // Document order: VELT D, B, then QX C, A; a duplicate key across families keeps VELT's.
    const std::vector<Product> products = {velt(L"D", "0"), velt(L"B", "0"), qx(L"C", "0"),
                                           qx(L"A", "0"), qx(L"B", "0", L"1.0", L"9")};
    scene.placeSetup(Place::Velt, products);
    scene.placeSetup(Place::QxBox, products);
    const std::wstring config = scene.writeConfig(products);
    const Expected expected = expectRun(products, true, true, false);
    EXPECT_EQ(expected.order, (std::vector<std::wstring>{L"A", L"B", L"C", L"D"}));
    expectRunMatches(scene, scene.run({L"--uninstallConfigPath=" + config}), expected);
}

TEST(E2eRun, PercentAndNonAsciiTextsStayText) {
    REQUIRE_ADMIN();
    Scene scene;
    const std::vector<Product> products = {
        velt(L"P%s%d%n", "0", L"100%", L"w\u00efn\u4e2d\U0001F600"),
        qx(L"\u00c5%ls", "135", L"1", L"%x\u00e9", L"%%"),
        velt(L"\u0416\u0416", "1", L"2", L"&<amp>")};
    scene.placeSetup(Place::Velt, products);
    scene.placeSetup(Place::QxBox, products);
    expectCompleteRun(scene, products, true, true, false);
}

TEST(E2eRun, TemporaryFolderWithSpacesAndNonAscii) {
    REQUIRE_ADMIN();
    Scene scene(L"temp folder \u00fc \u4e2d");
    const std::vector<Product> products = {velt(L"SP", "0"), qx(L"SQ", "0")};
    scene.placeSetup(Place::Velt, products);
    scene.placeSetup(Place::QxBox, products);
    const std::wstring config = scene.writeConfig(products, L"config \u00e9.xml");
    expectRunMatches(scene, scene.run({L"--uninstallConfigPath=" + config}),
                     expectRun(products, true, true, false));
    for (const JournalRecord& record : scene.journal()) {
        EXPECT_EQ(record.get("param_status"), L"ok");
        EXPECT_EQ(record.get("param").rfind(scene.temp() + kSep, 0), 0u);
    }
}

TEST(E2eRun, MarkersBringTheSupportLibrariesLines) {
    REQUIRE_ADMIN();
    for (const bool marker : {false, true}) {
        SCOPED_TRACE(marker ? "ZOKA.trace" : "no marker");
        Scene scene;
        if (marker) {
            ASSERT_TRUE(testutil::writeBytes(scene.temp() + kSep + L"ZOKA.trace", ""));
        }
        const std::vector<Product> products = {velt(L"MK", "0")};
        scene.placeSetup(Place::Velt, products);
        const RunResult result =
            scene.run({L"--uninstallConfigPath=" + scene.writeConfig(products)});
        EXPECT_EQ(result.exitCode, 0);
        // The run folder's deletion is reported by the file utilities, not by the program.
        size_t detail = 0;
        for (const LogLine& line : scene.logLines())
            detail +=
                line.message.rfind(
                    L"Successfully deleted directory from path: " + scene.temp() + kSep, 0) == 0;
        EXPECT_EQ(detail, marker ? 1u : 0u);
    }
}

// ---- unattended runs -------------------------------------------------------------------------

using nlohmann::json;

json readResults(const std::wstring& path) {
    return json::parse(readResultFile(path), nullptr, false);
}

std::string utf8(const std::wstring& text) {
    return zoka::toUtf8(text);
}

// A setup program that starts a child and hangs is ended with its child at the limit; the run
// goes on, and the results file tells every outcome.
TEST(E2eUnattended, SetupTimeoutEndsTheTreeAndTheRunGoesOn) {
    REQUIRE_ADMIN();
    Scene scene;
    const std::vector<Product> products = {velt(L"A_HANG", "hangtree"), velt(L"B_GONE", "33"),
                                           velt(L"C_OK", "0"), velt(L"D_BAD", "1"),
                                           qx(L"E_IGN", "0")};
    const std::wstring setup = scene.placeSetup(Place::Velt, products);
    const std::wstring config = scene.writeConfig(products);
    const std::wstring results = scene.path(L"results \u00e9.json");
    Expected expected = expectRun(products, true, false, false, 1);
    ASSERT_EQ(expected.exitCode, 2);
    expected.log.insert(expected.log.end() - 5, L"INFO Results written to " + kAnyRest);
    expectRunMatches(scene,
                     scene.run({L"--uninstallConfigPath=" + config, L"--setupTimeout=1",
                                L"--resultFile=" + results}),
                     expected);
    const std::vector<std::wstring> log = scene.logSummary();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        L"ERROR The setup program " + setup +
                            L" for (A_HANG/1.0/win64) ran longer than its limit of 1 seconds: it "
                            L"was ended with every process it started."),
              log.end());

    const std::vector<JournalRecord> records = scene.journal();
    ASSERT_EQ(records.size(), 4u);
    const unsigned long setupPid = std::stoul("0" + utf8(records[0].get("pid")));
    const unsigned long childPid = std::stoul("0" + utf8(records[0].get("grandchild")));
    ASSERT_NE(childPid, 0u) << "the stand-in did not start its child";
    EXPECT_FALSE(processAlive(setupPid));
    EXPECT_FALSE(processAlive(childPid)) << "the setup program's child outlived the limit";
    if (processAlive(childPid))
        killProcessId(childPid);  // no leftover from a failed run

    const json doc = readResults(results);
    ASSERT_FALSE(doc.is_discarded()) << testutil::readBytes(results);
    EXPECT_EQ(doc["exitCode"], 2);
    EXPECT_EQ(doc["state"], "finished");
    EXPECT_EQ(doc["setupTimeout"], 1);
    EXPECT_TRUE(doc["refusal"].is_null());
    EXPECT_EQ(doc["configPath"], utf8(config));
    ASSERT_TRUE(doc["logPath"].is_string());
    const std::string logPath = doc["logPath"];
    // The log the scene reads, whatever form of the folder's path the platform gives.
    EXPECT_EQ(testutil::readBytes(zoka::fromUtf8(logPath)),
              testutil::readBytes(scene.temp() + zoka::os::pathSeparator() + L"Velkaro.log"));
    EXPECT_EQ(doc["setupPrograms"]["VELT"], utf8(setup));
    EXPECT_TRUE(doc["setupPrograms"]["QX"].is_null());
    // SapCode, outcome, exit code, launch result, timed out.
    std::vector<std::string> entries;
    for (const json& p : doc["products"])
        entries.push_back(p["SapCode"].dump() + " " + p["outcome"].dump() + " " +
                          p["exitCode"].dump() + " " + p["launchResult"].dump() + " " +
                          p["timedOut"].dump());
    EXPECT_EQ(entries, (std::vector<std::string>{
                           R"("A_HANG" "failed" null "timedOut" true)",
                           R"("B_GONE" "notFound" 33 "ok" false)",
                           R"("C_OK" "removed" 0 "ok" false)",
                           R"("D_BAD" "failed" 1 "ok" false)",
                           R"("E_IGN" "ignored" null null false)",
                       }));
    const double hung = doc["products"][0]["seconds"].get<double>();
    EXPECT_TRUE(hung >= 1.0 && hung < 30.0) << hung;
}

// What becomes of the processes a setup program starts: a child that outlives it is reported
// and left running, or waited for with --waitForProcessTree; one that left the program's group
// or session is still ended at the limit. A child whose main thread has ended while another
// runs is still running: reported, and ended at the limit within a few seconds.
TEST(E2eUnattended, ProcessesTheSetupProgramStarts) {
    REQUIRE_ADMIN();
    const struct {
        const char* name;
        std::string answer;  // the setup program's own action
        std::string child;   // STANDIN_CHILD
        std::vector<std::wstring> options;
        std::string outcome;
        int leftovers;
        bool childRuns;       // after the run
        double leastSeconds;  // the product's seconds at least
        double mostSeconds = 60;
    } cases[] = {
        {"left behind", "0", "hang", {}, "removed", 1, true, 0},
        {"handed off, waited for",
         "0",
         "1500",
         {L"--waitForProcessTree"},
         "removed",
         0,
         false,
         1.5},
        {"own session, ended at the limit",
         "hang",
         "hang",
         {L"--setupTimeout=1"},
         "failed",
         0,
         false,
         1.0},
        {"main thread gone, left behind", "0", "mainexit", {}, "removed", 1, true, 0},
        {"main thread gone, ended at the limit",
         "hang",
         "mainexit",
         {L"--setupTimeout=2"},
         "failed",
         0,
         false,
         2.0,
         6.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        const std::vector<Product> products = {velt(L"A_TREE", c.answer)};
        const std::wstring setup = scene.placeSetup(Place::Velt, products);
        ASSERT_TRUE(testutil::writeBytes(setup + L".cfg", testutil::readBytes(setup + L".cfg") +
                                                              "STANDIN_CHILD=" + c.child + "\n"));
        const std::wstring results = scene.path(L"r.json");
        std::vector<std::wstring> args = {L"--uninstallConfigPath=" + scene.writeConfig(products),
                                          L"--resultFile=" + results};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult result = scene.run(args);
        const std::vector<JournalRecord> records = scene.journal();
        ASSERT_GE(records.size(), 1u);
        const unsigned long child = std::stoul("0" + utf8(records[0].get("child")));
        ASSERT_NE(child, 0u) << "the stand-in did not start its child";
        const bool childRuns = processAlive(child);
        if (childRuns)
            killProcessId(child);  // nothing left by the test
        EXPECT_EQ(childRuns, c.childRuns);

        const json doc = readResults(results);
        ASSERT_FALSE(doc.is_discarded()) << testutil::readBytes(results);
        ASSERT_EQ(doc["products"].size(), 1u);
        const json& product = doc["products"][0];
        EXPECT_EQ(product["outcome"], c.outcome);
        EXPECT_EQ(product["leftoverProcesses"], c.leftovers);
        EXPECT_GE(product["seconds"].get<double>(), c.leastSeconds);
        EXPECT_LE(product["seconds"].get<double>(), c.mostSeconds);
        EXPECT_EQ(result.exitCode, c.outcome == "removed" ? 0 : 2);

        const std::wstring warning = L"WARN The setup program " + setup +
                                     L" for (A_TREE/1.0/win64) ended and left 1 processes "
                                     L"running: " +
                                     std::to_wstring(child) + L" (";
        size_t warnings = 0;
        for (const std::wstring& line : scene.logSummary())
            warnings += line.rfind(warning, 0) == 0;
        EXPECT_EQ(warnings, c.leftovers == 1 ? 1u : 0u);
    }
}

// A process that an earlier product's leftover starts while a later setup program runs is the
// earlier product's: the later one's time-out does not end it, while the same late child of the
// later setup program's own child is ended with it.
TEST(E2eUnattended, LateChildOfAnEarlierLeftoverIsNotTheNextProducts) {
    REQUIRE_ADMIN();
    Scene scene;
    const std::vector<Product> products = {velt(L"A_LEAVES", "0"), velt(L"B_HANG", "hang")};
    const std::wstring setup = scene.placeSetup(Place::Velt, products);
    ASSERT_TRUE(testutil::writeBytes(
        setup + L".cfg", testutil::readBytes(setup + L".cfg") + "STANDIN_CHILD=late:700\n"));
    const std::wstring results = scene.path(L"r.json");
    const RunResult result = scene.run({L"--uninstallConfigPath=" + scene.writeConfig(products),
                                        L"--setupTimeout=2", L"--resultFile=" + results});
    EXPECT_EQ(result.exitCode, 2);
    // Each setup program's child, and the late child it started.
    std::map<unsigned long, unsigned long> lateOf;
    std::vector<unsigned long> children;
    for (const JournalRecord& record : scene.journal()) {
        if (record.has("latechild"))
            lateOf[std::stoul(utf8(record.get("pid")))] = std::stoul(utf8(record.get("latechild")));
        else if (record.has("child"))
            children.push_back(std::stoul("0" + utf8(record.get("child"))));
    }
    ASSERT_EQ(children.size(), 2u);
    ASSERT_EQ(lateOf.count(children[0]), 1u) << "the first product's child started nothing";
    const unsigned long earlierLate = lateOf[children[0]];
    const bool earlierLateRuns = processAlive(earlierLate);
    EXPECT_TRUE(earlierLateRuns) << "ended with the next product";
    killProcessId(earlierLate);
    if (lateOf.count(children[1]) != 0) {
        EXPECT_FALSE(processAlive(lateOf[children[1]])) << "outlived its own product's limit";
        killProcessId(lateOf[children[1]]);
    }
    const json doc = readResults(results);
    ASSERT_EQ(doc["products"].size(), 2u);
    EXPECT_EQ(doc["products"][0]["leftoverProcesses"], 1);
    EXPECT_EQ(doc["products"][1]["timedOut"], true);
}

// A manager that kills the program while a setup program runs takes the setup program with it.
TEST(E2eUnattended, KilledProgramLeavesNoSetupProgram) {
    REQUIRE_ADMIN();
    Scene scene;
    const std::vector<Product> products = {velt(L"A_HANG", "hang"), velt(L"B_OK", "0")};
    scene.placeSetup(Place::Velt, products);
    ChildProcess program;
    ASSERT_TRUE(scene.start(program, {L"--uninstallConfigPath=" + scene.writeConfig(products)}));
    unsigned long setupPid = 0;
    for (int i = 0; i < 1200 && setupPid == 0; ++i) {
        const std::vector<JournalRecord> records = scene.journal();
        if (!records.empty())
            setupPid = std::stoul("0" + utf8(records[0].get("pid")));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(setupPid, 0u) << "no setup program started";
    program.kill();
    program.wait();
    // The system ends it as the killed program's last handle closes or its parent dies.
    bool alive = processAlive(setupPid);
    for (int i = 0; i < 200 && alive; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        alive = processAlive(setupPid);
    }
    EXPECT_FALSE(alive) << "the setup program outlived the killed program";
    if (alive)
        killProcessId(setupPid);

    // The next run removes the run folder the killed one left, and says so.
    const std::wstring param = scene.journal()[0].get("param");
    const std::wstring stale = param.substr(0, param.rfind(kSep));
    // Read-only content in it does not keep it.
    const std::wstring sub = stale + kSep + L"sub";
    ASSERT_TRUE(testutil::makeFolder(sub));
    ASSERT_TRUE(testutil::writeBytes(sub + kSep + L"f", "x"));
    ASSERT_TRUE(makeReadOnly(sub + kSep + L"f"));
    ASSERT_TRUE(makeReadOnly(sub));
    const std::vector<Product> next = {velt(L"C_OK", "0")};
    scene.placeSetup(Place::Velt, next);
    const RunResult run =
        scene.run({L"--uninstallConfigPath=" + scene.writeConfig(next, L"n.xml")});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::wstring removed = L"INFO Removed the run folder " + stale + L" ";
    const std::vector<std::wstring> log = scene.logSummary();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(),
                            [&](const std::wstring& line) { return line.rfind(removed, 0) == 0; }));
    EXPECT_TRUE(testutil::makeFolder(stale)) << "the killed run's folder is still there";
}

// Every refusal after the options are read leaves a results file with its reason word, wherever
// the option stands; the two refusals that used to be silent now say why on standard error, and
// one after the configuration was accepted lists its product as not attempted.
TEST(E2eUnattended, ResultFileForEveryRefusal) {
    enum class Setup { None, BadXml, LockHeld, BlockedTemp };
    const struct {
        const char* reason;
        Setup setup;
        bool needsAdmin;
        std::vector<std::wstring> args;  // after --resultFile
        std::wstring errFirst;           // the first line on standard error
        bool resultFileLast = false;     // --resultFile after the other words
        size_t notAttempted = 0;         // products listed
    } cases[] = {
        // An error before the results option: it is still read.
        {"badCommandLine",
         Setup::None,
         false,
         {L"-x", L"--help", L"--setupTimeout=0"},
         L"Unrecognized option : -x",
         true},
        {"badCommandLine",
         Setup::None,
         false,
         {L"--setupTimeout=0"},
         L"Invalid argument data : --setupTimeout"},
        {"badCommandLine", Setup::None, false, {L"stray"}, L"Missing or Incorrect parameters."},
        {"configMissing",
         Setup::None,
         false,
         {L"--uninstallConfigPath=absent.xml"},
         L"Missing UninstallConfig : absent.xml"},
        {"configUnloadable", Setup::BadXml, true, {}, L"Velkaro exiting with Return Code (1)"},
        // The file is the running instance's: this run writes none.
        {"anotherInstance",
         Setup::LockHeld,
         true,
         {},
         L"Another instance of Velkaro is already running.",
         true},
        {"tempFolderUnavailable",
         Setup::BlockedTemp,
         false,
         {},
         L"The temporary folder is not available and cannot be created."},
    };
    // A 32-bit program that read the registry's 32-bit view would show this one instead.
    const MachineIdDecoy decoy;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        if (c.needsAdmin && !korr::_utilIsUserAdmin())
            continue;
        Scene scene;
        const std::wstring results = scene.path(L"r.json");
        std::vector<std::wstring> args = c.args;
        args.insert(c.resultFileLast ? args.end() : args.begin(), L"--resultFile=" + results);
        if (c.setup == Setup::BadXml)
            args.push_back(L"--uninstallConfigPath=" + scene.writeFile(L"bad.xml", "<a><b>"));
        else if (c.setup != Setup::None)
            args.push_back(L"--uninstallConfigPath=" + scene.writeConfig({velt(L"X", "0")}));
        std::unique_ptr<korr::VRXSemaphoreLock> other;
        if (c.setup == Setup::LockHeld) {
            other = std::make_unique<korr::VRXSemaphoreLock>(lockName());
            ASSERT_TRUE(other->lock());
        }
        std::vector<EnvChange> env = scene.environment();
        if (c.setup == Setup::BlockedTemp) {
            const std::wstring blocked = scene.writeFile(L"plain", "x") + kSep + L"sub";
            env = concat<EnvChange>({tempFolderEnv(blocked), scene.roots().env});
        }
        const RunResult result =
            testutil::runProcess(testutil::siblingProgram(L"Velkaro"), args, {env, L"", true});
        ASSERT_TRUE(result.started);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err.rfind(consoleText({c.errFirst}), 0), 0u) << result.err;
        if (c.setup == Setup::LockHeld) {
            EXPECT_EQ(result.err, consoleText({c.errFirst,
                                               L"The results file " + results +
                                                   L" was left to the running instance.",
                                               L"Velkaro exiting with Return Code (1)"}));
            EXPECT_FALSE(zoka::os::pathExists(results)) << "a results file was written";
            continue;
        }
        const json doc = readResults(results);
        ASSERT_FALSE(doc.is_discarded()) << testutil::readBytes(results);
        // Read before the refusal or not at all: the configuration's digest, and the machine.
        EXPECT_EQ(doc["configSha256"],
                  c.setup == Setup::BadXml
                      ? json("f1650f61ee5f325adc31702414201140db3526b95106c289307ef32234cedcbb")
                      : json());
        const std::string machine = machineIdOnRecord();
        EXPECT_EQ(doc["machineId"], machine.empty() ? json() : json(machine));
        EXPECT_EQ(doc["exitCode"], 1);
        EXPECT_EQ(doc["refusal"], c.reason);
        EXPECT_EQ(doc["state"], "finished");
        ASSERT_EQ(doc["products"].size(), c.notAttempted);
        for (const json& product : doc["products"])
            EXPECT_EQ(product["outcome"], "notAttempted");
        EXPECT_EQ(doc["programVersion"], "2.2.0.8");
    }
}

TEST(E2eUnattended, UnwritableResultFileIsReportedAndKeepsTheExitCode) {
    Scene scene;
    // A folder stands where the file should go.
    const RunResult result = scene.run({L"--resultFile=" + scene.root(), L"-?"});
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err.rfind("Failed to write the results file " + utf8(scene.root()), 0), 0u)
        << result.err;
    const std::vector<std::wstring> log = scene.logSummary();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::wstring& line) {
                                return line.rfind(L"ERROR Failed to write the results file ", 0) ==
                                       0;
                            }),
              1);

    // A refusal before the start: the failure comes before the exit line, which stays last.
    Scene refused;
    const RunResult bad = refused.run({L"--bogus", L"--resultFile=" + refused.root()});
    EXPECT_EQ(bad.exitCode, 1);
    const std::string failed = "Failed to write the results file " + utf8(refused.root());
    const std::string exitLine = consoleText({L"Velkaro exiting with Return Code (1)"});
    EXPECT_LT(bad.err.find(failed), bad.err.find(exitLine)) << bad.err;
    EXPECT_EQ(bad.err.substr(bad.err.size() - exitLine.size()), exitLine) << bad.err;
}

// A results file that cannot be written at the start refuses the run before anything is
// started, and so does a path that names the configuration or the log (by any spelling): neither
// is ever replaced by the document.
TEST(E2eUnattended, ResultFileThatCannotBeWrittenAtTheStartRefusesTheRun) {
    REQUIRE_ADMIN();
    const std::vector<Product> products = {velt(L"RF", "0")};
    const std::wstring dot = std::wstring(1, kSep) + L"." + kSep;
    const struct {
        const char* name;
        std::wstring path;    // relative to the scene's root, or "config alias" / "log"
        std::string because;  // in the reason on standard error
    } cases[] = {
        {"missing folder", L"absent" + std::wstring(1, kSep) + L"r.json", ""},
        {"the configuration, spelt another way", L"config alias", "it names the configuration"},
        {"the log", L"log", "it names the log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        scene.placeSetup(Place::Velt, products);
        const std::wstring config = scene.writeConfig(products);
        const std::string configBytes = testutil::readBytes(config);
        std::wstring path = scene.path(c.path);
        if (c.path == L"config alias")
            path = scene.root() + dot + L"config.xml";
        else if (c.path == L"log")
            path = scene.temp() + kSep + L"Velkaro.log";
        const RunResult result =
            scene.run({L"--resultFile=" + path, L"--uninstallConfigPath=" + config});
        ASSERT_TRUE(result.started);
        EXPECT_EQ(result.exitCode, 1);
        const std::string reason = "The results file " + utf8(path) + " cannot be written: ";
        EXPECT_EQ(result.err.rfind(reason + c.because, 0), 0u) << result.err;
        EXPECT_NE(result.err.find(consoleText({L"Velkaro exiting with Return Code (1)"})),
                  std::string::npos);
        EXPECT_TRUE(scene.journal().empty()) << "a setup program was started";
        EXPECT_EQ(testutil::readBytes(config), configBytes);
        const std::vector<std::wstring> log = scene.logSummary();
        EXPECT_NE(std::find(log.begin(), log.end(), L"INFO Launching the Velkaro..."), log.end())
            << "the log was replaced";
        EXPECT_EQ(std::find(log.begin(), log.end(), L"INFO Products to be uninstalled:"),
                  log.end());
    }
}

// A 32-bit Velkaro on 64-bit Windows is given "Program Files (x86)" and its "Common Files": it
// finds, starts and judges the setup programs there just the same (the 64-bit program is shown
// those folders, as no 32-bit program can run here).
TEST(E2eRun, ThirtyTwoBitProgramFolders) {
    REQUIRE_ADMIN();
    X86FolderView view;
    if (!view.active())
        GTEST_SKIP() << view.reason();
    Scene scene;
    ASSERT_NE(scene.roots().commonFiles.find(L"Program Files (x86)"), std::wstring::npos)
        << zoka::toUtf8(scene.roots().commonFiles);
    const std::vector<Product> products = {velt(L"WOWV", "0"), qx(L"WOWQ", "135")};
    scene.placeSetup(Place::Velt, products);
    scene.placeSetup(Place::QxCore, products);
    expectCompleteRun(scene, products, true, false, true);
    ASSERT_EQ(scene.journal().size(), 2u);
    for (const JournalRecord& record : scene.journal())
        EXPECT_EQ(record.get("program").find(L"\\Program Files (x86)\\"), 2u)
            << zoka::toUtf8(record.get("program"));
}

// ---- strict runs -----------------------------------------------------------------------------

// --strict refuses a configuration with any finding, in a run and in a dry run: every finding is
// printed, nothing is started, the exit code is 1. Without it an ordinary run goes on as before.
TEST(E2eStrict, EachKindOfFindingIsRefused) {
    REQUIRE_ADMIN();
    const std::string good =
        "<Product><SapCode>ST</SapCode><Version>1.0</Version><Platform>win64</Platform>"
        "<DeploymentUninstall><Deployment><SapCode>ST</SapCode></Deployment>"
        "</DeploymentUninstall></Product>";
    const auto config = [](const std::string& root, const std::string& info) {
        return "<" + root + "><UninstallInfo>" + info + "</UninstallInfo></" + root + ">";
    };
    const auto veltProducts = [](const std::string& products) {
        return "<VELT><Products>" + products + "</Products></VELT>";
    };
    const struct {
        const char* kind;
        std::string xml;
        std::string refusal;   // empty: not refused
        std::wstring finding;  // the start of the finding's line
        bool strict = true;
    } cases[] = {
        {"unknown element", config("ZephUninstallXML", veltProducts(good) + "<Velt/>"),
         "configInvalid", L"\t\tUnknown element (Velt) at "},
        {"empty value",
         config("ZephUninstallXML",
                veltProducts(good) +
                    "<QX><Products><Product><SapCode>Q</SapCode><Version>1</Version>"
                    "<Platform>w</Platform><BaseVersion/></Product></Products></QX>"),
         "configInvalid", L"\t\tEmpty value (BaseVersion) at "},
        {"duplicate product", config("ZephUninstallXML", veltProducts(good + good)),
         "configInvalid", L"\t\tProduct listed twice (ST_1.0_win64) at "},
        // One that an ordinary run refuses as well keeps that run's word.
        {"wrong root", config("ZephUninstalXML", veltProducts(good)), "configUnloadable",
         L"\t\tRoot element (ZephUninstalXML) is not ZephUninstallXML: "},
        // Without --strict an unknown element only warns, and the run goes on.
        {"unknown element, not strict", config("ZephUninstallXML", veltProducts(good) + "<Velt/>"),
         "", L"", false},
    };
    for (const auto& c : cases) {
        for (const bool dryRun : {false, true}) {
            if (!c.strict && dryRun)
                continue;
            SCOPED_TRACE(std::string(c.kind) + (dryRun ? ", dry run" : ", run"));
            Scene scene;
            scene.placeSetup(Place::Velt, {velt(L"ST", "0")});
            const std::wstring results = scene.path(L"r.json");
            std::vector<std::wstring> args = {
                L"--uninstallConfigPath=" + scene.writeFile(L"c.xml", c.xml),
                L"--resultFile=" + results};
            if (c.strict)
                args.push_back(L"--strict");
            if (dryRun)
                args.push_back(L"--dryRun");
            const RunResult result = scene.run(args);
            ASSERT_TRUE(result.started);
            const json doc = readResults(results);
            ASSERT_FALSE(doc.is_discarded()) << testutil::readBytes(results);
            if (c.refusal.empty()) {
                EXPECT_EQ(result.exitCode, 0) << result.out;
                EXPECT_EQ(scene.journal().size(), 1u);
                EXPECT_TRUE(doc["refusal"].is_null());
                continue;
            }
            EXPECT_EQ(result.exitCode, 1) << result.out;
            EXPECT_TRUE(scene.journal().empty()) << "a setup program was started";
            EXPECT_EQ(doc["refusal"], c.refusal);
            const std::string out = "\n" + result.out;
            for (const std::wstring& line :
                 {std::wstring(L"Configuration check:"), c.finding,
                  std::wstring(L"The configuration is not valid (1 finding(s)). Nothing was "
                               L"started.")})
                EXPECT_NE(out.find("\n" + utf8(line)), std::string::npos)
                    << "missing: " << utf8(line) << "\nin:\n"
                    << result.out;
            // A loaded configuration's products are listed, none attempted.
            if (!dryRun && c.refusal == "configInvalid") {
                ASSERT_EQ(doc["products"].size(), 1u + (c.kind == std::string("empty value")));
                EXPECT_EQ(doc["products"][0]["outcome"], "notAttempted");
            }
        }
    }
}

// ---- dry run ---------------------------------------------------------------------------------

// A dry run shows the exact command lines, needs neither administrator rights nor the lock (held
// here by another), and starts, writes and leaves nothing; a configuration that an ordinary run
// would refuse ends it with 1.
TEST(E2eDryRun, ShowsWhatARunWouldStartAndStartsNothing) {
    Scene scene;
    const std::vector<Product> products = {velt(L"DRYV", "0"), qx(L"DRYQ", "0")};
    const std::wstring veltSetup = scene.placeSetup(Place::Velt, products);
    const std::wstring qxSetup = scene.placeSetup(Place::QxCore, products);
    korr::VRXSemaphoreLock other(lockName());
    if (korr::_utilIsUserAdmin()) {
        ASSERT_TRUE(other.lock());
    }

    struct Case {
        const char* name;
        std::wstring config;
        int exitCode;
        std::vector<std::wstring> lines;  // expected among the console's lines
        json refusal;                     // in the results file
        json finding;                     // the first finding's kind
        bool unprivileged = true;         // as another user where the machine has one
    };
    const std::wstring valid = scene.writeConfig(products);
    const std::vector<std::wstring> validLines = {
        L"Dry run: the above products are only checked, none is uninstalled.",
        L"\t\tVELT: " + veltSetup,
        L"\t\tQX: " + qxSetup,
        L"\t\t(DRYV/1.0/win64) \"" + veltSetup + L"\" --deploymentFile=\"<deployment file>\" ",
        L"\t\t(DRYQ/2.0/win64) \"" + qxSetup +
            L"\" --uninstall=1 --driverXML=\"<driver XML file>\" ",
        L"The configuration is valid. Nothing was started."};
    const Case cases[] = {
        {"valid", valid, 0, validLines, nullptr, nullptr},
        {"refused by a run",
         scene.writeFile(L"bad.xml",
                         "<ZephUninstallXML><UninstallInfo><QX><Products><Product>"
                         "<Version>1</Version><Platform>w</Platform><BaseVersion>1</BaseVersion>"
                         "</Product></Products></QX></UninstallInfo></ZephUninstallXML>"),
         1,
         {L"\t\tMissing element (SapCode) in /ZephUninstallXML/UninstallInfo/QX/Products/"
          L"Product[0]",
          L"The configuration is not valid (1 finding(s)). Nothing was started."},
         "configUnloadable",
         "missingValue"},
        // An administrator's run would stop at the lock another instance holds.
        {"valid, by an administrator", valid, 0, validLines, nullptr, nullptr, false},
    };
    openFolderToEveryone(scene.root());
    openFolderToEveryone(scene.temp());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring program = testutil::siblingProgram(L"Velkaro");
        const std::wstring results = scene.path(L"dry.json");
        std::vector<std::wstring> args = {L"--dryRun", L"--uninstallConfigPath=" + c.config,
                                          L"--resultFile=" + results};
        std::string whyNot;
        const bool unprivileged =
            c.unprivileged && testutil::unprivilegedCommand(program, args, whyNot);
        if (!c.unprivileged) {
            // The other user's logs would be moved aside, which is not what is tested here.
            for (const wchar_t* log : {L"Velkaro.log", L"Plimm.log"})
                testutil::removeTree(scene.temp() + zoka::os::pathSeparator() + log);
        }
        const RunResult result = scene.run(args, L"", program);
        ASSERT_TRUE(result.started);
        EXPECT_EQ(result.exitCode, c.exitCode) << "unprivileged: " << unprivileged;
        // Each expected text starts a console line.
        const std::string out = "\n" + result.out;
        for (const std::wstring& line : c.lines)
            EXPECT_NE(out.find("\n" + zoka::toUtf8(line)), std::string::npos)
                << "missing: " << zoka::toUtf8(line) << "\nin:\n"
                << result.out;
        EXPECT_EQ(out.find("Attempting to uninstall"), std::string::npos) << result.out;
        const json doc = readResults(results);
        ASSERT_FALSE(doc.is_discarded()) << testutil::readBytes(results);
        EXPECT_EQ(doc["dryRun"], true);
        EXPECT_EQ(doc["exitCode"], c.exitCode);
        EXPECT_EQ(doc["refusal"], c.refusal);
        EXPECT_EQ(doc["findings"].empty() ? json() : doc["findings"][0]["kind"], c.finding);
        if (c.exitCode == 0) {
            ASSERT_EQ(doc["products"].size(), 2u);
            // In key order: DRYQ, then DRYV.
            EXPECT_EQ(doc["products"][1]["outcome"], "notAttempted");
            EXPECT_EQ(doc["products"][1]["commandLine"],
                      utf8(L"\"" + veltSetup + L"\" --deploymentFile=\"<deployment file>\" "));
        }
        testutil::removeTree(results);
    }
    EXPECT_TRUE(scene.journal().empty()) << "a dry run started a setup program";
    expectOnlyLogsLeft(scene);
}

}  // namespace
}  // namespace e2e
