#pragma once
// The layout of every log line: time stamp, level, six columns, thread and message, with the
// token rule applied to the message.

#include <cstdint>
#include <string>

#include "logging/logger.h"

namespace zoka {

struct Timestamp {
    std::wstring text;  // MM/DD/YY HH:MM:SS:mmm in local time
    int64_t seconds;    // whole seconds since 1970-01-01 UTC
};

/// `timeMs`: milliseconds since 1970-01-01 UTC, 0 = now. Read as unsigned, like the
/// Windows runtime's time values.
Timestamp formatTimestamp(int64_t timeMs);

struct FormattedLine {
    std::wstring text;
    int64_t seconds;  // of the time stamp
};

/// The message with the token rule applied: a compact JSON Web Token ("eyJ" and, from there,
/// ".eyJ") replaces the message and raises the shown level to WARN.
void applyTokenRule(std::wstring& message, LogLevel& level);

/// One line without its line end. Null columns and tags are empty; a null message too.
FormattedLine formatLine(const std::wstring& separator, int64_t timeMs, LogLevel level,
                         const wchar_t* context1, const wchar_t* context2, const wchar_t* context3,
                         const wchar_t* context4, const wchar_t* tag1, const wchar_t* tag2,
                         const wchar_t* message);

}  // namespace zoka
