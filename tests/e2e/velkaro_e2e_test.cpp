// The real program as a process: console bytes, exit code, log lines, what the setup stand-ins
// received, and what is left in the temporary folder.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "e2e/e2e_run.h"
#include "support/platform.h"
#include "support/unicode.h"
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
    EXPECT_EQ(scene.logSummary(), expected.log);
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
    EXPECT_EQ(scene.logSummary(), concat<std::wstring>({openingLog(), log, closingLog(1)}));
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
        EXPECT_EQ(scene.logSummary(), helpLog());
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
        {{L"--uninstallConfigPath"}, L"Required argument is missing : --uninstallConfigPath"},
        {{L"--uninstallConfigPath", L"c.xml"},
         L"Required argument is missing : --uninstallConfigPath"},
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

TEST(E2eTempFolder, MissingFolderIsCreatedUnusableOneEndsSilently) {
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
    // Not creatable (below a plain file): code 1 and not a word anywhere.
    const std::wstring blocked = scene.path(L"plain-file") + kSep + L"sub";
    RunResult refused = runWithTemp(blocked);
    ASSERT_TRUE(refused.started);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "");
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
                  {L"ERROR Velkaro not launched with Admin privileges."});
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
        // No console line of its own: the reason is only in the log.
        expectRefusal(scene, scene.run({L"--uninstallConfigPath=" + config}), {}, {},
                      {L"ERROR Another instance of Velkaro is already running."});
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
    const std::vector<Product> hanging = {velt(L"HANG", "hang")};
    const std::wstring config = first.writeConfig(hanging);
    first.placeSetup(Place::Velt, hanging);
    ChildProcess instance;
    ASSERT_TRUE(first.start(instance, {L"--uninstallConfigPath=" + config}));
    unsigned long standinPid = 0;
    for (int i = 0; i < 600 && standinPid == 0; ++i) {
        for (const JournalRecord& record : first.journal())
            standinPid = std::stoul("0" + zoka::toUtf8(record.get("pid")));
        if (standinPid == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_NE(standinPid, 0u) << "the first instance never started its setup program";

    {
        Scene second;
        const std::wstring config2 = second.writeConfig({velt(L"SECOND", "0")});
        expectRefusal(second, second.run({L"--uninstallConfigPath=" + config2}), {}, {},
                      {L"ERROR Another instance of Velkaro is already running."});
    }

    // The setup program holds the instance's inherited output files: both end before the
    // instance's output folder is removed.
    instance.kill();
    EXPECT_TRUE(killProcessId(standinPid));
    instance.wait();

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
        expectRefusal(scene, scene.run({L"--uninstallConfigPath=" + config}),
                      {L"Initialize with XML failed!"}, {}, {L"ERROR Initialize with XML failed!"});
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
          L"(/ZephUninstallXML/UninstallInfo/VELT/Products/Product[1]/)..."},
         L"/ZephUninstallXML/UninstallInfo/VELT/Products/Product[1]/"},
        {"VELT without Deployment",
         "<ZephUninstallXML><UninstallInfo><VELT><Products>"
         "<Product><SapCode>X</SapCode><Version>1</Version><Platform>p</Platform>"
         "<DeploymentUninstall/></Product></Products></VELT></UninstallInfo></ZephUninstallXML>",
         {L"ERROR Failed to parse the VELT products uninstall info "
          L"(/ZephUninstallXML/UninstallInfo/VELT/Products/Product[0]/)..."},
         L"/ZephUninstallXML/UninstallInfo/VELT/Products/Product[0]/"},
        {"QX without BaseVersion",
         "<ZephUninstallXML><UninstallInfo><QX><Products>"
         "<Product><SapCode>X</SapCode><Version>1</Version><Platform>p</Platform></Product>"
         "</Products></QX></UninstallInfo></ZephUninstallXML>",
         {L"INFO No VELT products specified for uninstallation ...",
          L"ERROR Failed to parse the QX products uninstall info "
          L"(/ZephUninstallXML/UninstallInfo/QX/Products/Product[0]/)..."},
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
                      {L"Failed to parse the products uninstall info ..." + c.out}, {}, c.log);
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

}  // namespace
}  // namespace e2e
