#include "app/option_parser.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

#include "app/program.h"
#include "logging/logger.h"
#include "support/console.h"

namespace velkaro {

const OptionSpec kOptionTable[] = {
    {OPTION_HELP, L"-?", ARG_NONE},
    {OPTION_HELP, L"-h", ARG_NONE},
    {OPTION_HELP, L"-help", ARG_NONE},
    {OPTION_HELP, L"--help", ARG_NONE},
    {OPTION_CONFIG_PATH, L"--uninstallConfigPath", ARG_REQUIRED_JOINED},
    {OPTION_SETUP_TIMEOUT, L"--setupTimeout", ARG_REQUIRED_JOINED},
    {OPTION_RESULT_FILE, L"--resultFile", ARG_REQUIRED_JOINED},
    {OPTION_DRY_RUN, L"--dryRun", ARG_NONE},
    {OPTION_STRICT, L"--strict", ARG_NONE},
    {OPTION_WAIT_FOR_PROCESS_TREE, L"--waitForProcessTree", ARG_NONE},
    {-1, nullptr, ARG_NONE},
};

const wchar_t* parseErrorText(int code) {
    switch (code) {
        case UnrecognizedOption:
            return L"Unrecognized option";
        case AmbiguousOption:
            return L"Option matched multiple strings";
        case UnexpectedArgument:
            return L"Option does not accept argument";
        case BadArgumentFormat:
            return L"Invalid argument format";
        case MissingArgument:
            return L"Required argument is missing";
        case BadArgumentData:
            return L"Invalid argument data";
        default:
            return L"Unknown error";
    }
}

namespace {

// Exact, case-sensitive match; the first matching row wins.
const OptionSpec* findOption(const wchar_t* name) {
    for (const OptionSpec* row = kOptionTable; row->id >= 0; ++row) {
        if (std::wcscmp(row->text, name) == 0)
            return row;
    }
    return nullptr;
}

}  // namespace

bool OptionParser::init(int count, wchar_t** words) {
    words_ = words;
    count_ = count > 0 && words != nullptr ? count : 0;
    firstLeftover_ = count_;
    next_ = 1;
    scanStart_ = 1;
    clearResult();
    bigRoom_.reset();
    scratch_ = room_;
    if (count_ <= kRoom)
        return true;
    bigRoom_.reset(new (std::nothrow) wchar_t*[static_cast<size_t>(count_)]);
    scratch_ = bigRoom_.get();
    return scratch_ != nullptr;
}

void OptionParser::clearResult() {
    id_ = -1;
    text_ = nullptr;
    arg_ = nullptr;
    error_ = PARSE_OK;
}

void OptionParser::moveToLeftovers(int from, int to) {
    const int length = to - from;
    if (length <= 0)
        return;
    if (scratch_ != nullptr) {
        const size_t bytes = sizeof(wchar_t*);
        std::memcpy(scratch_, words_ + from, static_cast<size_t>(length) * bytes);
        std::memmove(words_ + from, words_ + to, static_cast<size_t>(count_ - to) * bytes);
        std::memcpy(words_ + count_ - length, scratch_, static_cast<size_t>(length) * bytes);
    } else {
        std::rotate(words_ + from, words_ + to, words_ + count_);
    }
    firstLeftover_ -= length;
}

bool OptionParser::next() {
    clearResult();
    scanStart_ = next_;
    int position = next_;
    for (;;) {
        if (position >= firstLeftover_) {
            // The words passed over in this scan join the leftovers.
            moveToLeftovers(scanStart_, position);
            next_ = firstLeftover_;
            return false;
        }
        wchar_t* word = words_[position];
        if (word[0] == L'/' && word[1] != L'\0' && word[1] != L'-')
            word[0] = L'-';
        wchar_t* equals = nullptr;
        if (word[0] == L'-') {
            equals = std::wcschr(word, L'=');
            if (equals != nullptr)
                *equals = L'\0';
        }
        const wchar_t* argument = equals != nullptr ? equals + 1 : nullptr;
        if (const OptionSpec* row = findOption(word)) {
            id_ = row->id;
            text_ = row->text;
            arg_ = argument;
            if (row->argKind == ARG_NONE && argument != nullptr) {
                error_ = UnexpectedArgument;
            } else if (row->argKind == ARG_REQUIRED_JOINED && argument == nullptr) {
                error_ = MissingArgument;
            }
            break;
        }
        if (word[0] == L'-') {
            // Reported as it now stands: slash replaced, cut at the "=".
            text_ = word;
            arg_ = argument;
            error_ = UnrecognizedOption;
            break;
        }
        // Not an option. The slash and "=" edits only happen to words that start with "-"
        // afterwards, so this word is unchanged.
        ++position;
    }
    next_ = position + 1;
    if (position > scanStart_) {
        moveToLeftovers(scanStart_, position);
        next_ = scanStart_ + 1;
    }
    return true;
}

void OptionParser::stop() {
    if (next_ < firstLeftover_)
        moveToLeftovers(next_, firstLeftover_);
}

bool parseSetupTimeout(const wchar_t* text, uint32_t& seconds) {
    if (text == nullptr || *text == L'\0')
        return false;
    uint64_t value = 0;
    for (const wchar_t* c = text; *c != L'\0'; ++c) {
        if (*c < L'0' || *c > L'9')
            return false;
        value = value * 10 + static_cast<uint64_t>(*c - L'0');
        if (value > kMaxSetupTimeout)
            return false;
    }
    if (value < kMinSetupTimeout)
        return false;
    seconds = static_cast<uint32_t>(value);
    return true;
}

namespace {

// The lines that follow the original usage text, shared by the console and the log.
const wchar_t* const kFurtherUsage[] = {
    L"Options for unattended runs :",
    L"      --setupTimeout=<seconds, 1 to 86400: a setup program that runs longer is ended with "
    L"every process it started>",
    L"      --resultFile=<path of a JSON file that receives the run's results>",
    L"      --dryRun : check the configuration and show what a run would start, without "
    L"starting anything (no elevation needed)",
    L"      --strict : refuse a configuration with any finding of the dry run, starting nothing",
    L"      --waitForProcessTree : a product is done only when every process its setup program "
    L"started has ended",
};

}  // namespace

void printUsage() {
    using zoka::console::out;
    out({L""});
    out({L"Commandline Usage :"});
    out({L""});
    out({L"      ", kProgramName,
         L" [--uninstallConfigPath=<Path to config XML, default is 'VelkaroConfig.xml' in same "
         L"directory as Velkaro executable>] [{-h, -help, --help}]"});
    out({L""});
    out({kProgramName, L" must be launched with elevated privileges."});
    out({L""});
    for (const wchar_t* line : kFurtherUsage)
        out({line});
    out({L""});

    zoka::Logger logger;
    logger.info(L"Commandline Usage :");
    logger.info(
        L"      %s [--uninstallConfigPath=<Path to config XML, default is "
        L"'VelkaroConfig.xml' in same directory as Velkaro executable>] "
        L"[{-h, -help, --help}]",
        kProgramName);
    logger.info(L"%s must be launched with elevated privileges.", kProgramName);
    for (const wchar_t* line : kFurtherUsage)
        logger.info(L"%s", line);
}

}  // namespace velkaro
