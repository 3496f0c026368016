// The fleet report against jq, side by side in the same iterations, on generated results files
// of realistic size and mix (five products each; failures, refusals and an odd host name among
// them):
//
//   ReportVsJq:   VelkaroReport writing its page from N files, against `jq -c .` merely reading
//                 and parsing the same files (output discarded; find and cat hand it the files).
//                 "ratio" is the report's time over jq's; report_MB and jq_MB are the peak resident
//                 memory of each.
//   ReportMemory: the report's peak memory on N files, against N files ten times larger (each
//                 product carries a long command line the report does not keep). A "ratio"
//                 near 1: memory follows the machines, not the size of the files.
//
// The files lie in $VELKARO_BENCH_DIR when set, else in the system's temporary folder; they are
// generated once per benchmark and removed afterwards.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path benchFolder() {
    const char* dir = getenv("VELKARO_BENCH_DIR");
    const fs::path base =
        dir != nullptr && *dir != '\0' ? fs::path(dir) : fs::temp_directory_path();
    std::string pattern = (base / "velkaro-report-bench-XXXXXX").string();
    return mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
}

// N results files as Velkaro writes them (indented, one per host), and their names.
class Files {
public:
    Files(int count, size_t commandLineBytes) : root_(benchFolder()) {
        static const char* const kProducts[][3] = {{"VELT", "DRXA", "21.4.0"},
                                                   {"VELT", "PLMX", "9.1"},
                                                   {"QX", "QXPR", "12.0.3"},
                                                   {"VELT", "TRNA", "3.0"},
                                                   {"QX", "QXED", "7.2"}};
        const std::string padding(commandLineBytes, 'x');
        for (int i = 0; i < count; ++i) {
            char host[32];
            std::snprintf(host, sizeof(host), "PC-%06d", i);
            const int kind = i % 50;
            const char* refusal = kind == 7    ? "\"notAdministrator\""
                                  : kind == 19 ? "\"configUnloadable\""
                                               : "null";
            const bool refused = refusal[0] == '"';
            const bool failed = kind == 3 || kind == 11 || kind == 23;
            std::string doc =
                std::string("{\n  \"formatVersion\": 1,\n  \"program\": \"Velkaro\",\n") +
                "  \"programVersion\": \"2.2.0.8\",\n" +
                "  \"startTime\": \"2026-12-07T14:05:09Z\",\n" +
                "  \"endTime\": \"2026-12-07T14:07:41Z\",\n  \"hostName\": \"" + host +
                "\",\n  \"configPath\": \"C:\\\\Deploy\\\\RemoveSuite.xml\",\n" +
                "  \"exitCode\": " +
                (refused  ? "1"
                 : failed ? "2"
                          : "0") +
                ",\n  \"refusal\": " + refusal +
                ",\n  \"stopRequest\": null,\n  \"setupProgramsLocated\": true,\n" +
                "  \"setupPrograms\": {\n    \"VELT\": \"C:\\\\Program Files\\\\Common "
                "Files\\\\Quenda\\\\ZOKA\\\\Plimm\\\\DrexCore\\\\Setup.exe\",\n" +
                "    \"QX\": null\n  },\n  \"products\": [";
            for (int p = 0; p < 5; ++p) {
                const char* outcome = refused                ? "notAttempted"
                                      : failed && p == i % 5 ? "failed"
                                      : p == 1               ? "notFound"
                                      : p == 3               ? "ignored"
                                                             : "removed";
                const bool launched = !refused && p != 3;
                doc += std::string(p ? "," : "") + "\n    {\n      \"family\": \"" +
                       kProducts[p][0] + "\",\n      \"SapCode\": \"" + kProducts[p][1] +
                       "\",\n      \"Version\": \"" + kProducts[p][2] +
                       "\",\n      \"Platform\": \"win64\",\n      \"BaseVersion\": \"" +
                       kProducts[p][2] + "\",\n      \"outcome\": \"" + outcome +
                       "\",\n      \"exitCode\": " +
                       (launched ? std::to_string(failed && p == i % 5 ? 7
                                                  : p == 1             ? 33
                                                                       : 0)
                                 : std::string("null")) +
                       ",\n      \"launchResult\": " + (launched ? "\"ok\"" : "null") +
                       ",\n      \"timedOut\": false,\n      \"seconds\": 41.207";
                if (!padding.empty())
                    doc += ",\n      \"commandLine\": \"" + padding + "\"";
                doc += "\n    }";
            }
            doc += "\n  ]\n}\n";
            std::ofstream(root_ / (std::string(host) + ".json"), std::ios::binary) << doc;
            bytes_ += doc.size();
        }
    }
    ~Files() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& root() const { return root_; }
    double megabytes() const { return static_cast<double>(bytes_) / 1e6; }

private:
    fs::path root_;
    size_t bytes_ = 0;
};

fs::path reportProgram() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "VelkaroReport";
}

struct Run {
    double seconds = 0;
    double megabytes = 0;  // peak resident memory
    int exitCode = -1;
};

Run measure(const std::vector<std::string>& words, const std::string& workDir) {
    struct rusage usage {};
    const auto start = Clock::now();
    Run run;
    run.exitCode = benchutil::runQuietly(words, workDir, &usage);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.megabytes = static_cast<double>(usage.ru_maxrss) / 1024;  // kilobytes on Linux
    return run;
}

Run runReport(const Files& files) {
    return measure({reportProgram().string(), "--out=" + (files.root() / "report.html").string(),
                    files.root().string()},
                   "");
}

void ReportVsJq(benchmark::State& state) {
    const Files files(static_cast<int>(state.range(0)), 0);
    // 100,000 names pass no command line: the files reach one jq as a stream of documents,
    // which it parses one after the other as it would named files.
    const std::vector<std::string> jq = {
        "sh", "-c", "find . -name '*.json' -exec cat {} + | jq -c . >/dev/null"};
    Run report, reference, r, j;
    for (auto _ : state) {
        r = runReport(files);
        j = measure(jq, files.root().string());
        if (r.exitCode != 2 || j.exitCode != 0) {
            state.SkipWithError("VelkaroReport did not end with 2 or jq failed (is jq installed?)");
            return;
        }
        report.seconds += r.seconds;
        reference.seconds += j.seconds;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["files_MB"] = files.megabytes();
    state.counters["report_s"] = report.seconds / n;
    state.counters["jq_s"] = reference.seconds / n;
    state.counters["ratio"] = report.seconds / reference.seconds;
    state.counters["report_MB"] = r.megabytes;
    state.counters["jq_MB"] = j.megabytes;
}
BENCHMARK(ReportVsJq)->Arg(100000)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void ReportMemory(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const Files small(count, 0);
    const Files large(count, 2000);
    Run s, l;
    for (auto _ : state) {
        s = runReport(small);
        l = runReport(large);
        if (s.exitCode != 2 || l.exitCode != 2) {
            state.SkipWithError("VelkaroReport did not end with 2");
            return;
        }
    }
    state.counters["small_files_MB"] = small.megabytes();
    state.counters["large_files_MB"] = large.megabytes();
    state.counters["small_peak_MB"] = s.megabytes;
    state.counters["large_peak_MB"] = l.megabytes;
    state.counters["ratio"] = l.megabytes / s.megabytes;
}
BENCHMARK(ReportMemory)->Arg(20000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
