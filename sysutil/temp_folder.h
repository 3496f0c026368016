#pragma once
// The per-run folder for parameter files and the GUID names of the files in it.

#include <memory>
#include <string>
#include <vector>

namespace korr {

namespace detail {
struct HeldFolder;
struct HeldFolderDeleter {
    void operator()(HeldFolder* folder) const;
};
}  // namespace detail

/// The run's private folder: the user's temporary folder + a new GUID, created exclusively
/// with access for the running user only (POSIX: 0700; Windows: the running account and
/// Administrators), and held open from creation to removal, so that its path can be checked to
/// still lead to it. It carries a marker naming the process that owns it.
class RunFolder {
public:
    RunFolder();
    /// Removes the folder with everything in it, when this object created it and it is still
    /// in place.
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    /// Creates the folder; true when it exists, with its path in path(). A failure logs the
    /// attempted path at INFO ("Unable to create directoryPath at desired location:%s").
    bool create();
    bool created() const { return held_ != nullptr; }
    /// The folder's path without a trailing separator; empty before create().
    const std::wstring& path() const { return path_; }

    /// Creates a new, empty file (GUID name, no extension) inside the held folder, exclusively
    /// and readable by the running user only; its path in `newFilePath`. A folder that has
    /// vanished (a temporary-folder cleaner) is created again first.
    bool newFile(std::wstring& newFilePath);

    /// True when the folder's path still leads to the folder held (not renamed away, not
    /// replaced).
    bool stillInPlace() const;
    /// True when something else now stands under the folder's path (not merely deleted).
    bool displaced() const;

    /// Removes the folder and everything in it, when it is still in place; `failedPath` names
    /// what could not be removed.
    bool remove(std::wstring& failedPath);

private:
    std::wstring path_;
    std::unique_ptr<detail::HeldFolder, detail::HeldFolderDeleter> held_;
};

/// A run folder left by a process that no longer runs.
struct StaleRunFolder {
    std::wstring path;
    unsigned long processId = 0;
    bool removed = false;
    std::wstring failedPath;  ///< what could not be removed, when not removed
};

/// Removes the run folders in the user's temporary folder whose owner (by their marker) no
/// longer runs, with everything in them (read-only entries included), and returns them. Only
/// real folders of the running user with a run folder's name and a valid marker are looked at;
/// a folder whose owner still runs is left alone. The marker goes last: a folder that could not
/// be emptied keeps it and is tried again by the next run.
std::vector<StaleRunFolder> removeStaleRunFolders();

}  // namespace korr
