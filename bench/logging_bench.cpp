// The cost of one written log line (lock, format, seek, write) beside the bare file operations
// it cannot avoid, and the cost of a message below the threshold.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/unicode.h"
#include "logging/format.h"
#include "logging/log_line.h"
#include "logging/log_target.h"
#include "logging/registry.h"

namespace {

// A private folder for the benchmark's files, removed at the end.
class BenchFolder {
public:
    BenchFolder() {
        std::wstring temp;
        zoka::os::getTempPath(temp);
        std::string pattern = zoka::toUtf8(temp) + "velkaro-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~BenchFolder() {
        for (const std::string& f : files_)
            ::unlink(f.c_str());
        if (!path_.empty())
            ::rmdir(path_.c_str());
    }
    std::wstring wide() const { return zoka::fromUtf8(path_); }
    std::string file(const std::string& name) {
        files_.push_back(path_ + "/" + name);
        return files_.back();
    }

private:
    std::string path_;
    std::vector<std::string> files_;
};

// A log target on a file of a private folder, at threshold INFO, and a logger writing to it.
struct BenchLog {
    BenchLog(const wchar_t* key, const std::string& file) : target(key) {
        folder.file(file);
        target.threshold = zoka::LEVEL_INFO;
        opened = target.setFile(zoka::fromUtf8(file).c_str(), folder.wide().c_str()) &&
                 zoka::LogTargetRegistry::instance().addTarget(&target);
        logger.targetKey = key;
    }
    ~BenchLog() { target.close(); }

    BenchFolder folder;
    zoka::LogTargetDefault target;
    zoka::Logger logger;
    bool opened = false;
};

const wchar_t kFormat[] = L"Uninstalling (%s/%s/%s) finished with exit code %d";

void BM_WrittenLine(benchmark::State& state) {
    BenchLog log(L"bench-line", "line.log");
    if (!log.opened) {
        state.SkipWithError("log target could not be opened");
        return;
    }
    for (auto _ : state)
        log.logger.info(kFormat, L"PRDC", L"24.0", L"win64", 0);
}
BENCHMARK(BM_WrittenLine);

void BM_BareSeekAndTwoWrites(benchmark::State& state) {
    BenchFolder folder;
    const std::string path = folder.file("bare.log");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        state.SkipWithError("file could not be opened");
        return;
    }
    // The same bytes that the logged line has.
    const zoka::FormattedLine line =
        zoka::formatLine(L" | ", 0, zoka::LEVEL_INFO, L"", L"Zeph", L"Utilities", L"Velkaro", L"",
                         L"", L"Uninstalling (PRDC/24.0/win64) finished with exit code 0");
    std::string bytes;
    for (char16_t unit : zoka::toUtf16(line.text)) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    const char crlf[] = {'\r', 0, '\n', 0};
    for (auto _ : state) {
        benchmark::DoNotOptimize(::lseek(fd, 0, SEEK_END));
        benchmark::DoNotOptimize(::write(fd, bytes.data(), bytes.size()));
        benchmark::DoNotOptimize(::write(fd, crlf, sizeof(crlf)));
    }
    ::close(fd);
}
BENCHMARK(BM_BareSeekAndTwoWrites);

void BM_BelowThreshold(benchmark::State& state) {
    BenchLog log(L"bench-quiet", "quiet.log");
    if (!log.opened) {
        state.SkipWithError("log target could not be opened");
        return;
    }
    for (auto _ : state)
        log.logger.debug(kFormat, L"PRDC", L"24.0", L"win64", 0);
}
BENCHMARK(BM_BelowThreshold);

// The pure formatting part of a line, for reference.
void BM_FormatOnly(benchmark::State& state) {
    for (auto _ : state) {
        std::wstring message = zoka::formatWideF(kFormat, L"PRDC", L"24.0", L"win64", 0);
        benchmark::DoNotOptimize(zoka::formatLine(L" | ", 0, zoka::LEVEL_INFO, L"", L"Zeph",
                                                  L"Utilities", L"Velkaro", L"", L"",
                                                  message.c_str()));
    }
}
BENCHMARK(BM_FormatOnly);

}  // namespace
