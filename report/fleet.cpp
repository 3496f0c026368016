#include "report/fleet.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "app/result_format.h"

namespace velkaro::report {

namespace {

namespace fs = std::filesystem;

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string shortName(const std::string& host) {
    return host.substr(0, host.find('.'));
}

// UTF-16 (or UTF-32) units as UTF-8, lone surrogates replaced.
std::string wideToUtf8(const std::wstring& wide) {
    std::string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(wide[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() &&
            static_cast<uint32_t>(wide[i + 1]) >= 0xDC00 &&
            static_cast<uint32_t>(wide[i + 1]) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(wide[++i]) - 0xDC00);
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool hasJsonExtension(const fs::path& path) {
    return lower(pathText(path.extension())) == ".json";
}

// A file found, with the name the collection gives its host (folder or file name).
struct Found {
    // The native string, not a path: a path holds each of its components apart, which for
    // 100,000 files costs more than the machines themselves.
    fs::path::string_type path;
    std::string collectedName;
};

class Collector {
public:
    Collector(std::vector<Found>& files, std::vector<UnreadableFile>& unreadable)
        : files_(files), unreadable_(unreadable) {}

    void input(const fs::path& path) {
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (ec) {
            fail(path, ec);
        } else if (fs::is_directory(status)) {
            folder(path);
        } else if (fs::is_regular_file(status)) {
            files_.push_back({path.native(), pathText(path.stem())});
        } else {
            unreadable_.push_back({pathText(path), Unreadable::CannotRead, "not a file or folder"});
        }
    }

private:
    void fail(const fs::path& path, const std::error_code& ec) {
        const bool loop = ec == std::errc::too_many_symbolic_link_levels;
        unreadable_.push_back({pathText(path), loop ? Unreadable::LinkLoop : Unreadable::CannotRead,
                               loop ? "the link leads back to itself" : ec.message()});
    }

    // Walks one tree with its own stack: a deep tree cannot exhaust the program's. Linked
    // folders are followed once; a link to a folder that holds it is a loop and is listed.
    void folder(const fs::path& root) {
        std::error_code ec;
        const fs::path canonicalRoot = fs::weakly_canonical(root, ec);
        if (!ec && !visited_.insert(canonicalRoot).second)
            return;
        std::vector<fs::path> pending{root};
        while (!pending.empty()) {
            const fs::path dir = pending.back();
            pending.pop_back();
            std::vector<fs::directory_entry> entries;
            fs::directory_iterator it(dir, ec), end;
            if (ec) {
                fail(dir, ec);
                continue;
            }
            for (; it != end; it.increment(ec))
                entries.push_back(*it);
            if (ec)
                fail(dir, ec);
            // Sorted: the page is the same whatever order the file system lists.
            std::sort(entries.begin(), entries.end());
            for (auto e = entries.rbegin(); e != entries.rend(); ++e)
                entry(root, *e, pending);
        }
    }

    // The entry's type comes from the folder listing where the system gives it, so a plain
    // file costs no extra look-up; links are followed.
    void entry(const fs::path& root, const fs::directory_entry& e, std::vector<fs::path>& pending) {
        const fs::path& path = e.path();
        const bool json = hasJsonExtension(path);
        std::error_code ec;
        const bool file = e.is_regular_file(ec);
        const bool dir = !ec && !file && e.is_directory(ec);
        if (ec) {
            // A dangling link is listed only where a results file was meant; a loop always.
            if (ec == std::errc::too_many_symbolic_link_levels || json)
                fail(path, ec);
            return;
        }
        if (dir) {
            if (e.is_symlink(ec)) {
                const fs::path target = fs::canonical(path, ec);
                const fs::path here = ec ? fs::path() : fs::canonical(path.parent_path(), ec);
                if (ec) {
                    fail(path, ec);
                    return;
                }
                if (isWithin(here, target)) {
                    unreadable_.push_back(
                        {pathText(path), Unreadable::LinkLoop, "a link to a folder that holds it"});
                    return;
                }
                if (!visited_.insert(target).second)
                    return;
            }
            pending.push_back(path);
        } else if (file && json) {
            // <root>/<host>.json, or <root>/<host>/.../<file>.json (the playbooks' layout).
            const fs::path relative = path.lexically_relative(root);
            const bool nested = relative.has_parent_path() && !relative.parent_path().empty();
            files_.push_back({path.native(), pathText(nested ? *relative.begin() : path.stem())});
        }
    }

    static bool isWithin(const fs::path& inner, const fs::path& outer) {
        auto o = outer.begin();
        for (auto i = inner.begin(); o != outer.end(); ++o, ++i) {
            if (i == inner.end() || *i != *o)
                return false;
        }
        return true;
    }

    std::vector<Found>& files_;
    std::vector<UnreadableFile>& unreadable_;
    std::set<fs::path> visited_;
};

// One file's bytes, at most kMaxResultFileBytes + 1 of them: enough to tell a file that is too
// large. The buffer is allocated once and never cleared: only the pages a file fills are touched.
class FileReader {
public:
    FileReader() : buffer_(new char[kMaxResultFileBytes + 1]) {}

    bool read(const fs::path& path, std::string_view& bytes, std::string& error) {
        in_.clear();
        errno = 0;
        in_.open(path, std::ios::binary);
        if (!in_) {
            // The file stream leaves the system's reason in errno.
            error = errno != 0 ? std::generic_category().message(errno) : "cannot be opened";
            return false;
        }
        in_.read(buffer_.get(), static_cast<std::streamsize>(kMaxResultFileBytes + 1));
        const bool failed = in_.bad();
        bytes = std::string_view(buffer_.get(), static_cast<size_t>(in_.gcount()));
        in_.close();
        if (failed)
            error = "reading failed";
        return !failed;
    }

private:
    std::unique_ptr<char[]> buffer_;
    std::ifstream in_;
};

struct ProductIndex {
    std::vector<ProductName>& names;
    std::unordered_map<std::string, uint32_t> index;

    uint32_t of(const ProductName& name) {
        std::string key = name.family;
        for (const std::string* part : {&name.sapCode, &name.version, &name.platform}) {
            key += '\x1F';
            key += *part;
        }
        const auto [it, added] = index.emplace(std::move(key), static_cast<uint32_t>(names.size()));
        if (added)
            names.push_back(name);
        return it->second;
    }
};

bool later(const Machine& a, const Machine& b) {
    return std::tie(a.start, a.end, a.path) > std::tie(b.start, b.end, b.path);
}

}  // namespace

std::string pathText(const fs::path& path) {
    try {
        return validUtf8(path.u8string());
    } catch (...) {
        // Windows: a name with a lone surrogate has no UTF-8 form.
        try {
            return wideToUtf8(path.wstring());
        } catch (...) {
            return "\xEF\xBF\xBD";
        }
    }
}

MachineOutcome classifyRun(const RunResult& run, int64_t now) {
    if (run.running) {
        const int64_t products = std::max<int64_t>(1, static_cast<int64_t>(run.products.size()));
        const int64_t perProduct =
            run.setupTimeout >= 0 ? run.setupTimeout : kUnlimitedProductSeconds;
        const bool overdue =
            run.start == kNoTime || now - run.start > products * perProduct + kRunMarginSeconds;
        return overdue ? MachineOutcome::KilledOrRunning : MachineOutcome::Running;
    }
    if (!run.stopRequest.empty() || run.refusal == "interrupted")
        return MachineOutcome::Stopped;
    if (!run.refusal.empty())
        return MachineOutcome::Refused;
    if (run.dryRun)
        return MachineOutcome::DryRun;
    const bool anyFailed = std::any_of(run.products.begin(), run.products.end(), [](const auto& p) {
        return resultformat::kOutcomeWords[p.outcome] == std::string("failed");
    });
    return run.exitCode == 0 && !anyFailed ? MachineOutcome::Succeeded : MachineOutcome::Failed;
}

bool readInventory(const fs::path& file, std::vector<std::string>& hosts) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        const size_t first = line.find_first_not_of(" \t\r\xEF\xBB\xBF");
        if (first == std::string::npos || line[first] == '#')
            continue;
        line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
        if (line.rfind("hosts (", 0) == 0 && line.back() == ':')
            continue;
        hosts.push_back(validUtf8(line));
    }
    return !in.bad();
}

Fleet collectFleet(const FleetOptions& options) {
    Fleet fleet;
    std::vector<Found> files;
    Collector collector(files, fleet.unreadable);
    for (const fs::path& input : options.inputs)
        collector.input(input);

    ProductIndex products{fleet.products, {}};
    std::unordered_map<std::string, size_t> byHost;  // lower-case host: index in machines
    std::unordered_set<std::string> reportedNames;   // every name a machine answers to
    FileReader reader;
    std::string_view bytes;
    std::string error;
    RunResult run;
    fleet.machines.reserve(files.size());
    for (const Found& found : files) {
        const fs::path file(found.path);
        std::string path = pathText(file);
        Unreadable why = Unreadable::CannotRead;
        std::string detail;
        // A host whose file cannot be read did report: it is listed as unreadable, not missing.
        if (!options.inventory.empty())
            reportedNames.insert(lower(found.collectedName));
        if (!reader.read(file, bytes, error)) {
            fleet.unreadable.push_back({std::move(path), Unreadable::CannotRead, error});
            continue;
        }
        if (!parseResultFile(bytes, run, why, detail)) {
            fleet.unreadable.push_back({std::move(path), why, std::move(detail)});
            continue;
        }
        Machine machine;
        machine.outcome = classifyRun(run, options.now);
        machine.host = run.hostName.empty() ? found.collectedName : run.hostName;
        machine.path = std::move(path);
        machine.start = run.start;
        machine.end = run.end;
        machine.hasExitCode = run.hasExitCode;
        machine.exitCode = run.exitCode;
        machine.refusal = std::move(run.refusal);
        machine.stopRequest = std::move(run.stopRequest);
        const int64_t when = run.end != kNoTime ? run.end : run.start;
        machine.stale = options.staleAfterSeconds >= 0 && when != kNoTime &&
                        options.now - when > options.staleAfterSeconds;
        machine.products.reserve(run.products.size());
        for (const ProductResult& p : run.products)
            machine.products.push_back({products.of(p.name), p.outcome, p.launch, p.hasExitCode,
                                        p.exitCode, p.leftoverProcesses});

        for (const std::string& name : {machine.host, found.collectedName}) {
            if (options.inventory.empty())
                break;
            reportedNames.insert(lower(name));
            reportedNames.insert(lower(shortName(name)));
        }
        const auto [it, added] = byHost.emplace(lower(machine.host), fleet.machines.size());
        if (added) {
            fleet.machines.push_back(std::move(machine));
            continue;
        }
        // The same host twice: its latest run counts, the others are noted beside it.
        Machine& kept = fleet.machines[it->second];
        ++fleet.olderRuns;
        if (later(machine, kept)) {
            machine.olderRuns = std::move(kept.olderRuns);
            machine.olderRuns.push_back(std::move(kept.path));
            kept = std::move(machine);
        } else {
            kept.olderRuns.push_back(std::move(machine.path));
        }
    }
    std::sort(fleet.machines.begin(), fleet.machines.end(), [](const Machine& a, const Machine& b) {
        return std::tie(a.outcome, a.host, a.path) < std::tie(b.outcome, b.host, b.path);
    });
    std::unordered_set<std::string> expected;
    for (const std::string& host : options.inventory) {
        const std::string key = lower(host);
        if (!expected.insert(key).second)
            continue;
        if (reportedNames.count(key) == 0 && reportedNames.count(lower(shortName(host))) == 0)
            fleet.neverReported.push_back(host);
    }
    return fleet;
}

}  // namespace velkaro::report
