#include "support/console.h"

#include <mutex>
#include <utility>

namespace zoka::console {

// Writes one line and its line end to the real stream at once; one platform file each.
void writeLine(Stream stream, const std::wstring& text);

namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

Sink& currentSink() {
    static Sink sink;
    return sink;
}

}  // namespace

void line(Stream stream, std::initializer_list<std::wstring_view> pieces) {
    size_t length = 0;
    for (std::wstring_view piece : pieces)
        length += piece.size();
    std::wstring text;
    text.reserve(length + 1);
    for (std::wstring_view piece : pieces)
        text.append(piece);
    Sink sink;
    {
        std::lock_guard<std::mutex> guard(sinkMutex());
        sink = currentSink();
    }
    // Called outside the lock, so a sink may itself write to the console.
    if (sink)
        sink(stream, text);
    else
        writeLine(stream, text);
}

void setSink(Sink sink) {
    std::lock_guard<std::mutex> guard(sinkMutex());
    currentSink() = std::move(sink);
}

}  // namespace zoka::console
