#pragma once
// Puts copies of the stand-in setup program where the engine looks for the family setup
// programs, and reads what they journaled.
//
// POSIX: the base folders are scratch folders named by $CommonProgramFiles and $ProgramFiles.
// Windows: the shell's real program-files folders (under Wine, the prefix's "C:\Program
// Files\..."); only what the fixture created is removed again.

#include <string>
#include <vector>

#include "standin.h"
#include "test_util.h"

/// Skips the test when the fixture's places cannot be used.
#define REQUIRE_USABLE(setup) \
    if (!(setup).usable())    \
    GTEST_SKIP() << (setup).reason()

namespace enginetest {

class SetupPrograms {
public:
    SetupPrograms();

    /// False (with a reason) when the candidate places cannot be used; the test should skip.
    bool usable() const { return reason_.empty(); }
    const std::string& reason() const { return reason_; }

    /// The three candidate places.
    std::wstring veltPath() const { return places_.path(testutil::SetupPlace::Velt); }
    std::wstring qxBoxPath() const { return places_.path(testutil::SetupPlace::QxBox); }
    std::wstring qxCorePath() const { return places_.path(testutil::SetupPlace::QxCore); }

    /// Copies the stand-in to `path` with a configuration that journals into journal() and
    /// answers with `exitCode`, or by the rules "needle=code;..." when given, or in `mode`.
    void install(const std::wstring& path, const std::string& exitCode = "0",
                 const std::string& rules = "", const std::string& mode = "exit") {
        places_.install(path, journal(), exitCode, rules, mode);
    }
    /// Puts a folder where a program is expected.
    void installFolder(const std::wstring& path) { places_.installFolder(path); }
    /// Removes an installed program (and its configuration).
    void uninstall(const std::wstring& path) { places_.uninstall(path); }

    std::wstring journal() const { return scratch_.file(L"journal.txt"); }
    std::vector<testutil::JournalRecord> records() const {
        return testutil::readJournal(journal());
    }

    /// A folder to serve as the user's temporary folder during the test.
    std::wstring tempFolder() const { return scratch_.file(L"tmp"); }
    /// Entries left in tempFolder().
    std::vector<std::wstring> tempLeftovers() const { return testutil::listFolder(tempFolder()); }

private:
    testutil::ScratchDir scratch_{L"engine"};
    testutil::EnvOverride env_;
    testutil::StandinPlaces places_{scratch_.path()};
    std::string reason_;
};

}  // namespace enginetest
