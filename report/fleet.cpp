#include "report/fleet.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include <rapidjson/document.h>

#include "app/result_format.h"
#include "report/input_file.h"

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
        appendUtf8(out, c);
    }
    return out;
}

using NativeView = std::basic_string_view<fs::path::value_type>;

// The last name of a path found in a folder: what follows its last separator (or, on Windows,
// the colon of a drive's current folder, as in "C:name").
NativeView leafName(const fs::path::string_type& native) {
    constexpr bool kWindows = fs::path::preferred_separator == '\\';
    size_t at = native.size();
    while (at > 0 && native[at - 1] != '/' && native[at - 1] != fs::path::preferred_separator &&
           !(kWindows && native[at - 1] == ':'))
        --at;
    return NativeView(native).substr(at);
}

// A name ending in ".json", any case, that has a stem: ".json" alone is a hidden file's name.
bool hasJsonExtension(NativeView name) {
    static constexpr char kExtension[] = ".json";
    constexpr size_t kLength = sizeof(kExtension) - 1;
    if (name.size() <= kLength)
        return false;
    for (size_t i = 0; i < kLength; ++i) {
        const auto c = name[name.size() - kLength + i];
        if (c != kExtension[i] && !(c >= 'A' && c <= 'Z' && c - 'A' + 'a' == kExtension[i]))
            return false;
    }
    return true;
}

void appendEscape(std::string& out, const char* format, unsigned value) {
    char buffer[12];
    std::snprintf(buffer, sizeof(buffer), format, value);
    out += buffer;
}

// A name of the file system as text that keeps it apart from every other name: bytes that are
// not UTF-8 (POSIX), lone surrogates (Windows) and control characters as "\xHH" or "\uHHHH", a
// backslash doubled.
template <typename String>
std::string nativeNameText(const String& native) {
    std::string out;
    if constexpr (sizeof(native[0]) == 1) {
        const std::string_view bytes(reinterpret_cast<const char*>(native.data()), native.size());
        for (size_t i = 0; i < bytes.size();) {
            const auto c = static_cast<unsigned char>(bytes[i]);
            size_t n = 1;
            if (c >= 0x80) {
                const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
                n = i + length <= bytes.size() &&
                            validUtf8(bytes.substr(i, length)) == bytes.substr(i, length)
                        ? length
                        : 0;
            }
            if (n == 0 || c < 0x20 || c == 0x7F) {
                appendEscape(out, "\\x%02X", c);
                ++i;
            } else {
                out.append(bytes.substr(i, n));
                if (c == '\\')
                    out += '\\';
                i += n;
            }
        }
    } else {
        for (size_t i = 0; i < native.size(); ++i) {
            const auto c = static_cast<uint32_t>(native[i]);
            const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < native.size() &&
                              static_cast<uint32_t>(native[i + 1]) >= 0xDC00 &&
                              static_cast<uint32_t>(native[i + 1]) <= 0xDFFF;
            if (pair) {
                out += wideToUtf8(std::wstring(native.substr(i, 2)));
                ++i;
            } else if ((c >= 0xD800 && c <= 0xDFFF) || c < 0x20 || c == 0x7F) {
                appendEscape(out, c < 0x80 ? "\\x%02X" : "\\u%04X", c);
            } else {
                out += wideToUtf8(std::wstring(native.substr(i, 1)));
                if (c == '\\')
                    out += '\\';
            }
        }
    }
    return out;
}

std::string nameText(const fs::path& name) {
    return nativeNameText(name.native());
}

// pathText of a native name, without building a path (which splits it into its components).
template <typename String>
std::string nativePathText(const String& native) {
    if constexpr (sizeof(native[0]) == 1)
        return validUtf8(native);
    else
        return pathText(fs::path(native));
}

// A file found, with the name of its place.
struct Found {
    // The native string, not a path: a path holds each of its components apart, which for
    // 100,000 files costs more than the machines themselves.
    fs::path::string_type path;
    std::string place;
    bool alone = false;  ///< given alone on the command line: named by its hostName
};

class Collector {
public:
    Collector(const FleetOptions& options, std::vector<Found>& files,
              std::vector<UnreadableFile>& unreadable)
        : options_(options), files_(files), unreadable_(unreadable) {
        for (const fs::path& output : options.outputs)
            outputNames_.insert(output.filename().native());
    }

    void input(const fs::path& path) {
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (!ec && fs::is_directory(status)) {
            folder(path);
        } else if (!ec || path.has_filename()) {
            // Anything else is read as a file: the reader tells a FIFO, device or dangling link.
            if (!ownOutput(path))
                files_.push_back({path.native(), nameText(path.stem()), true});
        } else {
            fail(path, ec);
        }
    }

private:
    void fail(const fs::path& path, const std::error_code& ec) {
        const bool loop = ec == std::errc::too_many_symbolic_link_levels;
        unreadable_.push_back({pathText(path), std::string(),
                               loop ? Unreadable::LinkLoop : Unreadable::CannotRead,
                               loop ? "the link leads back to itself" : ec.message()});
    }

    bool excluded(const fs::path& path) const {
        if (options_.exclude.empty())
            return false;
        const std::string name = pathText(path.filename());
        return std::any_of(options_.exclude.begin(), options_.exclude.end(),
                           [&name](const std::string& p) { return nameMatches(p, name); });
    }

    // The report's own page, CSV, summary or rerun list, by identity (checked only when the
    // name matches: most files cost nothing).
    bool ownOutput(const fs::path& path) const { return ownOutput(path, path.filename().native()); }
    bool ownOutput(const fs::path& path, NativeView name) const {
        if (outputNames_.find(name) == outputNames_.end())
            return false;
        std::error_code ec;
        return std::any_of(options_.outputs.begin(), options_.outputs.end(),
                           [&](const fs::path& o) { return fs::equivalent(path, o, ec); });
    }

    // Walks one tree with its own stack: a deep tree cannot exhaust the program's. Linked
    // folders are followed once; a link to a folder that holds it is a loop and is listed.
    void folder(const fs::path& root) {
        std::error_code ec;
        const fs::path canonicalRoot = fs::weakly_canonical(root, ec);
        if (!ec && !visited_.insert(canonicalRoot).second)
            return;
        // Each folder with the name of the place its files belong to; empty for the root, whose
        // files are each a place of their own.
        std::vector<std::pair<fs::path, std::string>> pending{{root, std::string()}};
        while (!pending.empty()) {
            const fs::path dir = std::move(pending.back().first);
            const std::string place = std::move(pending.back().second);
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
            // Sorted: the page is the same whatever order the file system lists. Every entry's
            // path is the folder's and a name, so the whole texts compare as the names do.
            std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
                return a.path().native() < b.path().native();
            });
            for (auto e = entries.rbegin(); e != entries.rend(); ++e)
                entry(root, place, *e, pending);
        }
    }

    // The entry's type comes from the folder listing where the system gives it, so a plain
    // file costs no extra look-up; links are followed.
    void entry(const fs::path& root, const std::string& place, const fs::directory_entry& e,
               std::vector<std::pair<fs::path, std::string>>& pending) {
        const fs::path& path = e.path();
        const NativeView name = leafName(path.native());
        if (excluded(path))
            return;
        std::error_code ec;
        const bool dir = e.is_directory(ec);
        if (ec && ec == std::errc::too_many_symbolic_link_levels) {
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
                    unreadable_.push_back({pathText(path), nameText(placeOf(root, path)),
                                           Unreadable::LinkLoop,
                                           "a link to a folder that holds it"});
                    return;
                }
                if (!visited_.insert(target).second)
                    return;
            }
            // <root>/<host>/.../<file>.json (the playbooks' layout): the host is the folder
            // directly under the root.
            pending.emplace_back(path, place.empty() ? nativeNameText(name) : place);
        } else if (hasJsonExtension(name) && !ownOutput(path, name)) {
            // Any *.json that is no folder is read, a dangling link or special file included:
            // the reader says what it is, so nothing meant as a results file is dropped.
            // <root>/<host>.json: the host is the name without ".json".
            files_.push_back(
                {path.native(),
                 place.empty() ? nativeNameText(name.substr(0, name.size() - 5)) : place, false});
        }
    }

    // <root>/<host>.json, or <root>/<host>/.../<file>.json (the playbooks' layout).
    static fs::path placeOf(const fs::path& root, const fs::path& path) {
        const fs::path relative = path.lexically_relative(root);
        const bool nested = relative.has_parent_path() && !relative.parent_path().empty();
        return nested ? *relative.begin() : path.stem();
    }

    static bool isWithin(const fs::path& inner, const fs::path& outer) {
        auto o = outer.begin();
        for (auto i = inner.begin(); o != outer.end(); ++o, ++i) {
            if (i == inner.end() || *i != *o)
                return false;
        }
        return true;
    }

    const FleetOptions& options_;
    std::vector<Found>& files_;
    std::vector<UnreadableFile>& unreadable_;
    std::set<fs::path> visited_;
    std::set<fs::path::string_type, std::less<>> outputNames_;
};

// One file's bytes, at most kMaxResultFileBytes + 1 of them: enough to tell a file that is too
// large. The buffer is allocated once and never cleared: only the pages a file fills are touched.
class FileReader {
public:
    FileReader() : buffer_(new char[kMaxResultFileBytes + 1]) {}

    InputFault read(const fs::path::string_type& path, std::string_view& bytes,
                    std::string& error) {
        size_t size = 0;
        const InputFault fault =
            readInputFile(path.c_str(), buffer_.get(), kMaxResultFileBytes + 1, size, error);
        bytes = std::string_view(buffer_.get(), size);
        return fault;
    }

private:
    std::unique_ptr<char[]> buffer_;
};

struct ProductIndex {
    std::vector<ProductName>& names;
    std::unordered_map<std::string, uint32_t> index;
    std::vector<uint32_t> recent;  ///< by place in a file: the product the last file had there

    // Files of one configuration list the same products in the same order: the product at
    // the same place in the file before is tried first.
    uint32_t of(const ProductName& name, size_t place) {
        if (place < recent.size()) {
            const ProductName& known = names[recent[place]];
            if (known.family == name.family && known.sapCode == name.sapCode &&
                known.version == name.version && known.platform == name.platform)
                return recent[place];
        } else {
            recent.resize(place + 1);
        }
        recent[place] = of(name);
        return recent[place];
    }

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

// Failing first, then by host name: sorted by index and then moved into place, each machine
// once, with no second vector of machines.
void sortMachines(std::vector<Machine>& machines) {
    std::vector<size_t> order(machines.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&machines](size_t i, size_t j) {
        const Machine &a = machines[i], &b = machines[j];
        return std::tie(a.outcome, a.host, a.path) < std::tie(b.outcome, b.host, b.path);
    });
    // order[k] is the machine that belongs at k; each cycle of moves ends where it began.
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i] == i)
            continue;
        Machine held = std::move(machines[i]);
        size_t at = i;
        while (order[at] != i) {
            const size_t from = order[at];
            machines[at] = std::move(machines[from]);
            order[at] = at;
            at = from;
        }
        machines[at] = std::move(held);
        order[at] = at;
    }
}

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

std::string hostKey(std::string_view host) {
    std::string key = lower(std::string(host));
    // An IP address has no domain part: 10.0.0.1 is not 10.
    const bool address = key.find_first_not_of("0123456789.") == std::string::npos ||
                         key.find(':') != std::string::npos;
    if (!address)
        key.resize(std::min(key.size(), key.find('.')));
    return key;
}

bool nameMatches(std::string_view pattern, std::string_view name) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    // Greedy with one step back to the last star: linear enough for names.
    size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

namespace {

Machine machineOf(RunResult& run, const Found& found, const std::string& path,
                  const FleetOptions& options, ProductIndex& products) {
    Machine machine;
    machine.outcome = classifyRun(run, options.now);
    machine.fileHostName = std::move(run.hostName);
    if (found.alone) {
        machine.host = machine.fileHostName.empty() ? found.place : machine.fileHostName;
    } else {
        machine.host = found.place;
        // What the file says of itself is evidence: a name that is not its place's is flagged,
        // and such a run never counts as a success.
        machine.identityMismatch =
            !machine.fileHostName.empty() && hostKey(machine.fileHostName) != hostKey(machine.host);
        if (machine.identityMismatch && machine.outcome == MachineOutcome::Succeeded)
            machine.outcome = MachineOutcome::Failed;
    }
    machine.path = path;
    machine.start = run.start;
    machine.end = run.end;
    machine.hasExitCode = run.hasExitCode;
    machine.exitCode = run.exitCode;
    machine.refusal = std::move(run.refusal);
    machine.stopRequest = std::move(run.stopRequest);
    machine.machineId = std::move(run.machineId);
    machine.configSha256 = std::move(run.configSha256);
    machine.programVersion = std::move(run.programVersion);
    machine.logPath = std::move(run.logPath);
    machine.setupTimeout = run.setupTimeout;
    const int64_t when = run.end != kNoTime ? run.end : run.start;
    machine.stale = options.staleAfterSeconds >= 0 && when != kNoTime &&
                    options.now - when > options.staleAfterSeconds;
    machine.products.reserve(run.products.size());
    bool onlyIgnoredOrNotFound = !run.products.empty();
    for (const ProductResult& p : run.products) {
        const size_t place = machine.products.size();
        machine.products.push_back({products.of(p.name, place), p.outcome, p.launch, p.hasExitCode,
                                    p.exitCode, p.leftoverProcesses});
        const std::string_view word = resultformat::kOutcomeWords[p.outcome];
        onlyIgnoredOrNotFound &= word == "ignored" || word == "notFound";
    }
    machine.nothingDone = machine.outcome == MachineOutcome::Succeeded && !run.anySetupProgram &&
                          onlyIgnoredOrNotFound;
    return machine;
}

// Keeps the later of two runs in `kept`, the other noted as an earlier run.
void keepLatest(Machine& kept, Machine&& other, bool renamed) {
    if (later(other, kept))
        std::swap(kept, other);
    for (std::string& older : other.olderRuns)
        kept.olderRuns.push_back(std::move(older));
    kept.olderRuns.push_back(std::move(other.path));
    for (std::string& name : other.renamedFrom)
        kept.renamedFrom.push_back(std::move(name));
    if (renamed && hostKey(other.host) != hostKey(kept.host))
        kept.renamedFrom.push_back(std::move(other.host));
}

bool failing(std::string_view word) {
    return word == "failed" || word == "killedOrRunning" || word == "stopped" ||
           word == "refused" || word == "unreadable";
}

FleetChanges changesSince(const Fleet& fleet,
                          const std::vector<std::pair<std::string, std::string>>& previous) {
    FleetChanges changes;
    changes.present = true;
    std::unordered_map<std::string, std::string> before;
    for (const auto& [host, word] : previous)
        before.emplace(hostKey(host), word);
    for (const auto& [host, now] : hostOutcomes(fleet)) {
        const auto it = before.find(hostKey(host));
        const std::string then = it == before.end() ? std::string() : it->second;
        if (now != "neverReported" && (then.empty() || then == "neverReported"))
            changes.newlyReported.push_back(host);
        else if (then == "succeeded" && failing(now))
            changes.newlyFailed.push_back(host);
        else if (failing(then) && now == "succeeded")
            changes.newlyFixed.push_back(host);
        else if (failing(then) && failing(now))
            changes.stillFailing.push_back(host);
    }
    return changes;
}

}  // namespace

Fleet collectFleet(const FleetOptions& options) {
    Fleet fleet;
    std::vector<Found> files;
    Collector collector(options, files, fleet.unreadable);
    for (const fs::path& input : options.inputs)
        collector.input(input);

    ProductIndex products{fleet.products, {}, {}};
    std::unordered_map<std::string, size_t> byHost;  // host key: index in machines
    FileReader reader;
    std::string_view bytes;
    std::string error;
    RunResult run;
    fleet.machines.reserve(files.size());
    for (const Found& found : files) {
        std::string path = nativePathText(found.path);
        Unreadable why = Unreadable::CannotRead;
        std::string detail;
        const InputFault fault = reader.read(found.path, bytes, error);
        if (fault != InputFault::None) {
            why = fault == InputFault::NotAFile   ? Unreadable::NotAFile
                  : fault == InputFault::LinkLoop ? Unreadable::LinkLoop
                                                  : Unreadable::CannotRead;
            fleet.unreadable.push_back({std::move(path), found.place, why, validUtf8(error)});
            continue;
        }
        if (!parseResultFile(bytes, run, why, detail)) {
            if (why == Unreadable::NotResultsFile)
                fleet.others.push_back({std::move(path)});
            else
                fleet.unreadable.push_back({std::move(path), found.place, why, std::move(detail)});
            continue;
        }
        Machine machine = machineOf(run, found, path, options, products);
        const auto [it, added] = byHost.emplace(hostKey(machine.host), fleet.machines.size());
        if (added) {
            fleet.machines.push_back(std::move(machine));
            continue;
        }
        // The same place twice: its latest run counts, the others are noted beside it.
        ++fleet.olderRuns;
        keepLatest(fleet.machines[it->second], std::move(machine), false);
    }

    // A renamed machine (one machineId under two names, each file agreeing with its place)
    // counts once, with its latest run. A file that does not speak for its place merges
    // with nothing.
    std::unordered_map<std::string, size_t> byId;
    size_t kept = 0;  // compacted in place: no second copy of the machines
    for (size_t i = 0; i < fleet.machines.size(); ++i) {
        Machine& m = fleet.machines[i];
        if (!m.machineId.empty() && !m.identityMismatch) {
            const auto [it, added] = byId.emplace(m.machineId, kept);
            if (!added) {
                ++fleet.olderRuns;
                keepLatest(fleet.machines[it->second], std::move(m), true);
                continue;
            }
        }
        if (kept != i)
            fleet.machines[kept] = std::move(m);
        ++kept;
    }
    fleet.machines.erase(fleet.machines.begin() + static_cast<std::ptrdiff_t>(kept),
                         fleet.machines.end());

    // The inventory: each host once, whatever its spellings; the hosts outside it apart.
    std::unordered_set<std::string> reported;
    for (const Machine& m : fleet.machines) {
        reported.insert(hostKey(m.host));
        for (const std::string& name : m.renamedFrom)
            reported.insert(hostKey(name));
    }
    std::unordered_set<std::string> unreadablePlaces;
    for (const UnreadableFile& u : fleet.unreadable) {
        if (!u.host.empty() && reported.count(hostKey(u.host)) == 0)
            unreadablePlaces.insert(hostKey(u.host));
    }
    std::vector<std::string> expectedOrder;  // first spelling of each host, inventory order
    std::unordered_set<std::string> expected;
    for (const std::string& host : options.inventory) {
        if (expected.insert(hostKey(host)).second)
            expectedOrder.push_back(host);
    }
    if (!options.inventory.empty()) {
        size_t listed = 0;
        for (size_t i = 0; i < fleet.machines.size(); ++i) {
            Machine& m = fleet.machines[i];
            bool inInventory = expected.count(hostKey(m.host)) != 0;
            for (const std::string& name : m.renamedFrom)
                inInventory |= expected.count(hostKey(name)) != 0;
            if (!inInventory) {
                fleet.notInInventory.push_back(m.host);
                fleet.outsideInventory.push_back(std::move(m));
            } else if (listed++ != i) {
                fleet.machines[listed - 1] = std::move(m);
            }
        }
        fleet.machines.erase(fleet.machines.begin() + static_cast<std::ptrdiff_t>(listed),
                             fleet.machines.end());
        std::sort(fleet.notInInventory.begin(), fleet.notInInventory.end());
        for (const std::string& host : expectedOrder) {
            const std::string key = hostKey(host);
            if (reported.count(key) == 0 && unreadablePlaces.count(key) == 0)
                fleet.neverReported.push_back(host);
        }
    }
    sortMachines(fleet.machines);

    // What to run again: every expected host that did not succeed (a dry run aside), as the
    // inventory spells it; without an inventory, every host seen.
    std::unordered_map<std::string, MachineOutcome> outcomeOf;
    for (const Machine& m : fleet.machines) {
        outcomeOf.emplace(hostKey(m.host), m.outcome);
        for (const std::string& name : m.renamedFrom)
            outcomeOf.emplace(hostKey(name), m.outcome);
    }
    auto again = [&outcomeOf](const std::string& host) {
        const auto it = outcomeOf.find(hostKey(host));
        return it == outcomeOf.end() ||
               (it->second != MachineOutcome::Succeeded && it->second != MachineOutcome::DryRun);
    };
    if (!options.inventory.empty()) {
        for (const std::string& host : expectedOrder) {
            if (again(host))
                fleet.rerun.push_back(host);
        }
    } else {
        std::set<std::string> hosts;
        for (const Machine& m : fleet.machines) {
            if (again(m.host))
                hosts.insert(m.host);
        }
        for (const UnreadableFile& u : fleet.unreadable) {
            if (!u.host.empty() && again(u.host))
                hosts.insert(u.host);
        }
        fleet.rerun.assign(hosts.begin(), hosts.end());
    }
    if (options.hasPrevious)
        fleet.changes = changesSince(fleet, options.previous);
    return fleet;
}

std::vector<std::pair<std::string, std::string>> hostOutcomes(const Fleet& fleet) {
    std::vector<std::pair<std::string, std::string>> hosts;
    std::unordered_set<std::string> seen;
    for (const auto* list : {&fleet.machines, &fleet.outsideInventory}) {
        for (const Machine& m : *list) {
            if (seen.insert(hostKey(m.host)).second)
                hosts.push_back({m.host, kMachineOutcomeWords[static_cast<size_t>(m.outcome)]});
            for (const std::string& name : m.renamedFrom)
                seen.insert(hostKey(name));
        }
    }
    for (const UnreadableFile& u : fleet.unreadable) {
        if (!u.host.empty() && seen.insert(hostKey(u.host)).second)
            hosts.push_back({u.host, "unreadable"});
    }
    for (const std::string& host : fleet.neverReported) {
        if (seen.insert(hostKey(host)).second)
            hosts.push_back({host, "neverReported"});
    }
    std::sort(hosts.begin(), hosts.end());
    return hosts;
}

bool readPreviousSummary(const fs::path& file,
                         std::vector<std::pair<std::string, std::string>>& hosts,
                         std::string& error) {
    constexpr size_t kLimit = 256u << 20;
    std::unique_ptr<char[]> buffer(new char[kLimit + 1]);
    size_t size = 0;
    if (readInputFile(file.c_str(), buffer.get(), kLimit + 1, size, error) != InputFault::None)
        return false;
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag>(buffer.get(),
                                                                                      size);
    if (size > kLimit || doc.HasParseError() || !doc.IsObject()) {
        error = "not a summary of VelkaroReport";
        return false;
    }
    const auto it = doc.FindMember("hosts");
    if (it == doc.MemberEnd() || !it->value.IsObject()) {
        error = "the summary has no hosts (written by an older report?)";
        return false;
    }
    for (const auto& m : it->value.GetObject()) {
        if (!m.value.IsString()) {
            error = "a host's outcome is not a word";
            return false;
        }
        hosts.push_back({validUtf8({m.name.GetString(), m.name.GetStringLength()}),
                         std::string(m.value.GetString(), m.value.GetStringLength())});
    }
    return true;
}

}  // namespace velkaro::report
