#include "logging/log_line.h"

#include "logging/log_target.h"

namespace zoka {
namespace {

void appendTwoDigits(std::wstring& out, int value) {
    out.push_back(static_cast<wchar_t>(L'0' + (value / 10) % 10));
    out.push_back(static_cast<wchar_t>(L'0' + value % 10));
}

const wchar_t* orEmpty(const wchar_t* text) {
    return text != nullptr ? text : L"";
}

// Appends a number in decimal, without the C library's wide printf.
void appendDecimal(std::wstring& out, unsigned long value) {
    wchar_t digits[24];
    size_t n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0)
        out.push_back(digits[--n]);
}

const std::wstring& levelLabel(LogLevel level) {
    // Built once: the names are looked up for every line.
    static const std::wstring names[] = {levelName(LEVEL_TRACE), levelName(LEVEL_DEBUG),
                                         levelName(LEVEL_INFO),  levelName(LEVEL_WARN),
                                         levelName(LEVEL_ERROR), levelName(LEVEL_FATAL),
                                         levelName(LEVEL_NONE),  levelName(0)};
    if (level % 10 == 0 && level >= LEVEL_TRACE && level <= LEVEL_NONE) {
        return names[level / 10 - 1];
    }
    return names[7];
}

}  // namespace

Timestamp formatTimestamp(int64_t timeMs) {
    const uint64_t ms = static_cast<uint64_t>(timeMs == 0 ? logfile::nowMs() : timeMs);
    Timestamp result;
    result.seconds = static_cast<int64_t>(ms / 1000);
    const int millis = static_cast<int>(ms % 1000);

    // The C locale's "%x %X": MM/DD/YY HH:MM:SS, built here so no process locale matters.
    logfile::LocalTime t;
    if (!logfile::toLocalTime(result.seconds, t))
        t = logfile::LocalTime();
    std::wstring& text = result.text;
    text.reserve(21);
    appendTwoDigits(text, t.month);
    text.push_back(L'/');
    appendTwoDigits(text, t.day);
    text.push_back(L'/');
    appendTwoDigits(text, ((t.year % 100) + 100) % 100);
    text.push_back(L' ');
    appendTwoDigits(text, t.hour);
    text.push_back(L':');
    appendTwoDigits(text, t.minute);
    text.push_back(L':');
    appendTwoDigits(text, t.second);
    text.push_back(L':');
    text.push_back(static_cast<wchar_t>(L'0' + millis / 100));
    appendTwoDigits(text, millis % 100);
    return result;
}

void applyTokenRule(std::wstring& message, LogLevel& level) {
    const size_t first = message.find(L"eyJ");
    if (first != std::wstring::npos && message.find(L".eyJ", first) != std::wstring::npos) {
        message = L"Found access/device token. Log skipped.";
        level = LEVEL_WARN;
    }
}

FormattedLine formatLine(const std::wstring& separator, int64_t timeMs, LogLevel level,
                         const wchar_t* context1, const wchar_t* context2, const wchar_t* context3,
                         const wchar_t* context4, const wchar_t* tag1, const wchar_t* tag2,
                         const wchar_t* message) {
    Timestamp stamp = formatTimestamp(timeMs);
    std::wstring text = orEmpty(message);
    applyTokenRule(text, level);

    FormattedLine line;
    line.seconds = stamp.seconds;
    std::wstring& out = line.text;
    out.reserve(stamp.text.size() + text.size() + 8 * separator.size() + 64);
    out += stamp.text;
    out += separator;
    out += L'[';
    out += levelLabel(level);
    out += L']';
    for (const wchar_t* column : {context1, context2, context3, context4, tag1, tag2}) {
        out += separator;
        out += orEmpty(column);
    }
    out += separator;
    appendDecimal(out, logfile::threadId());
    out += separator;
    out += text;
    return line;
}

}  // namespace zoka
