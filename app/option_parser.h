#pragma once
// The command line's options: the option table, the parser that matches argument words against
// it (reordering the words in place so that non-option words end up behind the options), the
// error codes and their texts, and the usage text.

#include <cstdint>
#include <memory>

namespace velkaro {

enum OptionId : int {
    OPTION_HELP = 0,
    OPTION_CONFIG_PATH = 2,
    OPTION_SETUP_TIMEOUT = 3,
    OPTION_RESULT_FILE = 4,
    OPTION_DRY_RUN = 10,
    OPTION_STRICT = 11,
    OPTION_WAIT_FOR_PROCESS_TREE = 12,
};

/// The limits of --setupTimeout, in seconds.
inline constexpr uint32_t kMinSetupTimeout = 1;
inline constexpr uint32_t kMaxSetupTimeout = 86400;

enum ArgKind : int {
    ARG_NONE = 0,             ///< takes no argument
    ARG_REQUIRED_JOINED = 2,  ///< needs an argument joined by "=" in the same word
};

/// One row of the option table; a negative id ends the table.
struct OptionSpec {
    int id;
    const wchar_t* text;
    ArgKind argKind;
};

/// The program's option table, ended by a row with id -1.
extern const OptionSpec kOptionTable[];

enum ParseError : int {
    PARSE_OK = 0,
    UnrecognizedOption = -1,
    AmbiguousOption = -2,
    UnexpectedArgument = -3,
    BadArgumentFormat = -4,
    MissingArgument = -5,
    BadArgumentData = -6,
};

/// The text the driver prints for an error code ("Unknown error" for codes without a name).
const wchar_t* parseErrorText(int code);

/// Matches argument words against kOptionTable: exact and case-sensitive, "/" accepted for the
/// first "-", an argument only joined with "=". Word 0 (the program) is never read. Words that
/// are not options are moved, in their order, behind all remaining words, where they count as
/// leftovers. The words are the caller's and must outlive the parser; the parser writes into
/// them (the slash and the "=" of an option word) and reorders the array.
class OptionParser {
public:
    OptionParser() = default;
    OptionParser(const OptionParser&) = delete;
    OptionParser& operator=(const OptionParser&) = delete;

    /// Starts over on `words`. Up to kRoom words are reordered in room of the parser's own;
    /// more cost one allocation here, and false when it fails (the words are then reordered in
    /// place by rotation, which gives the same result).
    bool init(int count, wchar_t** words);
    /// True with a result (an option or an error); false at the end of the words.
    bool next();
    /// Makes every word not yet read a leftover; the next call of next() gives false.
    void stop();

    int lastError() const { return error_; }
    int optionId() const { return id_; }
    /// The option's name (the table's text when it matched), or null when there is none.
    const wchar_t* optionText() const { return text_; }
    /// The text after "=" (possibly empty), or null when the word had no "=".
    const wchar_t* optionArg() const { return arg_; }
    int leftoverCount() const { return count_ - firstLeftover_; }
    /// The leftover words, in their command-line order.
    wchar_t* const* leftovers() const { return words_ + firstLeftover_; }

    static constexpr int kRoom = 50;

private:
    void clearResult();
    /// Moves words [from, to) behind all later words; they become leftovers.
    void moveToLeftovers(int from, int to);

    wchar_t** words_ = nullptr;
    int count_ = 0;
    int firstLeftover_ = 0;
    int next_ = 1;
    int scanStart_ = 1;
    int id_ = -1;
    const wchar_t* text_ = nullptr;
    const wchar_t* arg_ = nullptr;
    int error_ = PARSE_OK;
    wchar_t* room_[kRoom] = {};
    std::unique_ptr<wchar_t*[]> bigRoom_;
    wchar_t** scratch_ = nullptr;
};

/// Reads the value of --setupTimeout: decimal digits only, kMinSetupTimeout to kMaxSetupTimeout.
/// `seconds` is written only on success.
bool parseSetupTimeout(const wchar_t* text, uint32_t& seconds);

/// Writes the usage text to standard output, then its lines to the log.
void printUsage();

}  // namespace velkaro
