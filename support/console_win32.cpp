#include <windows.h>

#include "base/unicode.h"
#include "support/console.h"

namespace zoka::console {

void writeLine(Stream stream, const std::wstring& text) {
    HANDLE handle = ::GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    std::wstring lineText = text + L"\r\n";
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode)) {
        // A real console takes the UTF-16 text itself, whatever its code page.
        const wchar_t* data = lineText.data();
        size_t left = lineText.size();
        while (left > 0) {
            DWORD chunk = left > 8192 ? 8192 : static_cast<DWORD>(left);
            DWORD written = 0;
            if (!::WriteConsoleW(handle, data, chunk, &written, nullptr) || written == 0)
                return;
            data += written;
            left -= written;
        }
        return;
    }
    // Redirected to a file or a pipe: UTF-8 bytes, as a text-mode stream would end its lines.
    std::string bytes = toUtf8(lineText);
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        DWORD chunk = left > (1u << 20) ? (1u << 20) : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!::WriteFile(handle, data, chunk, &written, nullptr) || written == 0)
            return;
        data += written;
        left -= written;
    }
    // WriteFile keeps nothing back, so the line is out; FlushFileBuffers would wait for a
    // pipe's reader.
}

}  // namespace zoka::console
