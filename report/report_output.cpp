#include "report/report_output.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <iterator>
#include <map>

#include "app/result_format.h"
#include "report/report_page.h"

namespace velkaro::report {

namespace {

namespace field = resultformat;
constexpr size_t kOutcomeCount = std::size(kMachineOutcomeWords);

// A launch result's word; empty when nothing was started.
const char* launchWord(uint8_t launch) {
    return launch < field::kLaunchResultWords.size() ? field::kLaunchResultWords[launch]
           : launch == kLaunchUnknown                ? field::kUnknownLaunchResult
                                                     : "";
}

struct Counts {
    size_t byOutcome[kOutcomeCount] = {};
    std::map<std::string, size_t> refusedBy;
    std::map<std::string, size_t> unreadableBy;
    std::map<std::string, size_t> programVersions, configurations;
    size_t stale = 0, identityMismatch = 0;
    int64_t firstStart = kNoTime, lastEnd = kNoTime;

    explicit Counts(const Fleet& fleet) {
        for (const Machine& m : fleet.machines) {
            ++byOutcome[static_cast<size_t>(m.outcome)];
            if (m.outcome == MachineOutcome::Refused)
                ++refusedBy[m.refusal];
            stale += m.stale;
            identityMismatch += m.identityMismatch;
            ++programVersions[m.programVersion];
            ++configurations[m.configSha256];
            if (m.start != kNoTime && (firstStart == kNoTime || m.start < firstStart))
                firstStart = m.start;
            const int64_t end = m.end != kNoTime ? m.end : m.start;
            if (end != kNoTime && (lastEnd == kNoTime || end > lastEnd))
                lastEnd = end;
        }
        for (const UnreadableFile& u : fleet.unreadable)
            ++unreadableBy[kUnreadableWords[static_cast<size_t>(u.why)]];
    }
};

template <typename Writer>
void text(Writer& w, const std::string& value) {
    w.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

template <typename Writer>
void textList(Writer& w, const std::vector<std::string>& values) {
    w.StartArray();
    for (const std::string& value : values)
        text(w, value);
    w.EndArray();
}

template <typename Writer>
void timeOrNull(Writer& w, int64_t seconds) {
    if (seconds == kNoTime)
        w.Null();
    else
        text(w, formatUtcTime(seconds));
}

template <typename Writer>
void countMap(Writer& w, const char* name, const std::map<std::string, size_t>& counts) {
    w.Key(name);
    w.StartObject();
    for (const auto& [key, n] : counts) {
        text(w, key);
        w.Uint64(n);
    }
    w.EndObject();
}

template <typename Writer>
void summaryMembers(Writer& w, const Fleet& fleet, const FleetOptions& options) {
    const Counts counts(fleet);
    w.Key("generated");
    timeOrNull(w, options.now);
    w.Key("machines");
    w.Uint64(fleet.machines.size());
    for (size_t i = 0; i < kOutcomeCount; ++i) {
        w.Key(kMachineOutcomeWords[i]);
        w.Uint64(counts.byOutcome[i]);
    }
    countMap(w, "refusedBy", counts.refusedBy);
    w.Key("neverReported");
    w.Uint64(fleet.neverReported.size());
    w.Key("unreadable");
    w.Uint64(fleet.unreadable.size());
    countMap(w, "unreadableBy", counts.unreadableBy);
    w.Key("stale");
    w.Uint64(counts.stale);
    w.Key("olderRuns");
    w.Uint64(fleet.olderRuns);
    w.Key("firstStart");
    timeOrNull(w, counts.firstStart);
    w.Key("lastEnd");
    timeOrNull(w, counts.lastEnd);
    w.Key("allSucceeded");
    w.Bool(everyMachineSucceeded(fleet));
    w.Key("identityMismatch");
    w.Uint64(counts.identityMismatch);
    w.Key("notInInventory");
    w.Uint64(fleet.notInInventory.size());
    w.Key("others");
    w.Uint64(fleet.others.size());
    // Keyed by the text the files give; "" for files that name none.
    countMap(w, "programVersions", counts.programVersions);
    countMap(w, "configurations", counts.configurations);
}

// What only the summary holds (the page shows the same from its own data): the lists by name,
// every host's outcome and the changes since an earlier summary.
template <typename Writer>
void summaryLists(Writer& w, const Fleet& fleet) {
    w.Key("unreadableFiles");
    w.StartArray();
    for (const UnreadableFile& u : fleet.unreadable) {
        w.StartObject();
        w.Key("path");
        text(w, u.path);
        w.Key("host");
        if (u.host.empty())
            w.Null();
        else
            text(w, u.host);
        w.Key("reason");
        w.String(kUnreadableWords[static_cast<size_t>(u.why)]);
        w.Key("detail");
        text(w, validUtf8(u.detail));
        w.EndObject();
    }
    w.EndArray();
    w.Key("otherFiles");
    w.StartArray();
    for (const OtherFile& o : fleet.others)
        text(w, o.path);
    w.EndArray();
    w.Key("notInInventoryHosts");
    textList(w, fleet.notInInventory);
    w.Key("neverReportedHosts");
    textList(w, fleet.neverReported);
    w.Key("rerun");
    textList(w, fleet.rerun);
    w.Key("renamed");
    w.StartObject();
    for (const auto* list : {&fleet.machines, &fleet.outsideInventory}) {
        for (const Machine& m : *list) {
            if (m.renamedFrom.empty())
                continue;
            text(w, m.host);
            textList(w, m.renamedFrom);
        }
    }
    w.EndObject();
    w.Key("hosts");
    w.StartObject();
    for (const auto& [host, word] : hostOutcomes(fleet)) {
        text(w, host);
        text(w, word);
    }
    w.EndObject();
    if (fleet.changes.present) {
        const FleetChanges& c = fleet.changes;
        const std::pair<const char*, const std::vector<std::string>*> lists[] = {
            {"newlyFailed", &c.newlyFailed},
            {"newlyFixed", &c.newlyFixed},
            {"stillFailing", &c.stillFailing},
            {"newlyReported", &c.newlyReported}};
        w.Key("changes");
        w.StartObject();
        for (const auto& [name, hosts] : lists) {
            w.Key(name);
            textList(w, *hosts);
        }
        w.Key("counts");
        w.StartObject();
        for (const auto& [name, hosts] : lists) {
            w.Key(name);
            w.Uint64(hosts->size());
        }
        w.EndObject();
        w.EndObject();
    }
}

// Per product: its outcome counts, and what its failures answered, most common first.
template <typename Writer>
void productData(Writer& w, const Fleet& fleet) {
    struct Tally {
        size_t outcomes[field::kOutcomeWords.size()] = {};
        std::map<int32_t, size_t> exitCodes;
        std::map<uint8_t, size_t> launches;
    };
    std::vector<Tally> tallies(fleet.products.size());
    const auto failed = static_cast<uint8_t>(2);
    static_assert(std::string_view(field::kOutcomeWords[2]) == "failed");
    for (const Machine& m : fleet.machines) {
        for (const ProductRun& p : m.products) {
            Tally& t = tallies[p.product];
            ++t.outcomes[p.outcome];
            if (p.outcome != failed)
                continue;
            if (p.hasExitCode)
                ++t.exitCodes[p.exitCode];
            ++t.launches[p.launch];
        }
    }
    auto mostCommon = [&w](const auto& counts, auto writeKey) {
        std::vector<std::pair<size_t, typename std::decay_t<decltype(counts)>::key_type>> order;
        for (const auto& [key, n] : counts)
            order.push_back({n, key});
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        w.StartArray();
        for (size_t i = 0; i < order.size() && i < 5; ++i) {
            w.StartArray();
            writeKey(order[i].second);
            w.Uint64(order[i].first);
            w.EndArray();
        }
        w.EndArray();
    };
    w.StartArray();
    for (size_t i = 0; i < fleet.products.size(); ++i) {
        const ProductName& name = fleet.products[i];
        w.StartArray();
        for (const std::string* part : {&name.family, &name.sapCode, &name.version, &name.platform})
            text(w, *part);
        for (size_t o : tallies[i].outcomes)
            w.Uint64(o);
        mostCommon(tallies[i].exitCodes, [&w](int32_t code) { w.Int(code); });
        mostCommon(tallies[i].launches, [&w](uint8_t launch) {
            w.String(*launchWord(launch) != '\0' ? launchWord(launch) : "none");
        });
        w.EndArray();
    }
    w.EndArray();
}

// Distinct texts (program versions, configuration digests) in order, each row naming its own by
// index: 100,000 machines mostly share one or two.
class TextIndex {
public:
    template <typename Get>
    TextIndex(const Fleet& fleet, Get get) {
        for (const Machine& m : fleet.machines)
            index_.emplace(get(m), 0);
        for (auto& [value, i] : index_) {
            i = texts_.size();
            texts_.push_back(&value);
        }
    }
    size_t of(const std::string& value) const { return index_.at(value); }
    template <typename Writer>
    void write(Writer& w) const {
        w.StartArray();
        for (const std::string* value : texts_)
            text(w, *value);
        w.EndArray();
    }

private:
    std::map<std::string, size_t> index_;
    std::vector<const std::string*> texts_;
};

// The folder every machine's results file lies in (ends with a separator; may be empty): the rows
// hold their paths without it, a third of a large page's bytes.
std::string commonFolder(const Fleet& fleet) {
    if (fleet.machines.empty())
        return {};
    std::string_view common = fleet.machines.front().path;
    for (const Machine& m : fleet.machines) {
        const auto differ =
            std::mismatch(common.begin(), common.end(), m.path.begin(), m.path.end());
        common = common.substr(0, static_cast<size_t>(differ.first - common.begin()));
    }
    // Cut at a separator, never inside a character.
    const size_t folder = common.find_last_of("/\\");
    return std::string(folder == std::string_view::npos ? std::string_view()
                                                        : common.substr(0, folder + 1));
}

// Machines as compact rows: [host, outcome, refusal, stopRequest, start, end, exitCode, path
// (after the common folder), stale, olderRuns, products, then the tail: version, configuration,
// logPath, machineId, setupTimeout, fileHostName, identityMismatch, renamedFrom, nothingDone].
// Products flat as product, outcome, exitCode or null, launch, leftover processes; version and
// configuration index the page's lists. The tail ends at its last value that is not the default
// (0, "", null, [], 0), and fileHostName is "" where it is the host itself: 100,000 rows open
// faster.
template <typename Writer>
void machineData(Writer& w, const Fleet& fleet, const TextIndex& versions, const TextIndex& configs,
                 size_t folder) {
    w.StartArray();
    for (const Machine& m : fleet.machines) {
        w.StartArray();
        text(w, m.host);
        w.Uint(static_cast<unsigned>(m.outcome));
        text(w, m.refusal);
        text(w, m.stopRequest);
        m.start == kNoTime ? w.Null() : w.Int64(m.start);
        m.end == kNoTime ? w.Null() : w.Int64(m.end);
        m.hasExitCode ? w.Int(m.exitCode) : w.Null();
        w.String(m.path.data() + folder, static_cast<rapidjson::SizeType>(m.path.size() - folder));
        w.Bool(m.stale);
        textList(w, m.olderRuns);
        w.StartArray();
        for (const ProductRun& p : m.products) {
            w.Uint(p.product);
            w.Uint(p.outcome);
            p.hasExitCode ? w.Int(p.exitCode) : w.Null();
            w.Uint(p.launch);
            w.Uint(p.leftoverProcesses);
        }
        w.EndArray();
        const size_t version = versions.of(m.programVersion), config = configs.of(m.configSha256);
        const std::string& fileHost = m.fileHostName == m.host ? std::string() : m.fileHostName;
        const bool given[] = {
            version != 0,        config != 0,       !m.logPath.empty(), !m.machineId.empty(),
            m.setupTimeout >= 0, !fileHost.empty(), m.identityMismatch, !m.renamedFrom.empty(),
            m.nothingDone};
        const auto last = std::find(std::rbegin(given), std::rend(given), true);
        const size_t tail = static_cast<size_t>(std::rend(given) - last);
        for (size_t i = 0; i < tail; ++i) {
            switch (i) {
                case 0:
                    w.Uint64(version);
                    break;
                case 1:
                    w.Uint64(config);
                    break;
                case 2:
                    text(w, m.logPath);
                    break;
                case 3:
                    text(w, m.machineId);
                    break;
                case 4:
                    m.setupTimeout < 0 ? w.Null() : w.Int64(m.setupTimeout);
                    break;
                case 5:
                    text(w, fileHost);
                    break;
                case 6:
                    w.Uint(m.identityMismatch ? 1 : 0);
                    break;
                case 7:
                    textList(w, m.renamedFrom);
                    break;
                default:
                    w.Uint(m.nothingDone ? 1 : 0);
                    break;
            }
        }
        w.EndArray();
    }
    w.EndArray();
}

constexpr std::string_view kFormulaStarts = "=+-@\t\r";
constexpr std::string_view kCellBreaks = ",;\t\r\n";

// A text as a CSV cell that no spreadsheet takes for a formula, whichever of comma, semicolon
// or tab it splits on: a formula character that starts the text, or starts a part after one of
// those separators, gets a "'" before it. Line breaks become spaces, so a text never splits a
// row, and a cell with a separator or quote is quoted.
void csvField(std::string& out, std::string_view value, bool isText = true) {
    std::string v;
    v.reserve(value.size());
    bool partStart = true;
    for (char c : value) {
        if (isText && partStart && kFormulaStarts.find(c) != std::string_view::npos)
            v += '\'';
        partStart = kCellBreaks.find(c) != std::string_view::npos;
        v += c == '\r' || c == '\n' ? ' ' : c;
    }
    if (v.find_first_of(",;\t\"") != std::string::npos) {
        std::string quoted = "\"";
        for (char c : v) {
            quoted += c;
            if (c == '"')
                quoted += '"';
        }
        v = quoted + "\"";
    }
    out += v;
}

}  // namespace

bool everyMachineSucceeded(const Fleet& fleet) {
    return fleet.neverReported.empty() && fleet.unreadable.empty() &&
           std::all_of(fleet.machines.begin(), fleet.machines.end(),
                       [](const Machine& m) { return m.outcome == MachineOutcome::Succeeded; });
}

std::string summaryDocument(const Fleet& fleet, const FleetOptions& options) {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buffer);
    w.SetIndent(' ', 2);
    w.StartObject();
    summaryMembers(w, fleet, options);
    summaryLists(w, fleet);
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

namespace {

// Copies the text between the characters it escapes in runs.
void appendScriptSafe(std::string& out, std::string_view json) {
    size_t from = 0;
    for (size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        const char* escape = nullptr;
        size_t length = 1;
        if (c == '<') {
            escape = "\\u003c";
        } else if (c == '>') {
            escape = "\\u003e";
        } else if (c == '&') {
            escape = "\\u0026";
        } else if (c == '\xE2' && i + 2 < json.size() && json[i + 1] == '\x80' &&
                   (json[i + 2] == '\xA8' || json[i + 2] == '\xA9')) {
            escape = json[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            length = 3;
        } else {
            continue;
        }
        out.append(json.data() + from, i - from);
        out += escape;
        i += length - 1;
        from = i + 1;
    }
    out.append(json.data() + from, json.size() - from);
}

}  // namespace

std::string scriptSafeJson(const std::string& json) {
    std::string out;
    out.reserve(json.size());
    appendScriptSafe(out, json);
    return out;
}

void writeReportPage(const Fleet& fleet, const FleetOptions& options, std::ostream& out) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("summary");
    w.StartObject();
    summaryMembers(w, fleet, options);
    w.EndObject();
    w.Key("staleAfterDays");
    options.staleAfterSeconds < 0 ? w.Null() : w.Int64(options.staleAfterSeconds / 86400);
    w.Key("outcomes");
    w.StartArray();
    for (const char* word : field::kOutcomeWords)
        w.String(word);
    w.EndArray();
    w.Key("launches");
    w.StartArray();
    for (const char* word : field::kLaunchResultWords)
        w.String(word);
    w.String(field::kUnknownLaunchResult);
    w.EndArray();
    w.Key("products");
    productData(w, fleet);
    const TextIndex versions(fleet, [](const Machine& m) { return m.programVersion; });
    const TextIndex configs(fleet, [](const Machine& m) { return m.configSha256; });
    w.Key("versions");
    versions.write(w);
    w.Key("configs");
    configs.write(w);
    const std::string folder = commonFolder(fleet);
    w.Key("folder");
    text(w, folder);
    w.Key("machines");
    machineData(w, fleet, versions, configs, folder.size());
    w.Key("neverReported");
    textList(w, fleet.neverReported);
    w.Key("notInInventory");
    textList(w, fleet.notInInventory);
    w.Key("rerun");
    textList(w, fleet.rerun);
    w.Key("others");
    w.StartArray();
    for (const OtherFile& other : fleet.others)
        text(w, other.path);
    w.EndArray();
    w.Key("changes");
    if (fleet.changes.present) {
        const FleetChanges& c = fleet.changes;
        w.StartObject();
        for (const auto& [name, hosts] : {std::pair{"newlyFailed", &c.newlyFailed},
                                          {"newlyFixed", &c.newlyFixed},
                                          {"stillFailing", &c.stillFailing},
                                          {"newlyReported", &c.newlyReported}}) {
            w.Key(name);
            textList(w, *hosts);
        }
        w.EndObject();
    } else {
        w.Null();
    }
    w.Key("unreadable");
    w.StartArray();
    for (const UnreadableFile& u : fleet.unreadable) {
        w.StartArray();
        text(w, u.path);
        w.String(kUnreadableWords[static_cast<size_t>(u.why)]);
        text(w, validUtf8(u.detail));
        w.EndArray();
    }
    w.EndArray();
    w.EndObject();

    std::string page;
    for (const char* chunk : kReportPageChunks)
        page += chunk;
    static constexpr std::string_view kMarker = "{{FLEET_DATA}}";
    const size_t at = page.find(kMarker);
    out.write(page.data(), static_cast<std::streamsize>(at));
    const std::string_view data(buffer.GetString(), buffer.GetSize());
    std::string piece;
    for (size_t from = 0; from < data.size();) {
        // Pieces end before a byte that continues a character, so U+2028 is never split.
        size_t to = std::min(data.size(), from + 65536);
        while (to < data.size() && (static_cast<unsigned char>(data[to]) & 0xC0) == 0x80)
            ++to;
        piece.clear();
        appendScriptSafe(piece, data.substr(from, to - from));
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        from = to;
    }
    out.write(page.data() + at + kMarker.size(),
              static_cast<std::streamsize>(page.size() - at - kMarker.size()));
}

std::string rerunDocument(const Fleet& fleet) {
    std::string out;
    for (const std::string& host : fleet.rerun) {
        // A name with a line break would run another host: written escaped, it matches none.
        for (char c : host) {
            if (c == '\r' || c == '\n')
                out += c == '\r' ? "\\r" : "\\n";
            else
                out += c;
        }
        out += '\n';
    }
    return out;
}

std::string csvDocument(const Fleet& fleet) {
    std::string out =
        "host,outcome,refusal,stopRequest,exitCode,startTime,endTime,stale,family,SapCode,"
        "Version,Platform,productOutcome,productExitCode,launchResult,resultsFile,"
        "identityMismatch,fileHostName,programVersion,configSha256,notInInventory,reason\r\n";
    auto machineFields = [&out](const Machine& m) {
        csvField(out, m.host);
        out += ',';
        out += kMachineOutcomeWords[static_cast<size_t>(m.outcome)];
        out += ',';
        csvField(out, m.refusal);
        out += ',';
        csvField(out, m.stopRequest);
        out += ',' + (m.hasExitCode ? std::to_string(m.exitCode) : std::string()) + ',' +
               formatUtcTime(m.start) + ',' + formatUtcTime(m.end) + ',' +
               (m.stale ? "yes" : "no") + ',';
    };
    auto machineEnd = [&out](const Machine& m, bool outside) {
        csvField(out, m.path);
        out += m.identityMismatch ? ",yes," : ",no,";
        csvField(out, m.fileHostName);
        out += ',';
        csvField(out, m.programVersion);
        out += ',';
        csvField(out, m.configSha256);
        out += outside ? ",yes," : ",no,";
        out += "\r\n";
    };
    for (const auto* list : {&fleet.machines, &fleet.outsideInventory}) {
        const bool outside = list == &fleet.outsideInventory;
        for (const Machine& m : *list) {
            if (m.products.empty()) {
                machineFields(m);
                out += ",,,,,,,";
                machineEnd(m, outside);
            }
            for (const ProductRun& p : m.products) {
                machineFields(m);
                const ProductName& name = fleet.products[p.product];
                for (const std::string* part :
                     {&name.family, &name.sapCode, &name.version, &name.platform}) {
                    csvField(out, *part);
                    out += ',';
                }
                out += field::kOutcomeWords[p.outcome];
                out += ',' + (p.hasExitCode ? std::to_string(p.exitCode) : std::string()) + ',';
                out += launchWord(p.launch);
                out += ',';
                machineEnd(m, outside);
            }
        }
    }
    // Every file that could not be read has its row, with its place's name where it has one.
    for (const UnreadableFile& u : fleet.unreadable) {
        csvField(out, u.host);
        out += ",unreadable,,,,,,,,,,,,,,";
        csvField(out, u.path);
        out += ",,,,,,";
        csvField(out, std::string(kUnreadableWords[static_cast<size_t>(u.why)]) + ": " +
                          validUtf8(u.detail));
        out += "\r\n";
    }
    for (const std::string& host : fleet.neverReported) {
        csvField(out, host);
        out += ",neverReported,,,,,,,,,,,,,,,,,,,,\r\n";
    }
    return out;
}

}  // namespace velkaro::report
