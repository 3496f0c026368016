#include "support_test_util.h"

#include "logging/format.h"

namespace supporttest {

namespace {

std::vector<LogRecord>& captured() {
    static std::vector<LogRecord> records;
    return records;
}

void record(zoka::LogLevel level, const wchar_t* libraryTag, const wchar_t* moduleTag,
            const wchar_t*, const wchar_t*, const wchar_t* format, va_list args) {
    captured().push_back({level, libraryTag ? libraryTag : L"", moduleTag ? moduleTag : L"",
                          zoka::formatWide(format, args, 1 << 16)});
}

}  // namespace

LibraryLogCapture::LibraryLogCapture() : saved_(zoka::libraryLogCallback) {
    captured().clear();
    zoka::libraryLogCallback = record;
}

LibraryLogCapture::~LibraryLogCapture() {
    zoka::libraryLogCallback = saved_;
    captured().clear();
}

const std::vector<LogRecord>& LibraryLogCapture::records() const {
    return captured();
}

void LibraryLogCapture::clear() {
    captured().clear();
}

int LibraryLogCapture::count(zoka::LogLevel level, const std::wstring& prefix) const {
    int n = 0;
    for (const auto& r : captured())
        if (r.level == level && r.text.compare(0, prefix.size(), prefix) == 0)
            ++n;
    return n;
}

std::wstring LibraryLogCapture::dump() const {
    std::wstring out;
    for (const auto& r : captured())
        out += std::to_wstring(r.level) + L" [" + r.libraryTag + L"/" + r.moduleTag + L"] " +
               r.text + L"\n";
    return out;
}

void RecordingLogger::logV(zoka::LogLevel level, const wchar_t* tag1, const wchar_t* tag2,
                           const wchar_t* format, va_list args) {
    records.push_back(
        {level, tag1 ? tag1 : L"", tag2 ? tag2 : L"", zoka::formatWide(format, args, 1 << 16)});
}

}  // namespace supporttest
