// An elevated run whose temporary folder is shared (sticky, world-writable, like /tmp) and
// where another user (uid 65534) planted the program's log files beforehand; and a results file
// asked for in places that user controls.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>

#include "base/unicode.h"
#include "e2e/e2e_run.h"

namespace {

using e2e::Place;
using e2e::Scene;

TEST(E2eHostileTemp, PlantedLogsAreNeitherAdoptedNorSilenceTheRun) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, as the program does";
    Scene scene;
    ASSERT_EQ(0, ::chmod(zoka::toUtf8(scene.temp()).c_str(), 01777));
    const std::string theirs = "\xFF\xFE" + testutil::utf16le(L"theirs\r\n");
    for (const wchar_t* name : {L"Velkaro.log", L"Plimm.log"}) {
        const std::string path = zoka::toUtf8(scene.temp() + L"/" + name);
        ASSERT_TRUE(testutil::writeBytes(zoka::fromUtf8(path), theirs));
        ASSERT_EQ(0, ::chown(path.c_str(), 65534, 65534));
        ASSERT_EQ(0, ::chmod(path.c_str(), 0666));
    }
    e2e::Product product;
    product.sapCode = L"HOST";
    product.version = L"1";
    product.platform = L"p";
    scene.placeSetup(Place::Velt, {product});
    const testutil::RunResult run =
        scene.run({L"--uninstallConfigPath=" + scene.writeConfig({product})});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;

    const std::vector<std::wstring> summary = scene.logSummary();
    EXPECT_NE(std::find(summary.begin(), summary.end(), L"INFO Launching the Velkaro..."),
              summary.end());
    int movedAside = 0;
    for (const std::wstring& entry : scene.tempEntries()) {
        const std::string path = zoka::toUtf8(scene.temp() + L"/" + entry);
        struct stat st;
        ASSERT_EQ(0, ::lstat(path.c_str(), &st)) << path;
        if (entry == L"Velkaro.log" || entry == L"Plimm.log") {
            EXPECT_EQ(st.st_uid, 0u) << path;
            EXPECT_EQ(st.st_mode & 07777, 0600u) << path;
            EXPECT_EQ(testutil::readBytes(zoka::fromUtf8(path)).find(testutil::utf16le(L"theirs")),
                      std::string::npos)
                << path;
        } else if (st.st_uid == 65534) {
            EXPECT_EQ(testutil::readBytes(zoka::fromUtf8(path)), theirs) << path;
            ++movedAside;
        }
    }
    EXPECT_EQ(movedAside, 2);
}

// The results file is refused at the start wherever another user (uid 65534) could block it,
// read it, replace it later or send it elsewhere: the run starts nothing and says why. A shared
// sticky folder inside the scene stands for /tmp.
TEST(E2eHostileTemp, ResultsPathsAnotherUserControlsAreRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, as the program does";
    const uid_t them = 65534;
    const struct {
        const char* name;
        std::wstring path;     // below the scene's root
        std::string because;   // in the reason on standard error; empty: accepted
        std::wstring guarded;  // a file whose bytes must stay as they were
    } cases[] = {
        {"a folder planted at the path", L"shared/r.json", "is not this user's own file", L""},
        {"their file at the path", L"shared/r.json", "is not this user's own file",
         L"shared/r.json"},
        {"their link as the folder", L"reports/r.json", "reports is a link", L"private/r.json"},
        {"their folder", L"theirs/r.json", "theirs belongs to another user", L""},
        {"a folder everyone may write into", L"open/r.json", "open is writable by other users",
         L""},
        {"a shared sticky folder, nothing planted", L"shared/r.json", "", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        const auto at = [&scene](const std::wstring& name) {
            return zoka::toUtf8(scene.path(name));
        };
        ASSERT_EQ(0, ::mkdir(at(L"shared").c_str(), 0755));
        ASSERT_EQ(0, ::chmod(at(L"shared").c_str(), 01777));
        ASSERT_EQ(0, ::mkdir(at(L"private").c_str(), 0700));
        ASSERT_TRUE(testutil::writeBytes(scene.path(L"private/r.json"), "root's own"));
        ASSERT_EQ(0, ::symlink(at(L"private").c_str(), at(L"reports").c_str()));
        ASSERT_EQ(0, ::lchown(at(L"reports").c_str(), them, them));
        ASSERT_EQ(0, ::mkdir(at(L"theirs").c_str(), 0755));
        ASSERT_EQ(0, ::chown(at(L"theirs").c_str(), them, them));
        ASSERT_EQ(0, ::mkdir(at(L"open").c_str(), 0755));
        ASSERT_EQ(0, ::chmod(at(L"open").c_str(), 0777));
        if (std::string(c.name) == "a folder planted at the path") {
            ASSERT_EQ(0, ::mkdir(at(L"shared/r.json").c_str(), 0777));
            ASSERT_EQ(0, ::chown(at(L"shared/r.json").c_str(), them, them));
        } else if (std::string(c.name) == "their file at the path") {
            ASSERT_TRUE(testutil::writeBytes(scene.path(L"shared/r.json"), "theirs"));
            ASSERT_EQ(0, ::chown(at(L"shared/r.json").c_str(), them, them));
        }
        const std::string guardedBefore =
            c.guarded.empty() ? "" : testutil::readBytes(scene.path(c.guarded));

        e2e::Product product;
        product.sapCode = L"RES";
        product.version = L"1";
        product.platform = L"p";
        scene.placeSetup(Place::Velt, {product});
        const std::wstring path = scene.path(c.path);
        const testutil::RunResult run = scene.run(
            {L"--uninstallConfigPath=" + scene.writeConfig({product}), L"--resultFile=" + path});
        ASSERT_TRUE(run.started);
        if (!c.guarded.empty()) {
            EXPECT_EQ(testutil::readBytes(scene.path(c.guarded)), guardedBefore);
        }
        if (c.because.empty()) {
            EXPECT_EQ(run.exitCode, 0) << run.err;
            struct stat st;
            ASSERT_EQ(0, ::lstat(zoka::toUtf8(path).c_str(), &st));
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_uid, 0u);
            EXPECT_EQ(st.st_mode & 07777, 0600u);
            EXPECT_EQ(nlohmann::json::parse(testutil::readBytes(path))["state"], "finished");
            continue;
        }
        EXPECT_EQ(run.exitCode, 1);
        const std::string reason =
            "The results file " + zoka::toUtf8(path) + " cannot be written: ";
        EXPECT_EQ(run.err.rfind(reason, 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.because), std::string::npos) << run.err;
        EXPECT_TRUE(scene.journal().empty()) << "a setup program was started";
    }
}

}  // namespace
