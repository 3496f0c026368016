#pragma once
// The engine's object for one removal run: where the two family setup programs are, the run's
// folder for parameter files (created on first use, deleted with the object), and one removal
// operation per family.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/run_record.h"
#include "config/uninstall_product.h"
#include "engine/setup_verdict.h"
#include "logging/logger.h"
#include "sysutil/temp_folder.h"

namespace velkaro {

class MediaUninstaller {
public:
    /// Locates both setup programs; a program that is not found leaves its path empty.
    MediaUninstaller();
    /// Deletes the run folder when this object created it.
    ~MediaUninstaller();
    MediaUninstaller(const MediaUninstaller&) = delete;
    MediaUninstaller& operator=(const MediaUninstaller&) = delete;

    /// Creates the run folder unless a path is already set; false when the creation failed.
    bool ensureTempFolder();

    /// Removes one VELT product with its deployment file. True when removed or when there was
    /// nothing to uninstall (then `foundOnSystem` is cleared); false for every failure.
    bool uninstallVELTMedia(const UninstallProduct& product, bool& foundOnSystem);

    /// Removes one QX product with a driver document. True when removed or not installed (then
    /// `foundOnSystem` is cleared); false for every failure.
    bool uninstallQXMedia(const UninstallProduct& product, bool& foundOnSystem);

    zoka::Logger logger;        // constructed first, destroyed last
    korr::RunFolder runFolder;  // deleted by the destructor when it was created
    std::wstring qxSetupPath;
    std::wstring veltSetupPath;
    /// The longest a setup program may run, in seconds; 0: no limit.
    uint32_t setupTimeoutSeconds = 0;
    /// Waits for every process a setup program started, not only for the program.
    bool waitForProcessTree = false;
    /// Called once while each setup program runs, when set.
    std::function<void()> whileSetupRuns;
    /// When set, the next removal writes its launch's details here.
    ProductRecord* launchRecord = nullptr;

private:
    /// False, with the reason logged, when the run folder's path leads elsewhere than to the
    /// folder this run created (`gone`: a vanished folder counts too).
    bool runFolderIntact(bool gone);
    /// Logs, at WARN, the processes a setup program left running when it ended.
    void reportLeftovers(const std::wstring& setupPath, const UninstallProduct& product,
                         const std::vector<korr::LeftoverProcess>& leftovers);
    /// Runs a family setup program and waits for it, logs the family's verdict on its answer and
    /// turns that into the removal's result.
    bool runSetup(const UninstallProduct& product, const std::wstring& setupPath,
                  const std::vector<std::wstring>& arguments, bool quoteProgramPath,
                  SetupVerdict (*verdictFor)(korr::LaunchResult launch, uint32_t exitCode),
                  bool& foundOnSystem);
};

}  // namespace velkaro
