#include "report/result_reader.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <algorithm>
#include <cstring>

#include "app/result_format.h"

namespace velkaro::report {

namespace {

namespace field = resultformat;
using Value = rapidjson::Value;

// Iterative: a file of nested brackets cannot exhaust the stack. Encoding checked: every text
// the page shows is UTF-8.
constexpr unsigned kParseFlags =
    rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag;

// Reports what is wrong with the structure, naming the field.
struct Fault {
    std::string& detail;
    bool fail(const std::string& what) {
        detail = what;
        return false;
    }
};

// The member names the reader knows. Each object's members are sorted into these slots in one
// pass, and the check for a name given twice settles known names with a bit each.
enum Name : uint8_t {
    FormatVersion,
    Program,
    ProgramVersion,
    State,
    ProcessId,
    StartTime,
    EndTime,
    HostName,
    MachineId,
    ConfigSha256,
    ConfigPath,
    LogPath,
    SetupTimeout,
    ExitCode,
    Refusal,
    StopRequest,
    SetupProgramsLocated,
    SetupPrograms,
    Products,
    DryRun,
    Findings,
    FamilyVelt,
    FamilyQx,
    Family,
    SapCode,
    VersionField,
    Platform,
    BaseVersion,
    Outcome,
    LaunchResult,
    TimedOut,
    Seconds,
    CommandLine,
    LeftoverProcesses,
    kNameCount
};
constexpr const char* kNames[kNameCount] = {field::kFormatVersion,
                                            field::kProgram,
                                            field::kProgramVersion,
                                            field::kState,
                                            field::kProcessId,
                                            field::kStartTime,
                                            field::kEndTime,
                                            field::kHostName,
                                            field::kMachineId,
                                            field::kConfigSha256,
                                            field::kConfigPath,
                                            field::kLogPath,
                                            field::kSetupTimeout,
                                            field::kExitCode,
                                            field::kRefusal,
                                            field::kStopRequest,
                                            field::kSetupProgramsLocated,
                                            field::kSetupPrograms,
                                            field::kProducts,
                                            field::kDryRun,
                                            field::kFindings,
                                            field::kFamilyVelt,
                                            field::kFamilyQx,
                                            field::kFamily,
                                            field::kSapCode,
                                            field::kVersionField,
                                            field::kPlatform,
                                            field::kBaseVersion,
                                            field::kOutcome,
                                            field::kLaunchResult,
                                            field::kTimedOut,
                                            field::kSeconds,
                                            field::kCommandLine,
                                            field::kLeftoverProcesses};
static_assert(kNameCount <= 64, "one bit per known name");

std::string_view textOf(const Value& text) {
    return std::string_view(text.GetString(), text.GetStringLength());
}

// The known names in a small open-addressed table: a name is found, or known not to be one,
// in a probe or two, without calling out to compare.
class KnownNames {
public:
    KnownNames() {
        std::fill(std::begin(slots_), std::end(slots_), kEmpty);
        for (uint8_t i = 0; i < kNameCount; ++i) {
            lengths_[i] = static_cast<uint8_t>(std::strlen(kNames[i]));
            size_t h = hash(kNames[i]);
            while (slots_[h] != kEmpty)
                h = (h + 1) % kSlots;
            slots_[h] = i;
        }
    }

    /// The known name's index, or -1.
    int find(std::string_view name) const {
        for (size_t h = hash(name);; h = (h + 1) % kSlots) {
            const uint8_t i = slots_[h];
            if (i == kEmpty)
                return -1;
            if (lengths_[i] == name.size() && same(kNames[i], name))
                return i;
        }
    }

private:
    static constexpr size_t kSlots = 128;  // at most half full: probes stay short
    static constexpr uint8_t kEmpty = 0xFF;
    static_assert(kNameCount <= kSlots / 2, "the table stays at most half full");

    static size_t hash(std::string_view name) {
        if (name.empty())
            return 0;
        auto at = [&name](size_t i) { return static_cast<unsigned char>(name[i]); };
        return (name.size() * 31 + at(0) * 7 + at(name.size() / 2) * 3 + at(name.size() - 1)) %
               kSlots;
    }
    // Equal lengths given; eight bytes at a time, the last eight overlapping.
    static bool same(const char* known, std::string_view name) {
        const size_t size = name.size();
        if (size < 8) {
            for (size_t i = 0; i < size; ++i) {
                if (known[i] != name[i])
                    return false;
            }
            return true;
        }
        auto word = [](const char* at) {
            uint64_t w;
            std::memcpy(&w, at, sizeof(w));
            return w;
        };
        for (size_t i = 0; i + 8 < size; i += 8) {
            if (word(known + i) != word(name.data() + i))
                return false;
        }
        return word(known + size - 8) == word(name.data() + size - 8);
    }

    uint8_t slots_[kSlots];
    uint8_t lengths_[kNameCount];
};

const KnownNames kKnownNames;

int knownName(std::string_view name) {
    return kKnownNames.find(name);
}

// An object's known members by name; the first of a name given twice, as a look-up would find.
struct Members {
    const Value* at[kNameCount] = {};

    Members() = default;
    explicit Members(const Value& object) {
        for (const auto& m : object.GetObject()) {
            const int i = knownName(textOf(m.name));
            if (i >= 0 && at[i] == nullptr)
                at[i] = &m.value;
        }
    }
    const Value* operator[](Name name) const { return at[name]; }
};

// A text or null (absent counts as null): false only for another type.
bool optionalText(const Value* v, std::string& out) {
    if (v == nullptr || v->IsNull()) {
        out.clear();
        return true;
    }
    if (!v->IsString())
        return false;
    out.assign(v->GetString(), v->GetStringLength());
    return true;
}

int wordIndex(const Value& v, const char* const* words, size_t count) {
    if (!v.IsString())
        return -1;
    for (size_t i = 0; i < count; ++i) {
        if (std::strlen(words[i]) == v.GetStringLength() &&
            std::memcmp(words[i], v.GetString(), v.GetStringLength()) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

bool optionalTime(const Members& object, Name name, int64_t& out, Fault& fault) {
    const Value* v = object[name];
    if (v != nullptr && !v->IsNull() && !v->IsString())
        return fault.fail(std::string(kNames[name]) + " is not a text");
    out = kNoTime;
    // The writer leaves a time empty when the clock cannot be read.
    const std::string_view text = v != nullptr && v->IsString() ? textOf(*v) : std::string_view();
    if (!text.empty() && !parseUtcTime(text, out))
        return fault.fail(std::string(kNames[name]) + " is not a UTC time");
    return true;
}

// A running file lists every product from the start; one not handled yet counts as not
// attempted (so far).
constexpr uint8_t kNotAttempted = 4;
static_assert(std::string_view(field::kOutcomeWords[kNotAttempted]) == "notAttempted");

bool readProduct(const Value& v, size_t index, bool running, ProductResult& product, Fault& fault) {
    auto where = [index] { return "products[" + std::to_string(index) + "]"; };
    if (!v.IsObject())
        return fault.fail(where() + " is not an object");
    const Members members(v);
    ProductName& name = product.name;
    if (!optionalText(members[Family], name.family) ||
        !optionalText(members[SapCode], name.sapCode) ||
        !optionalText(members[VersionField], name.version) ||
        !optionalText(members[Platform], name.platform))
        return fault.fail(where() + ": a product field is not a text");
    const Value* outcome = members[Outcome];
    const int o = outcome == nullptr ? -1
                                     : wordIndex(*outcome, field::kOutcomeWords.data(),
                                                 field::kOutcomeWords.size());
    const bool pending = o < 0 && running && outcome != nullptr && outcome->IsString() &&
                         textOf(*outcome) == field::kOutcomePending;
    if (o < 0 && !pending)
        return fault.fail(where() + ": no known outcome");
    product.outcome = pending ? kNotAttempted : static_cast<uint8_t>(o);
    const Value* code = members[ExitCode];
    if (code != nullptr && !code->IsNull()) {
        if (!code->IsInt())
            return fault.fail(where() + ": exitCode is not a 32-bit integer");
        product.hasExitCode = true;
        product.exitCode = code->GetInt();
    }
    const Value* launch = members[LaunchResult];
    if (launch != nullptr && !launch->IsNull()) {
        const int l =
            wordIndex(*launch, field::kLaunchResultWords.data(), field::kLaunchResultWords.size());
        if (!launch->IsString())
            return fault.fail(where() + ": launchResult is not a text");
        product.launch = l < 0 ? kLaunchUnknown : static_cast<uint8_t>(l);
    }
    const Value* leftover = members[LeftoverProcesses];
    if (leftover != nullptr && !leftover->IsNull()) {
        if (!leftover->IsUint())
            return fault.fail(where() + ": leftoverProcesses is not a count");
        product.leftoverProcesses = leftover->GetUint();
    }
    return true;
}

bool isProgram(const Members& root) {
    const Value* program = root[Program];
    return program != nullptr && program->IsString() && textOf(*program) == "Velkaro";
}

bool validText(const char* text, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return validUtf8(std::string_view(text + i, size - i)) ==
                   std::string_view(text + i, size - i);
    }
    return true;
}

// True when the text holds an escape of a low surrogate ("\\udc00" to "\\udfff"): the parser
// checks the bytes and pairs a high surrogate, but lets such an escape through alone.
bool mayHoldLoneSurrogate(std::string_view bytes) {
    for (size_t at = bytes.find("\\u"); at != std::string_view::npos;
         at = bytes.find("\\u", at + 2)) {
        if (at + 3 < bytes.size() && (bytes[at + 2] | 0x20) == 'd' &&
            std::string_view("cdefCDEF").find(bytes[at + 3]) != std::string_view::npos)
            return true;
    }
    return false;
}

// The first name, in sorted order, that the object gives twice; empty when none is.
std::string_view nameGivenTwice(const Value& object, std::vector<std::string_view>& names) {
    names.clear();
    for (const auto& m : object.GetObject())
        names.push_back(textOf(m.name));
    std::sort(names.begin(), names.end());
    const auto twice = std::adjacent_find(names.begin(), names.end());
    return twice == names.end() ? std::string_view() : *twice;
}

// No member named twice in one object (readers disagree on which one counts) and, when
// `checkTexts`, every text valid UTF-8.
bool wellFormed(const Value& root, bool checkTexts, Unreadable& why, Fault& fault) {
    std::vector<const Value*> pending{&root};
    std::vector<std::string_view> names;
    while (!pending.empty()) {
        const Value& v = *pending.back();
        pending.pop_back();
        if (checkTexts && v.IsString() && !validText(v.GetString(), v.GetStringLength())) {
            why = Unreadable::NotUtf8;
            return fault.fail("a text that is not valid UTF-8");
        }
        if (v.IsArray()) {
            for (const Value& item : v.GetArray()) {
                if (checkTexts || item.IsObject() || item.IsArray())
                    pending.push_back(&item);
            }
        } else if (v.IsObject()) {
            // Known names are counted with a bit each; only the others are sorted.
            names.clear();
            uint64_t known = 0;
            bool twice = false;
            for (const auto& m : v.GetObject()) {
                const std::string_view name = textOf(m.name);
                if (checkTexts && !validText(name.data(), name.size())) {
                    why = Unreadable::NotUtf8;
                    return fault.fail("a member name that is not valid UTF-8");
                }
                const int i = knownName(name);
                if (i < 0) {
                    names.push_back(name);
                } else {
                    twice |= (known >> i & 1) != 0;
                    known |= uint64_t(1) << i;
                }
                if (checkTexts || m.value.IsObject() || m.value.IsArray())
                    pending.push_back(&m.value);
            }
            if (names.size() > 1) {
                std::sort(names.begin(), names.end());
                twice |= std::adjacent_find(names.begin(), names.end()) != names.end();
            }
            if (twice) {
                why = Unreadable::WrongStructure;
                return fault.fail("the member \"" + validUtf8(nameGivenTwice(v, names)) +
                                  "\" is given twice");
            }
        }
    }
    return true;
}

bool readRun(const Members& root, RunResult& run, Unreadable& why, Fault& fault) {
    why = Unreadable::WrongStructure;
    const Value* version = root[FormatVersion];
    if (version == nullptr)
        return fault.fail("no formatVersion");
    if (!version->IsInt() || version->GetInt() != field::kVersion) {
        why = Unreadable::WrongFormatVersion;
        return fault.fail("formatVersion is not " + std::to_string(field::kVersion));
    }
    if (!optionalText(root[MachineId], run.machineId) ||
        !optionalText(root[ConfigSha256], run.configSha256) ||
        !optionalText(root[ProgramVersion], run.programVersion) ||
        !optionalText(root[LogPath], run.logPath))
        return fault.fail("machineId, configSha256, programVersion or logPath is not a text");
    if (!optionalText(root[HostName], run.hostName) || !optionalText(root[Refusal], run.refusal) ||
        !optionalText(root[StopRequest], run.stopRequest))
        return fault.fail("hostName, refusal or stopRequest is not a text");
    if (root[StartTime] == nullptr)
        return fault.fail("no startTime");
    if (!optionalTime(root, StartTime, run.start, fault) ||
        !optionalTime(root, EndTime, run.end, fault))
        return false;
    const Value* stateValue = root[State];
    if (stateValue != nullptr && !stateValue->IsNull() && !stateValue->IsString())
        return fault.fail("state is neither running nor finished");
    const std::string_view state =
        stateValue != nullptr && stateValue->IsString() ? textOf(*stateValue) : std::string_view();
    if (!state.empty() && state != field::kStateRunning && state != field::kStateFinished)
        return fault.fail("state is neither running nor finished");
    run.running = state == field::kStateRunning;
    // A run that has not finished has no exit code yet; a finished one always has one.
    const Value* exitCode = root[ExitCode];
    if (exitCode == nullptr || !(exitCode->IsInt() || (run.running && exitCode->IsNull())))
        return fault.fail("exitCode is not an integer");
    run.hasExitCode = exitCode->IsInt();
    run.exitCode = run.hasExitCode ? exitCode->GetInt() : 0;
    const Value* dryRun = root[DryRun];
    if (dryRun != nullptr && !dryRun->IsBool())
        return fault.fail("dryRun is not true or false");
    run.dryRun = dryRun != nullptr && dryRun->GetBool();
    const Value* timeout = root[SetupTimeout];
    if (timeout != nullptr && !timeout->IsNull()) {
        if (!timeout->IsNumber() || timeout->GetDouble() < 0)
            return fault.fail("setupTimeout is not a number of seconds");
        run.setupTimeout = timeout->GetDouble() > 1e12 ? int64_t(1e12)
                                                       : static_cast<int64_t>(timeout->GetDouble());
    }
    const Value* setups = root[SetupPrograms];
    if (setups != nullptr && setups->IsObject()) {
        for (const auto& m : setups->GetObject())
            run.anySetupProgram |= m.value.IsString() && m.value.GetStringLength() != 0;
    }
    const Value* products = root[Products];
    if (products == nullptr || !products->IsArray())
        return fault.fail("products is not a list");
    if (products->Size() > kMaxProducts) {
        why = Unreadable::TooManyProducts;
        return fault.fail(std::to_string(products->Size()) + " products, more than " +
                          std::to_string(kMaxProducts));
    }
    run.products.resize(products->Size());
    for (rapidjson::SizeType i = 0; i < products->Size(); ++i) {
        if (!readProduct((*products)[i], i, run.running, run.products[i], fault))
            return false;
    }
    return true;
}

bool isAscii(std::string_view bytes) {
    uint64_t any = 0;
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        any |= word;
    }
    for (; i < bytes.size(); ++i)
        any |= static_cast<unsigned char>(bytes[i]);
    return (any & 0x8080808080808080u) == 0;
}

// UTF-16 after its byte-order mark (as Windows PowerShell 5.1 writes a file) as UTF-8; false
// for an odd length or a lone surrogate.
bool utf16ToUtf8(std::string_view bytes, bool bigEndian, std::string& out) {
    if (bytes.size() % 2 != 0)
        return false;
    out.clear();
    out.reserve(bytes.size());
    auto unit = [&](size_t i) {
        const auto a = static_cast<unsigned char>(bytes[i]),
                   b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? uint32_t(a) << 8 | b : uint32_t(b) << 8 | a;
    };
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xDC00 && c <= 0xDFFF)
            return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 3 >= bytes.size())
                return false;
            const uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        appendUtf8(out, c);
    }
    return true;
}

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

void appendUtf8(std::string& out, uint32_t c) {
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

bool parseUtcTime(std::string_view text, int64_t& seconds) {
    // YYYY-MM-DDTHH:MM:SSZ
    static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof(kShape) - 1)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i])
            return false;
    }
    auto number = [&](size_t at, size_t n) {
        int v = 0;
        for (size_t i = at; i < at + n; ++i)
            v = v * 10 + (text[i] - '0');
        return v;
    };
    const int month = number(5, 2), day = number(8, 2), hour = number(11, 2),
              minute = number(14, 2), second = number(17, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    seconds =
        daysFromCivil(number(0, 4), static_cast<unsigned>(month), static_cast<unsigned>(day)) *
            86400 +
        hour * 3600 + minute * 60 + second;
    return true;
}

std::string formatUtcTime(int64_t seconds) {
    if (seconds == kNoTime)
        return std::string();
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const int64_t rest = seconds - days * 86400;
    // Civil date from days (the inverse of daysFromCivil).
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
    char buffer[48];
    std::snprintf(buffer, sizeof(buffer), "%04lld-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<long long>(y), m, d, static_cast<int>(rest / 3600),
                  static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return buffer;
}

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t n = c < 0x80                 ? 1
                   : c >= 0xC2 && c <= 0xDF ? 2
                   : c >= 0xE0 && c <= 0xEF ? 3
                   : c >= 0xF0 && c <= 0xF4 ? 4
                                            : 0;
        bool ok = n != 0 && i + n <= text.size();
        for (size_t k = 1; ok && k < n; ++k)
            ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (ok && n >= 3) {
            const auto c1 = static_cast<unsigned char>(text[i + 1]);
            // Overlong forms, surrogates and code points above U+10FFFF.
            ok = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0) &&
                 !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
        }
        if (ok) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

bool parseResultFile(std::string_view bytes, RunResult& run, Unreadable& why, std::string& detail) {
    run = RunResult();
    if (bytes.size() > kMaxResultFileBytes) {
        why = Unreadable::TooLarge;
        detail = "larger than " + std::to_string(kMaxResultFileBytes >> 20) + " MiB";
        return false;
    }
    // A byte-order mark, as some editors, collectors and Windows PowerShell add, is no fault.
    std::string decoded;
    if (bytes.size() >= 2 &&
        (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
        if (bytes.size() >= 4 && bytes.substr(0, 4) == std::string_view("\xFF\xFE\0\0", 4)) {
            why = Unreadable::NotUtf8;
            detail = "UTF-32, not UTF-8 or UTF-16";
            return false;
        }
        if (!utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFE', decoded)) {
            why = Unreadable::NotUtf8;
            detail = "not valid UTF-16";
            return false;
        }
        bytes = decoded;
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    if (bytes.find('\0') != std::string_view::npos) {
        why = Unreadable::NotUtf8;
        detail = "UTF-16 without a byte-order mark, or binary";
        return false;
    }
    // The values' first chunk lies on the stack: a results file's document fits in it, so a
    // file costs no allocation for its values.
    alignas(16) char pool[16384];
    rapidjson::MemoryPoolAllocator<> allocator(pool, sizeof(pool));
    std::string text;  // what an in-place parse reads and its texts point into
    rapidjson::Document doc(&allocator);
    if (isAscii(bytes)) {
        // Plain ASCII has no encoding to check, and parsed in place (on a copy: `bytes` is
        // searched below), its texts are not copied again.
        text.reserve(bytes.size() + 1);
        text.assign(bytes);
        doc.ParseInsitu<kParseFlags & ~rapidjson::kParseValidateEncodingFlag>(text.data());
    } else {
        doc.Parse<kParseFlags>(bytes.data(), bytes.size());
    }
    if (doc.HasParseError()) {
        const rapidjson::ParseErrorCode code = doc.GetParseError();
        const size_t at = doc.GetErrorOffset();
        why = code == rapidjson::kParseErrorStringInvalidEncoding ||
                      code == rapidjson::kParseErrorStringUnicodeSurrogateInvalid
                  ? Unreadable::NotUtf8
              : at >= bytes.size() ? Unreadable::Truncated
                                   : Unreadable::NotJson;
        detail = std::string(rapidjson::GetParseError_En(code)) + " at byte " + std::to_string(at);
        return false;
    }
    Fault fault{detail};
    const Members root = doc.IsObject() ? Members(doc) : Members();
    if (!isProgram(root)) {
        why = Unreadable::NotResultsFile;
        return fault.fail("not a results file: no \"program\": \"Velkaro\"");
    }
    return wellFormed(doc, mayHoldLoneSurrogate(bytes), why, fault) &&
           readRun(root, run, why, fault);
}

}  // namespace velkaro::report
