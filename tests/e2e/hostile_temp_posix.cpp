// An elevated run whose temporary folder is shared (sticky, world-writable, like /tmp) and
// where another user (uid 65534) planted the program's log files beforehand.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace
