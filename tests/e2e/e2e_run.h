#pragma once
// One end-to-end scene: a scratch folder with the program's own temporary folder, program-files
// roots with setup stand-ins at the family places, a configuration, and what a run of the real
// program leaves behind (console, exit code, log lines, the stand-ins' journal).

#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "e2e/e2e_platform.h"
#include "standin.h"
#include "sysutil/lock.h"
#include "test_util.h"

namespace e2e {

using testutil::ChildProcess;
using testutil::EnvChange;
using testutil::JournalRecord;
using testutil::RunResult;
using Place = testutil::SetupPlace;

/// One product of a configuration, and what its stand-in answers.
struct Product {
    bool velt = true;
    std::wstring sapCode;
    std::wstring version;
    std::wstring platform;
    std::wstring baseVersion;  ///< QX only; VELT shows its version
    std::string answer = "0";  ///< the stand-in's action for it: an exit code, "hang" or "die"
    std::wstring shown() const { return velt ? version : baseVersion; }
    std::wstring key() const { return sapCode + L"_" + version + L"_" + platform; }
};

/// A parsed log line: level and message, plus whether the context columns were the program's.
struct LogLine {
    std::wstring level;
    std::wstring message;
    bool programColumns = false;
};

class Scene {
public:
    /// `tempName`: the name of the program's temporary folder inside the scratch folder.
    explicit Scene(const std::wstring& tempName = L"tmp");
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    /// Puts a copy of the stand-in at the place; products answer by their rule, others with
    /// `otherwise`. Returns the copy's path.
    std::wstring placeSetup(Place place, const std::vector<Product>& products,
                            const std::string& otherwise = "99");
    /// Writes a configuration listing the products (in the given order) into the scratch folder
    /// and returns its path.
    std::wstring writeConfig(const std::vector<Product>& products,
                             const std::wstring& name = L"config.xml");
    /// Writes raw bytes as a file in the scratch folder and returns its path.
    std::wstring writeFile(const std::wstring& name, const std::string& bytes);

    /// Runs the program (or `program`) with the scene's environment.
    RunResult run(const std::vector<std::wstring>& args, const std::wstring& workDir = L"",
                  std::wstring program = L"");
    bool start(ChildProcess& child, const std::vector<std::wstring>& args);
    std::vector<EnvChange> environment() const;

    std::vector<LogLine> logLines() const;
    /// "LEVEL message" for each log line.
    std::vector<std::wstring> logSummary() const;
    std::vector<JournalRecord> journal() const;
    /// The entries of the program's temporary folder, sorted.
    std::vector<std::wstring> tempEntries() const;

    const std::wstring& root() const { return scratch_.path(); }
    const std::wstring& temp() const { return temp_; }
    const std::wstring& journalPath() const { return journal_; }
    std::wstring path(const std::wstring& name) const { return scratch_.file(name); }
    const testutil::ProgramRoots& roots() const { return places_->roots(); }

private:
    bool outermost_;  ///< the first scene alive in this process (holds the serial lock)
    testutil::ScratchDir scratch_;
    std::wstring temp_;
    std::wstring journal_;
    std::unique_ptr<testutil::StandinPlaces> places_;  ///< emptied before the lock is let go
};

/// The variables that make `folder` the program's temporary folder.
std::vector<EnvChange> tempFolderEnv(const std::wstring& folder);

/// Bytes the console writes for these lines (UTF-8, the platform's line end).
std::string consoleText(const std::vector<std::wstring>& lines);

/// The expected outcome of a complete run over `products` with the given stand-ins present.
struct Expected {
    int exitCode = 0;
    std::vector<std::wstring> out;
    std::vector<std::wstring> err;
    std::vector<std::wstring> log;    ///< "LEVEL message"
    std::vector<std::wstring> order;  ///< sapCodes handed to a stand-in, in order
};
/// `setupTimeout`: the --setupTimeout that ends the "hangtree" stand-ins.
Expected expectRun(const std::vector<Product>& products, bool veltPresent, bool qxBox, bool qxCore,
                   unsigned setupTimeout = 0);

/// Ends an expected log line whose rest varies (paths, GUIDs): matchLog then compares only what
/// comes before it.
inline const std::wstring kAnyRest = L"\u2026";
inline const std::wstring kConfigInUse = L"INFO Configuration in use: " + kAnyRest;

/// `actual` with each line that matches an expected line ending in kAnyRest replaced by it, so
/// that a comparison with `expected` shows only real differences.
std::vector<std::wstring> matchLog(std::vector<std::wstring> actual,
                                   const std::vector<std::wstring>& expected);

/// The program's fixed log lines around every run.
std::vector<std::wstring> openingLog();
std::vector<std::wstring> closingLog(int returnCode);
std::vector<std::wstring> usageOut();
std::vector<std::wstring> usageLog();
/// The whole log of a run that shows the usage on request.
std::vector<std::wstring> helpLog();

std::wstring lockName();

/// A results file's bytes. With VELKARO_KEEP_RESULTS naming a folder, a copy is kept there too,
/// so the test command checks every results file the runs wrote against the published schema.
std::string readResultFile(const std::wstring& path);

template <typename T>
std::vector<T> concat(std::initializer_list<std::vector<T>> parts) {
    std::vector<T> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace e2e
