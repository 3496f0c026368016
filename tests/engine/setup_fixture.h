#pragma once
// Puts copies of the stand-in setup program where the engine looks for the family setup
// programs, and reads what they journaled.
//
// POSIX: the base folders are scratch folders named by $CommonProgramFiles and $ProgramFiles.
// Windows: the shell's real program-files folders (under Wine, the prefix's "C:\Program
// Files\..."); only what the fixture created is removed again.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "test_util.h"

namespace enginetest {

/// True on the POSIX build ('/' separator).
bool isPosix();
/// True when the Windows build runs under Wine.
bool runningUnderWine();

/// One run of the stand-in, as its journal recorded it.
struct StandinRecord {
    std::map<std::string, std::wstring> values;  // the last value of each key
    std::vector<std::wstring> args;              // argv[0] first
    std::string paramBytes;                      // the parameter file's bytes
    std::wstring value(const std::string& key) const;
};

class SetupPrograms {
public:
    SetupPrograms();
    ~SetupPrograms();
    SetupPrograms(const SetupPrograms&) = delete;
    SetupPrograms& operator=(const SetupPrograms&) = delete;

    /// False (with a reason) when the candidate places cannot be used; the test should skip.
    bool usable() const { return reason_.empty(); }
    const std::string& reason() const { return reason_; }

    /// The three candidate places, spelled out independently of the code under test.
    std::wstring veltPath() const;
    std::wstring qxBoxPath() const;
    std::wstring qxCorePath() const;

    /// Copies the stand-in to `path` with a configuration that journals into journal() and
    /// answers with `exitCode`, or by the rules "needle=code;..." when given, or in `mode`.
    void install(const std::wstring& path, const std::string& exitCode = "0",
                 const std::string& rules = "", const std::string& mode = "exit");
    /// Puts a folder where a program is expected.
    void installFolder(const std::wstring& path);
    /// Removes an installed program (and its configuration).
    void uninstall(const std::wstring& path);

    std::wstring journal() const { return scratch_.file(L"journal.txt"); }
    std::vector<StandinRecord> records() const;

    /// A folder to serve as the user's temporary folder during the test.
    std::wstring tempFolder() const { return scratch_.file(L"tmp"); }
    /// Entries left in tempFolder().
    std::vector<std::wstring> tempLeftovers() const;

private:
    void createFolders(const std::wstring& folder);

    testutil::ScratchDir scratch_{L"engine"};
    std::wstring commonBase_;   // the common program files folder
    std::wstring programBase_;  // the program files folder
    std::vector<std::wstring> createdFolders_;
    std::vector<std::wstring> placed_;
    std::vector<std::pair<std::string, std::wstring>> savedEnv_;
    std::vector<bool> hadEnv_;
    std::string reason_;
};

}  // namespace enginetest
