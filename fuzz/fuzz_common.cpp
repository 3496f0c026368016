#include "fuzz/fuzz_common.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "base/unicode.h"

namespace fuzzsupport {

std::vector<std::wstring> words(const uint8_t* data, size_t size) {
    std::vector<std::wstring> result;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\0', start);
        result.push_back(zoka::fromUtf8(text.substr(start, end - start)));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return result;
}

const std::string& scratchFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/velkaro-fuzz-XXXXXX";
        const char* made = ::mkdtemp(pattern.data());
        if (made == nullptr)
            fail("no scratch folder");
        return std::string(made) + "/";
    }();
    return folder;
}

void isolate() {
    ::setenv("TMPDIR", scratchFolder().c_str(), 1);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull >= 0 && std::getenv("VELKARO_FUZZ_VERBOSE") == nullptr) {
        ::dup2(devNull, 1);
        ::close(devNull);
    }
}

void fail(const char* what) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

}  // namespace fuzzsupport
