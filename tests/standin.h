#pragma once
// The stand-in setup program as the tests use it: copies at the places where the engine looks
// for the family setup programs, and the journal in which every run records what it received
// (format at the top of tools/standin_setup.cpp).

#include <map>
#include <string>
#include <vector>

#include "child_process.h"

namespace testutil {

/// One run of the stand-in as its journal recorded it.
struct JournalRecord {
    std::map<std::string, std::vector<std::wstring>> values;  ///< every value of a key, in order
    std::string paramBytes;                                   ///< the parameter file's bytes
    /// The first value of a key; empty when there is none.
    std::wstring get(const std::string& key) const;
    bool has(const std::string& key) const { return values.count(key) != 0; }
    /// The arguments, argv[0] first.
    const std::vector<std::wstring>& args() const;
};

/// The records of a journal, oldest first; a record cut short is left out.
std::vector<JournalRecord> readJournal(const std::wstring& path);

/// Where a family setup program can stand.
enum class SetupPlace {
    Velt,    ///< common files \Quenda\ZOKA\Plimm\DrexCore\Setup.exe
    QxBox,   ///< common files \Quenda\Quenda Desktop Common\QXBox\Setup.exe
    QxCore,  ///< program files \Quenda\Quenda Loomwork\QXCore\Setup.exe
};

/// The two program-files roots the engine searches, and the environment that points it at
/// them. POSIX: folders below `scratch` named by CommonProgramFiles / ProgramFiles. Windows: the
/// real shell folders (of the Wine prefix), which cannot be moved; the environment stays empty.
struct ProgramRoots {
    std::wstring commonFiles;
    std::wstring programFiles;
    std::vector<EnvChange> env;
    bool shared = false;  ///< true when the roots are the machine's own folders
};
ProgramRoots programRoots(const std::wstring& scratch);

/// Copies of the stand-in at the setup places. On destruction, removes what it placed and the
/// folders it made for them (only when empty: never more than it made).
class StandinPlaces {
public:
    explicit StandinPlaces(const std::wstring& scratch);
    ~StandinPlaces();
    StandinPlaces(const StandinPlaces&) = delete;
    StandinPlaces& operator=(const StandinPlaces&) = delete;

    const ProgramRoots& roots() const { return roots_; }
    /// The place's path, spelled out independently of the code under test.
    std::wstring path(SetupPlace place) const;
    /// Removes copies of the stand-in (and empty folders) that an interrupted run left at the
    /// places. False, with the reason, when anything else stands at one.
    bool clearLeftovers(std::string& problem) const;

    /// Copies the stand-in to `path` with a configuration beside it that journals into
    /// `journal` and answers with `exitCode`, or by the rules "needle=action;..." when given,
    /// or in `mode`. False when the copy or its configuration could not be written.
    bool install(const std::wstring& path, const std::wstring& journal,
                 const std::string& exitCode = "0", const std::string& rules = "",
                 const std::string& mode = "exit");
    /// Puts a folder where a program is expected.
    void installFolder(const std::wstring& path);
    /// Removes an installed program and its configuration.
    void uninstall(const std::wstring& path);

private:
    ProgramRoots roots_;
    std::vector<std::wstring> placed_;  ///< removed with everything in them
    std::vector<std::wstring> made_;    ///< folders made for them, outermost first
};

}  // namespace testutil
