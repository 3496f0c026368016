// An elevated run whose temporary folder is shared (sticky, world-writable, like /tmp) and
// where another user (uid 65534) planted the program's log files beforehand; temporary folders,
// run folders, log names and lock folders that another user controls; and a results file asked
// for in places that user controls.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/unicode.h"
#include "e2e/e2e_run.h"
#include "sysutil/lock.h"

namespace {

using e2e::Place;
using e2e::Scene;
using nlohmann::json;

// A user that is neither root nor the attacker, for runs that must not be root's.
constexpr unsigned kVictim = 65533;

// The command, run through setpriv as `uid` (the attacker is 65534); "" when it could not run.
std::wstring setprivProgram() {
    return L"/usr/bin/setpriv";
}
std::vector<std::wstring> asUser(unsigned uid, std::vector<std::wstring> command) {
    const std::wstring id = std::to_wstring(uid);
    std::vector<std::wstring> args = {L"--reuid=" + id, L"--regid=" + id, L"--clear-groups"};
    args.insert(args.end(), command.begin(), command.end());
    return args;
}
int attacker(const std::string& shell) {
    return testutil::runProcess(setprivProgram(),
                                asUser(65534, {L"/bin/sh", L"-c", zoka::fromUtf8(shell)}))
        .exitCode;
}

std::string quoted(const std::wstring& path) {
    return "'" + zoka::toUtf8(path) + "'";
}

json readJson(const std::wstring& path) {
    return json::parse(testutil::readBytes(path), nullptr, false);
}

#define REQUIRE_ROOT_AND_SETPRIV()                                  \
    do {                                                            \
        if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK)) \
            GTEST_SKIP() << "needs root and setpriv";               \
    } while (0)

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

// A temporary folder that another user made, can write, or reaches through a link: the run
// refuses before it logs or starts anything, and says why.
TEST(E2eHostileTemp, ATemporaryFolderAnotherUserControlsIsRefused) {
    REQUIRE_ROOT_AND_SETPRIV();
    Scene scene;
    const std::wstring root = scene.root();
    ASSERT_EQ(0, ::chmod(zoka::toUtf8(root).c_str(), 01777));  // a shared folder, like /tmp
    e2e::Product product;
    product.sapCode = L"TMPD";
    product.version = L"1";
    product.platform = L"p";
    scene.placeSetup(Place::Velt, {product});
    const std::wstring config = scene.writeConfig({product});
    ASSERT_EQ(0, ::chmod(zoka::toUtf8(config).c_str(), 0644));
    struct Case {
        const char* what;
        std::wstring folder;   // the run's TMPDIR
        std::string attack;    // run as uid 65534 first
        std::string rootMade;  // then made by root, mode in octal ("" for none)
        std::wstring blamed;   // the path the reason names
        const char* reason;    // "" for a run that goes ahead
    } cases[] = {
        {"made by the other user", root + L"/mgr", "mkdir -m 0755 " + quoted(root + L"/mgr"), "",
         root + L"/mgr", " belongs to another user."},
        {"writable by others", root + L"/open", "", "0777", root + L"/open",
         " is writable by other users."},
        {"writable by its group", root + L"/group", "", "0770", root + L"/group",
         " is writable by other users."},
        {"a step that climbs out", root + L"/target/../target", "", "", root + L"/target/..",
         " climbs out of a folder."},
        {"a link the other user planted", root + L"/link",
         "ln -s " + quoted(scene.temp()) + " " + quoted(root + L"/link"), "", root + L"/link",
         " is a symbolic link."},
        {"missing, behind a link the other user planted", root + L"/link2/new",
         "ln -s " + quoted(root + L"/target") + " " + quoted(root + L"/link2"), "",
         root + L"/link2", " is a symbolic link."},
        {"below a folder of the other user's", root + L"/theirs/mine",
         "mkdir -m 0777 " + quoted(root + L"/theirs"), "0700", root + L"/theirs",
         " belongs to another user."},
        {"shared with the sticky bit, like /tmp", root + L"/shared", "", "1777", L"", ""},
    };
    ASSERT_TRUE(testutil::makeFolder(root + L"/target"));
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.attack.empty()) {
            ASSERT_EQ(attacker(c.attack), 0);
        }
        if (!c.rootMade.empty()) {
            ASSERT_EQ(0, ::mkdir(zoka::toUtf8(c.folder).c_str(), 0700));
            ASSERT_EQ(0,
                      ::chmod(zoka::toUtf8(c.folder).c_str(), std::stoul(c.rootMade, nullptr, 8)));
        }
        const std::wstring results = root + L"/results" + std::to_wstring(++n) + L".json";
        std::vector<testutil::EnvChange> env = e2e::tempFolderEnv(c.folder);
        env.insert(env.end(), scene.roots().env.begin(), scene.roots().env.end());
        const testutil::RunResult run = testutil::runProcess(
            testutil::siblingProgram(L"Velkaro"),
            {L"--uninstallConfigPath=" + config, L"--resultFile=" + results}, {env, L"", true});
        const json doc = readJson(results);
        if (*c.reason == '\0') {
            EXPECT_EQ(run.exitCode, 0) << run.err;
            EXPECT_EQ(doc["refusal"], nullptr);
            EXPECT_EQ(doc["logPath"], zoka::toUtf8(c.folder + L"/Velkaro.log"));
            continue;
        }
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err,
                  e2e::consoleText({L"The temporary folder " + c.blamed + zoka::fromUtf8(c.reason),
                                    L"The temporary folder is not available and cannot "
                                    L"be created.",
                                    L"Velkaro exiting with Return Code (1)"}));
        EXPECT_EQ(doc["refusal"], "tempFolderUnavailable");
        EXPECT_EQ(doc["logPath"], nullptr);
        struct stat st;
        EXPECT_NE(::lstat(zoka::toUtf8(c.folder + L"/Velkaro.log").c_str(), &st), 0);
    }
    EXPECT_EQ(scene.journal().size(), 1u) << "only the run in the sticky folder started anything";
    EXPECT_TRUE(testutil::listFolder(root + L"/target").empty()) << "nothing made through a link";
}

// A setup program (root's child, standing in for anyone who can rename entries of the
// temporary folder) moves the run folder away and puts a folder of its own in its place: no
// later parameter file goes there, nothing more is started, and the log says why.
TEST(E2eHostileTemp, ARunFolderReplacedDuringTheRunStartsNothingMore) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, as the program does";
    Scene scene;
    e2e::Product first, second;
    first.sapCode = L"ASWAP";  // products run in key order
    first.answer = "swapfolder";
    second.sapCode = L"BNEXT";
    for (e2e::Product* p : {&first, &second}) {
        p->version = L"1";
        p->platform = L"p";
    }
    scene.placeSetup(Place::Velt, {first, second});
    const testutil::RunResult run =
        scene.run({L"--uninstallConfigPath=" + scene.writeConfig({first, second})});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    const auto journal = scene.journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].get("action"), L"swapfolder done");
    const std::wstring runFolder =
        journal[0].get("param").substr(0, journal[0].get("param").rfind(L'/'));
    const std::vector<std::wstring> log = scene.logSummary();
    const std::wstring reason = L"ERROR The run folder " + runFolder +
                                L" is no longer the folder this run created: no setup program is "
                                L"started with files from it.";
    EXPECT_NE(std::find(log.begin(), log.end(), reason), log.end());
    EXPECT_NE(run.out.find("Uninstall failed for (BNEXT/1/p)"), std::string::npos) << run.out;
    // What stands under the name now is not the run's: it stays, untouched.
    EXPECT_TRUE(testutil::listFolder(runFolder).empty());
}

// Names planted in a shared temporary folder never leave a run without its log, or with a log
// nobody can find: a forged log (moved aside; every stamped name taken is the log target's own
// table); the log's name held by another user in a sticky folder (where it cannot be moved
// aside); nowhere to write at all.
TEST(E2eHostileLog, PlantedNamesNeverSilenceTheLog) {
    REQUIRE_ROOT_AND_SETPRIV();
    const std::string forged =
        "\xFF\xFE" + testutil::utf16le(L"Ending the Velkaro Return Code (0)\r\n");
    struct Case {
        const char* what;
        unsigned user;      // who runs the program
        unsigned tempMode;  // the temporary folder's (root's)
        int exitCode;
        const char* notice;  // the start of what standard error says ("": nothing about the log)
        bool logInPlace;     // else under an unpredictable name, or none ("" notice of no log)
    } cases[] = {
        {"a forged log", 0, 01777, 1, "", true},
        {"the log's name held in a sticky folder", kVictim, 01777, 1,
         "The log cannot be written to ", false},
        {"no place to write", kVictim, 0755, 1, "No log can be written: ", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        const std::wstring temp = scene.temp();
        ASSERT_EQ(0, ::chmod(zoka::toUtf8(scene.root()).c_str(), 0755));
        ASSERT_EQ(0, ::chmod(zoka::toUtf8(temp).c_str(), c.tempMode));
        if (c.tempMode & 01000) {
            ASSERT_EQ(attacker("umask 0; printf '" + std::string("\\377\\376") + "' > " +
                               quoted(temp + L"/Velkaro.log")),
                      0);
            ASSERT_TRUE(testutil::writeBytes(temp + L"/forged", forged));
            ASSERT_EQ(attacker("cat " + quoted(temp + L"/forged") + " > " +
                               quoted(temp + L"/Velkaro.log")),
                      0);
            ::unlink(zoka::toUtf8(temp + L"/forged").c_str());
        }
        // A configuration that is missing: every run is refused after its log is open.
        const std::wstring results = scene.path(L"results.json");
        std::vector<std::wstring> args = {L"--uninstallConfigPath=" + scene.path(L"none.xml"),
                                          L"--resultFile=" + results};
        std::wstring program = testutil::siblingProgram(L"Velkaro");
        if (c.user != 0) {
            args.insert(args.begin(), program);
            args = asUser(c.user, args);
            program = setprivProgram();
            ASSERT_EQ(0, ::chmod(zoka::toUtf8(scene.root()).c_str(), 01777));
        }
        const testutil::RunResult run =
            testutil::runProcess(program, args, {scene.environment(), L"", true});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        const json doc = readJson(results);
        ASSERT_TRUE(doc.is_object()) << run.err;
        EXPECT_EQ(run.err.find("cannot be written") != std::string::npos ||
                      run.err.find("No log") != std::string::npos,
                  *c.notice != '\0')
            << run.err;
        if (*c.notice != '\0') {
            EXPECT_EQ(run.err.rfind(c.notice, 0), 0u) << run.err;
        }
        // Whatever the attacker left is as they left it; they hold no line of the run.
        if (c.tempMode & 01000) {
            const std::vector<std::wstring> entries = scene.tempEntries();
            EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                                    [&](const std::wstring& e) {
                                        return testutil::readBytes(temp + L"/" + e) == forged;
                                    }),
                      1);
        }
        if (c.tempMode == 0755) {
            EXPECT_EQ(doc["logPath"], nullptr);
            continue;
        }
        ASSERT_TRUE(doc["logPath"].is_string());
        const std::wstring logPath = zoka::fromUtf8(doc["logPath"].get<std::string>());
        EXPECT_EQ(logPath == temp + L"/Velkaro.log", c.logInPlace) << zoka::toUtf8(logPath);
        if (!c.logInPlace) {
            EXPECT_NE(run.err.find(zoka::toUtf8(logPath)), std::string::npos) << run.err;
        }
        struct stat st;
        ASSERT_EQ(0, ::lstat(zoka::toUtf8(logPath).c_str(), &st));
        EXPECT_EQ(st.st_uid, c.user);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        const std::string bytes = testutil::readBytes(logPath);
        EXPECT_NE(bytes.find(testutil::utf16le(L"Launching the Velkaro...")), std::string::npos);
        EXPECT_NE(bytes.find(testutil::utf16le(L"Ending the Velkaro Return Code (1)")),
                  std::string::npos);
    }
}

// A user's own lock folder in /tmp made by another user beforehand: refused, said, and the run
// still logs. In a private mount namespace with a /tmp of its own; the program is copied into it
// from a descriptor opened before, since the build folder may itself lie under /tmp.
TEST(E2eHostileLog, ALockFolderAnotherUserMadeIsRefusedAndTheRunStillLogs) {
    REQUIRE_ROOT_AND_SETPRIV();
    if (::access("/usr/bin/unshare", X_OK) != 0)
        GTEST_SKIP() << "needs unshare (util-linux)";
    const std::string victim = std::to_string(kVictim);
    const std::string setpriv =
        "setpriv --reuid=" + victim + " --regid=" + victim + " --clear-groups ";
    const std::string script =
        "exec 3<'" + zoka::toUtf8(testutil::siblingProgram(L"Velkaro")) +
        "' || exit 92\n"
        "mount --make-rprivate / && mount -t tmpfs -o mode=1777 tmpfs /tmp || exit 90\n"
        "mkdir -m 0755 /tmp/bin && cat <&3 >/tmp/bin/Velkaro && chmod 0755 /tmp/bin/Velkaro "
        "|| exit 92\n"
        "setpriv --reuid=65534 --regid=65534 --clear-groups mkdir -m 0700 /tmp/velkaro-" +
        victim + " || exit 91\n" + setpriv +
        "env TMPDIR=/tmp /tmp/bin/Velkaro --uninstallConfigPath=/tmp/none.xml >/dev/null "
        "2>/tmp/err\n"
        "echo \"exit=$?\"; cat /tmp/err; echo '--log--'; od -An -c /tmp/Velkaro.log | tr -d ' "
        "\\n'\n";
    const testutil::RunResult run = testutil::runProcess(
        L"/usr/bin/unshare", {L"-m", L"/bin/sh", L"-c", zoka::fromUtf8(script)}, {{}, L"", true});
    if (run.exitCode == 90)
        GTEST_SKIP() << "no private mount namespace here: " << run.err;
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(
        run.out.rfind("exit=1\nThe log's lock is refused (the lock folder /tmp/velkaro-" + victim +
                          " is not this user's own private folder: another user "
                          "made it): the log is written without the lock",
                      0),
        0u)
        << run.out;
    // od shows the UTF-16 text as characters with "\0" between them.
    const std::string log = run.out.substr(run.out.find("--log--"));
    std::string text;
    for (const char ch : std::string("Launching")) {
        text += ch;
        text += "\\0";
    }
    EXPECT_NE(log.find(text), std::string::npos) << log;
}

// The results file is refused at the start wherever another user (uid 65534) could block it,
// read it, replace it later or send it elsewhere, at any step of its path: the run starts
// nothing and says why. What that user planted at the path itself is moved aside, so that
// whatever stands there after the run is the run's own file or nothing, refused or not. A
// shared sticky folder inside the scene stands for /tmp.
TEST(E2eHostileTemp, ResultsPathsAnotherUserControlsAreRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, as the program does";
    const uid_t them = 65534;
    enum class Planted { Nothing, Folder, File };
    const struct {
        const char* name;
        std::wstring path;     // below the scene's root
        std::string because;   // in the reason on standard error; empty: accepted
        std::wstring guarded;  // a file whose bytes must stay as they were
        Planted planted;       // at the path, by them, in the sticky folder
        bool lockHeld;         // another instance runs
    } cases[] = {
        {"a folder planted at the path", L"shared/r.json", "", L"", Planted::Folder, false},
        {"their file at the path", L"shared/r.json", "", L"", Planted::File, false},
        {"their file, another instance running", L"shared/r.json", "", L"", Planted::File, true},
        {"their link as the folder", L"reports/r.json", "reports is a symbolic link",
         L"private/r.json", Planted::Nothing, false},
        {"their folder", L"theirs/r.json", "theirs belongs to another user", L"", Planted::Nothing,
         false},
        {"root's folder inside theirs", L"theirs/mine/r.json", "theirs belongs to another user",
         L"theirs/mine/r.json", Planted::Nothing, false},
        {"a folder everyone may write into", L"open/r.json", "open is writable by other users", L"",
         Planted::Nothing, false},
        {"a shared sticky folder, nothing planted", L"shared/r.json", "", L"", Planted::Nothing,
         false},
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
        ASSERT_EQ(0, ::mkdir(at(L"theirs/mine").c_str(), 0700));
        ASSERT_TRUE(testutil::writeBytes(scene.path(L"theirs/mine/r.json"), "root's own"));
        ASSERT_EQ(0, ::chown(at(L"theirs").c_str(), them, them));
        ASSERT_EQ(0, ::mkdir(at(L"open").c_str(), 0755));
        ASSERT_EQ(0, ::chmod(at(L"open").c_str(), 0777));
        if (c.planted == Planted::Folder) {
            ASSERT_EQ(0, ::mkdir(at(L"shared/r.json").c_str(), 0777));
            ASSERT_EQ(0, ::chown(at(L"shared/r.json").c_str(), them, them));
        } else if (c.planted == Planted::File) {
            ASSERT_TRUE(testutil::writeBytes(scene.path(L"shared/r.json"), "theirs"));
            ASSERT_EQ(0, ::chown(at(L"shared/r.json").c_str(), them, them));
        }
        const std::string guardedBefore =
            c.guarded.empty() ? "" : testutil::readBytes(scene.path(c.guarded));
        std::unique_ptr<korr::VRXSemaphoreLock> other;
        if (c.lockHeld) {
            other = std::make_unique<korr::VRXSemaphoreLock>(e2e::lockName());
            ASSERT_TRUE(other->lock());
        }

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
        if (!c.because.empty()) {
            EXPECT_EQ(run.exitCode, 1);
            const std::string reason =
                "The results file " + zoka::toUtf8(path) + " cannot be written: ";
            EXPECT_EQ(run.err.rfind(reason, 0), 0u) << run.err;
            EXPECT_NE(run.err.find(c.because), std::string::npos) << run.err;
            EXPECT_TRUE(scene.journal().empty()) << "a setup program was started";
            continue;
        }
        // Theirs is kept beside the path, under a name nobody could foresee, and said.
        std::vector<std::wstring> aside;
        for (const std::wstring& name : testutil::listFolder(scene.path(L"shared"))) {
            if (name != L"r.json")
                aside.push_back(name);
        }
        ASSERT_EQ(aside.size(), c.planted == Planted::Nothing ? 0u : 1u);
        if (!aside.empty()) {
            const std::wstring moved = scene.path(L"shared/" + aside[0]);
            EXPECT_NE(run.err.find("The results path " + zoka::toUtf8(path) +
                                   " held another user's entry: moved aside to " +
                                   zoka::toUtf8(moved) + "."),
                      std::string::npos)
                << run.err;
            struct stat st;
            ASSERT_EQ(0, ::lstat(zoka::toUtf8(moved).c_str(), &st));
            EXPECT_EQ(st.st_uid, them);
        }
        struct stat st;
        if (c.lockHeld) {
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_NE(::lstat(zoka::toUtf8(path).c_str(), &st), 0) << "left to be collected";
            continue;
        }
        EXPECT_EQ(run.exitCode, 0) << run.err;
        ASSERT_EQ(0, ::lstat(zoka::toUtf8(path).c_str(), &st));
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(nlohmann::json::parse(testutil::readBytes(path))["state"], "finished");
    }
}

}  // namespace
