// standin_setup: stands where either installer family's setup program stands, for the tests and
// the demonstration. It takes the family's command line unchanged:
//
//   VELT   "<program>" --deploymentFile="<path>"
//   QX     "<program>" --uninstall=1 --driverXML="<path>"
//
// records what it received in a journal, and then exits, sleeps, hangs or dies as configured.
// It never crashes on a missing or unreadable parameter file: it records that and goes on.
//
// Configuration, with no argument of its own (the real callers pass only the family's ones):
// the environment, and the file "<program>.cfg" beside the program ("standin_setup.cfg", or
// "Setup.exe.cfg" for a copy named Setup.exe), whose values win over the environment so that
// each installed copy can give its own answer. The file holds KEY=VALUE lines; blank lines and
// lines starting with '#' are skipped; relative paths in it count from the program's folder.
//
//   STANDIN_JOURNAL   file to append the record to; none: no journal
//   STANDIN_EXIT      exit code: decimal, 0x hexadecimal or negative decimal (default 0); on
//                     POSIX only its low 8 bits reach the parent
//   STANDIN_MODE      exit (default) | hang (never exits) | die (POSIX: SIGKILL; Windows: the
//                     process terminates itself with code 3, as abort() would, without a dialog)
//                     | hangtree (starts a copy of itself that hangs, then hangs too: a setup
//                     program with a child of its own) | swapfolder (moves the parameter
//                     file's folder aside to the same name + ".taken", makes a new folder under
//                     its name, then exits 0)
//   STANDIN_SLEEP_MS  milliseconds to sleep after writing the record, before the action
//   STANDIN_CHILD     hang | <milliseconds> | mainexit | late:<milliseconds>: before the
//                     action, start a copy of itself that leaves the process group (POSIX: a
//                     session of its own; Windows: a process group of its own) and hangs, or
//                     lives that long and exits with 0: a setup program that hands its work to
//                     a child. mainexit: the copy's main thread ends while another thread hangs.
//                     late: the copy waits that long, starts a copy that hangs in its group,
//                     journals it (a record of its own with pid and latechild) and exits 0
//   STANDIN_RULES     needle=action;needle=action... The first needle found in the parameter
//                     file's bytes (UTF-8) chooses the action: an exit code or a mode.
//                     The last '=' of a rule separates needle and action. In the file, every
//                     STANDIN_RULES line adds rules after those of the environment.
//   STANDIN_UNMATCHED the action when rules are given and none matches (default: exit 97, a
//                     code that no family reads as success, so a rule written for the wrong
//                     key shows up as a failure); the miss is also reported on standard error
//
// Journal: UTF-8, append-only, one record per run written with a single append, one KEY=VALUE
// per line, LF line ends. Values are UTF-8 with '%', and every byte below 0x20 or 0x7F, written
// as %XX (upper-case hexadecimal), so that a value is always one line.
//
//   record=begin
//   pid=<process id>
//   group=<process group id>                          POSIX only
//   program=<full path of this program>
//   cwd=<working folder>
//   cmdline=<the raw command line>                    Windows only
//   argc=<n>
//   arg=<argument>                                    n lines, argv[0] first
//   family=VELT|QX|none                               which parameter option was seen
//   param=<path>                                      the first --deploymentFile= or
//                                                     --driverXML= value; absent with none
//   param_status=ok|missing|unreadable|none
//   param_error=<system error code>                   with missing and unreadable
//   param_size=<n>                                    bytes read (at most 16 MiB)
//   param_truncated=1                                 when the file was longer
//   param_hex=<the bytes read, lower-case hexadecimal>
//   config=<path of the .cfg file read>               when there was one
//   config_error=<text>                               one per value that was not understood
//   rule=<needle>                                     the rule that matched, if any
//   rule_miss=<n>                                     none of the n rules matched
//   action=exit <code>|hang|die|hangtree|swapfolder done|swapfolder failed
//   grandchild=<process id>                           the copy that hangtree started
//   child=<process id>                                the copy that STANDIN_CHILD started
//   sleep_ms=<n>
//   record=end
//
// A value that cannot be understood is recorded and replaced by its default, except a bad exit
// code, which becomes 1 so that a mistake never reads as a successful removal.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "base/unicode.h"
#include "standin_platform.h"

namespace {

constexpr size_t kParamLimit = 16u << 20;
constexpr wchar_t kVeltOption[] = L"--deploymentFile=";
constexpr wchar_t kQxOption[] = L"--driverXML=";
// Neither family reads 97 as removed or as not installed.
constexpr uint32_t kUnmatchedExit = 97;
// The only argument of the copy that hangtree starts: it hangs at once, reading nothing.
constexpr wchar_t kHangChildOption[] = L"--standin-hang-child";
// The only argument of the copy that STANDIN_CHILD starts, joined with its lifetime.
constexpr wchar_t kChildOption[] = L"--standin-child=";

enum class Mode { exit, hang, die, hangtree, swapfolder };

struct Action {
    Mode mode = Mode::exit;
    uint32_t code = 0;
};

struct Rule {
    std::string needle;
    Action action;
};

struct Config {
    std::wstring journal;
    Action action;
    Action unmatched{Mode::exit, kUnmatchedExit};
    unsigned long sleepMs = 0;
    std::wstring child;  ///< STANDIN_CHILD; empty: none
    std::vector<Rule> rules;
    std::wstring configFile;
    std::vector<std::string> errors;
};

std::string escape(const std::string& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x20 || c == 0x7F || c == '%') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string escape(const std::wstring& text) {
    return escape(zoka::toUtf8(text));
}

std::string toHex(const std::string& bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += hex[c >> 4];
        out += hex[c & 0xF];
    }
    return out;
}

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Decimal, 0x hexadecimal or negative decimal, as a 32-bit exit code.
bool parseCode(const std::string& text, uint32_t& code) {
    std::string t = trim(text);
    bool negative = false;
    if (!t.empty() && t[0] == '-') {
        negative = true;
        t.erase(0, 1);
    }
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.erase(0, 2);
    }
    if (t.empty())
        return false;
    uint64_t value = 0;
    for (char c : t) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > (negative ? 0x80000000ull : 0xFFFFFFFFull))
            return false;
    }
    code = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(value))
                    : static_cast<uint32_t>(value);
    return true;
}

bool parseAction(const std::string& text, Action& action) {
    const std::string t = trim(text);
    if (t == "hang") {
        action = Action{Mode::hang, 0};
        return true;
    }
    if (t == "die") {
        action = Action{Mode::die, 0};
        return true;
    }
    if (t == "hangtree") {
        action = Action{Mode::hangtree, 0};
        return true;
    }
    if (t == "swapfolder") {
        action = Action{Mode::swapfolder, 0};
        return true;
    }
    uint32_t code = 0;
    if (!parseCode(t, code))
        return false;
    action = Action{Mode::exit, code};
    return true;
}

void addRules(Config& config, const std::string& text) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string rule = text.substr(start, end - start);
        start = end + 1;
        if (trim(rule).empty())
            continue;
        const size_t eq = rule.rfind('=');
        Action action;
        if (eq == std::string::npos || eq == 0 || !parseAction(rule.substr(eq + 1), action)) {
            config.errors.push_back("STANDIN_RULES: " + rule);
            continue;
        }
        config.rules.push_back(Rule{rule.substr(0, eq), action});
    }
}

std::wstring folderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(standin::separator() == L'\\' ? L"\\/" : L"/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Applies one KEY=VALUE; `base` anchors a relative journal path (empty: keep it as given).
void apply(Config& config, const std::string& key, const std::string& value,
           const std::wstring& base) {
    if (key == "STANDIN_JOURNAL") {
        std::wstring path = zoka::fromUtf8(trim(value));
        if (!path.empty() && !base.empty() && !standin::isAbsolute(path)) {
            path = base + standin::separator() + path;
        }
        config.journal = path;
    } else if (key == "STANDIN_EXIT") {
        uint32_t code = 0;
        if (parseCode(value, code)) {
            config.action.code = code;
        } else {
            config.errors.push_back("STANDIN_EXIT: " + value);
            config.action.code = 1;
        }
    } else if (key == "STANDIN_MODE") {
        const std::string mode = trim(value);
        if (mode == "hang") {
            config.action.mode = Mode::hang;
        } else if (mode == "die") {
            config.action.mode = Mode::die;
        } else if (mode == "hangtree") {
            config.action.mode = Mode::hangtree;
        } else if (mode == "exit" || mode.empty()) {
            config.action.mode = Mode::exit;
        } else {
            config.errors.push_back("STANDIN_MODE: " + value);
        }
    } else if (key == "STANDIN_SLEEP_MS") {
        uint32_t ms = 0;
        if (parseCode(value, ms) && trim(value)[0] != '-') {
            config.sleepMs = ms;
        } else {
            config.errors.push_back("STANDIN_SLEEP_MS: " + value);
        }
    } else if (key == "STANDIN_CHILD") {
        uint32_t ms = 0;
        const std::string t = trim(value);
        const std::string life = t.compare(0, 5, "late:") == 0 ? t.substr(5) : t;
        if (t == "hang" || t == "mainexit" || (parseCode(life, ms) && life[0] != '-'))
            config.child = zoka::fromUtf8(trim(value));
        else
            config.errors.push_back("STANDIN_CHILD: " + value);
    } else if (key == "STANDIN_RULES") {
        addRules(config, value);
    } else if (key == "STANDIN_UNMATCHED") {
        if (!parseAction(value, config.unmatched)) {
            config.errors.push_back("STANDIN_UNMATCHED: " + value);
            config.unmatched = Action{Mode::exit, kUnmatchedExit};
        }
    } else {
        config.errors.push_back("unknown key: " + key);
    }
}

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

Config loadConfig(const std::wstring& program) {
    Config config;
    for (const char* key : {"STANDIN_JOURNAL", "STANDIN_EXIT", "STANDIN_MODE", "STANDIN_SLEEP_MS",
                            "STANDIN_CHILD", "STANDIN_RULES", "STANDIN_UNMATCHED"}) {
        std::wstring value;
        if (standin::getEnv(key, value))
            apply(config, key, zoka::toUtf8(value), std::wstring());
    }

    const std::wstring file = program + L".cfg";
    std::string bytes;
    bool truncated = false;
    bool missing = false;
    unsigned long error = 0;
    if (program.empty() || !standin::readFile(file, 1u << 20, bytes, truncated, error, missing)) {
        if (!program.empty() && !missing)
            config.errors.push_back("cannot read " + zoka::toUtf8(file));
        return config;
    }
    config.configFile = file;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string trimmed = trim(line);
        if (trimmed.empty() || trimmed[0] == '#')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            config.errors.push_back("line without '=': " + line);
            continue;
        }
        apply(config, trim(line.substr(0, eq)), line.substr(eq + 1), folderOf(program));
    }
    return config;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::wstring> args = standin::arguments(argc, argv);
    if (args.size() == 2 && args[1] == kHangChildOption)
        standin::hang();
    if (args.size() == 2 && startsWith(args[1], kChildOption)) {
        const std::wstring life = args[1].substr(std::char_traits<wchar_t>::length(kChildOption));
        if (life == L"hang")
            standin::hang();
        if (life == L"mainexit")
            standin::hangWithoutMainThread();
        if (startsWith(life, L"late:")) {
            standin::sleepMs(std::wcstoul(life.c_str() + 5, nullptr, 10));
            const std::wstring hangArgument = std::wstring(kChildOption) + L"hang";
            const Config config = loadConfig(standin::programPath());
            const unsigned long late =
                standin::startChild(standin::programPath(), hangArgument.c_str(), false);
            if (!config.journal.empty()) {
                standin::appendFile(config.journal,
                                    "record=begin\npid=" + std::to_string(standin::processId()) +
                                        "\nlatechild=" + std::to_string(late) + "\nrecord=end\n");
            }
            standin::exitWith(0);
        }
        standin::sleepMs(std::wcstoul(life.c_str(), nullptr, 10));
        standin::exitWith(0);
    }
    const std::wstring program = standin::programPath();
    const Config config = loadConfig(program);

    std::string record = "record=begin\n";
    record += "pid=" + std::to_string(standin::processId()) + "\n";
    unsigned long group = 0;
    if (standin::processGroup(group))
        record += "group=" + std::to_string(group) + "\n";
    record += "program=" + escape(program) + "\n";
    record += "cwd=" + escape(standin::currentFolder()) + "\n";
    std::wstring commandLine;
    if (standin::rawCommandLine(commandLine))
        record += "cmdline=" + escape(commandLine) + "\n";
    record += "argc=" + std::to_string(args.size()) + "\n";
    for (const std::wstring& arg : args)
        record += "arg=" + escape(arg) + "\n";

    // Word 0 is the program; only the others can carry the parameter file.
    std::string family = "none";
    std::wstring param;
    bool haveParam = false;
    for (size_t i = 1; i < args.size() && !haveParam; ++i) {
        if (startsWith(args[i], kVeltOption)) {
            family = "VELT";
            param = args[i].substr(std::char_traits<wchar_t>::length(kVeltOption));
            haveParam = true;
        } else if (startsWith(args[i], kQxOption)) {
            family = "QX";
            param = args[i].substr(std::char_traits<wchar_t>::length(kQxOption));
            haveParam = true;
        }
    }
    record += "family=" + family + "\n";

    std::string bytes;
    if (!haveParam) {
        record += "param_status=none\n";
    } else {
        record += "param=" + escape(param) + "\n";
        bool truncated = false;
        bool missing = false;
        unsigned long error = 0;
        if (standin::readFile(param, kParamLimit, bytes, truncated, error, missing)) {
            record += "param_status=ok\n";
            record += "param_size=" + std::to_string(bytes.size()) + "\n";
            if (truncated)
                record += "param_truncated=1\n";
            record += "param_hex=" + toHex(bytes) + "\n";
        } else {
            record += std::string("param_status=") + (missing ? "missing" : "unreadable") + "\n";
            record += "param_error=" + std::to_string(error) + "\n";
        }
    }

    if (!config.configFile.empty())
        record += "config=" + escape(config.configFile) + "\n";
    for (const std::string& error : config.errors)
        record += "config_error=" + escape(error) + "\n";

    Action action = config.action;
    bool matched = false;
    for (const Rule& rule : config.rules) {
        if (bytes.find(rule.needle) != std::string::npos) {
            action = rule.action;
            record += "rule=" + escape(rule.needle) + "\n";
            matched = true;
            break;
        }
    }
    if (!config.rules.empty() && !matched) {
        // Silence here once made a demonstration of failures read as success.
        action = config.unmatched;
        record += "rule_miss=" + std::to_string(config.rules.size()) + "\n";
        std::fprintf(stderr, "standin_setup: none of the %zu rules matched the parameter file\n",
                     config.rules.size());
        std::fflush(stderr);
    }
    switch (action.mode) {
        case Mode::exit:
            record += "action=exit " + std::to_string(action.code) + "\n";
            break;
        case Mode::hang:
            record += "action=hang\n";
            break;
        case Mode::die:
            record += "action=die\n";
            break;
        case Mode::hangtree:
            record += "action=hangtree\n";
            record += "grandchild=" +
                      std::to_string(standin::startChild(program, kHangChildOption, false)) + "\n";
            break;
        case Mode::swapfolder: {
            // What a user who can rename entries in the temporary folder would do: the run's
            // folder goes aside and a folder of the same name takes its place.
            const std::filesystem::path folder = std::filesystem::path(param).parent_path();
            std::error_code error;
            std::filesystem::rename(folder, std::filesystem::path(folder.wstring() + L".taken"),
                                    error);
            if (!error)
                std::filesystem::create_directory(folder, error);
            record += std::string("action=swapfolder ") + (error ? "failed" : "done") + "\n";
            break;
        }
    }
    if (!config.child.empty()) {
        const std::wstring argument = kChildOption + config.child;
        record +=
            "child=" + std::to_string(standin::startChild(program, argument.c_str(), true)) + "\n";
    }
    record += "sleep_ms=" + std::to_string(config.sleepMs) + "\n";
    record += "record=end\n";

    if (!config.journal.empty())
        standin::appendFile(config.journal, record);
    if (config.sleepMs > 0)
        standin::sleepMs(config.sleepMs);
    switch (action.mode) {
        case Mode::hang:
        case Mode::hangtree:
            standin::hang();
        case Mode::die:
            standin::die();
        case Mode::exit:
        case Mode::swapfolder:
            break;
    }
    standin::exitWith(action.code);
}
