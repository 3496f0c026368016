// Whole-program benchmarks: the real Velkaro as a process, each compared side by side, in the
// same iterations, with a reference measured the same way.
//
//   RunOverhead: removing 200 products whose setup program exits at once, with a results file
//                (written at the start, as products are handled and at the end), against the
//                job's floor: a plain loop that, 200 times, writes and flushes a parameter file
//                and starts the same setup program with the same arguments.
//                "ratio_without_results" is the same run without a results file.
//   ConfigSize:  loading and listing 10,000 products against 1,000 (no setup program present,
//                so every product is only listed and reported as ignored).
//
// The counter "ratio" is the program's time over the reference's. Needs root (the program
// refuses to run otherwise) and no other instance running. The scenes lie in
// $VELKARO_BENCH_DIR when set, else in the system's temporary folder: the program flushes each
// parameter file to disk, so the file system shows in RunOverhead.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_process.h"

namespace {

namespace fs = std::filesystem;
using benchutil::runQuietly;
using Clock = std::chrono::steady_clock;

fs::path programFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

// A machine of the benchmark's own: temporary folder and program-files roots, set in the
// environment the program inherits.
// Taken once, before any scene points TMPDIR elsewhere.
const fs::path& benchBase() {
    static const fs::path base = [] {
        const char* dir = getenv("VELKARO_BENCH_DIR");
        return dir != nullptr && *dir != '\0' ? fs::path(dir) : fs::temp_directory_path();
    }();
    return base;
}

class Scene {
public:
    Scene() {
        std::string pattern = (benchBase() / "velkaro-bench-XXXXXX").string();
        root_ = mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
        fs::create_directories(root_ / "Temp");
        fs::create_directories(root_ / "Common Files");
        fs::create_directories(root_ / "Program Files");
        setenv("TMPDIR", (root_ / "Temp").c_str(), 1);
        setenv("CommonProgramFiles", (root_ / "Common Files").c_str(), 1);
        setenv("ProgramFiles", (root_ / "Program Files").c_str(), 1);
    }
    ~Scene() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path veltSetup() const {
        return root_ / "Common Files/Quenda/ZOKA/Plimm/DrexCore/Setup.exe";
    }
    void placeVeltSetup() {
        fs::create_directories(veltSetup().parent_path());
        fs::copy_file(programFolder() / "standin_setup", veltSetup(),
                      fs::copy_options::overwrite_existing);
        std::ofstream(veltSetup().string() + ".cfg") << "STANDIN_EXIT=0\n";
    }
    fs::path writeConfig(const std::string& name, int velt, int qx) {
        fs::path file = root_ / name;
        std::ofstream out(file);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ZephUninstallXML><UninstallInfo>"
            << "<VELT><Products>\n";
        for (int i = 0; i < velt; ++i) {
            out << "<Product><SapCode>V" << i << "</SapCode><Version>1.0." << i
                << "</Version><Platform>win64</Platform><DeploymentUninstall><Deployment>"
                << "<Payload code=\"V" << i
                << "\"/></Deployment></DeploymentUninstall></Product>\n";
        }
        out << "</Products></VELT><QX><Products>\n";
        for (int i = 0; i < qx; ++i) {
            out << "<Product><SapCode>Q" << i << "</SapCode><Version>2.0." << i
                << "</Version><Platform>win64</Platform><BaseVersion>2.0</BaseVersion></Product>\n";
        }
        out << "</Products></QX></UninstallInfo></ZephUninstallXML>\n";
        return file;
    }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

double secondsOf(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Writes the file and flushes it to disk, as the program writes each parameter file.
bool writeFlushed(const fs::path& file, const std::string& bytes) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                    fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

int runVelkaro(const fs::path& config, const fs::path& resultFile = fs::path()) {
    std::vector<std::string> words = {(programFolder() / "Velkaro").string(),
                                      "--uninstallConfigPath=" + config.string()};
    if (!resultFile.empty())
        words.push_back("--resultFile=" + resultFile.string());
    return runQuietly(words);
}

void RunOverhead(benchmark::State& state) {
    const int products = static_cast<int>(state.range(0));
    Scene scene;
    scene.placeVeltSetup();
    const fs::path config = scene.writeConfig("config.xml", products, 0);
    // The reference writes the same kind of parameter file for each product, in a GUID-named
    // place, flushed to disk as the program does, and removes them all at the end.
    const fs::path params = scene.root() / "Temp/reference";
    fs::create_directories(params);
    double program = 0, reference = 0, plain = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        if (runVelkaro(config, scene.root() / "results.json") != 0) {
            state.SkipWithError("Velkaro did not end with 0 (not root, or another instance?)");
            return;
        }
        program += secondsOf(start);
        start = Clock::now();
        runVelkaro(config);
        plain += secondsOf(start);
        start = Clock::now();
        for (int i = 0; i < products; ++i) {
            const fs::path param =
                params / ("{00000000-0000-4000-8000-" + std::to_string(100000000000 + i) + "}");
            if (!writeFlushed(param, "<Deployment><Payload code=\"V" + std::to_string(i) +
                                         "\"/></Deployment>")) {
                state.SkipWithError("cannot write the reference's parameter file");
                return;
            }
            runQuietly({scene.veltSetup().string(), "--deploymentFile=\"" + param.string() + "\""},
                       scene.veltSetup().parent_path().string());
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(params))
            fs::remove(entry.path());
        reference += secondsOf(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["program_s"] = program / n;
    state.counters["reference_s"] = reference / n;
    state.counters["ratio"] = program / reference;
    state.counters["ratio_without_results"] = plain / reference;
}
BENCHMARK(RunOverhead)->Arg(200)->Iterations(5)->Unit(benchmark::kMillisecond);

void ConfigSize(benchmark::State& state) {
    const int large = static_cast<int>(state.range(0));
    const int small = large / 10;
    Scene scene;
    const fs::path smallConfig = scene.writeConfig("small.xml", small / 2, small - small / 2);
    const fs::path largeConfig = scene.writeConfig("large.xml", large / 2, large - large / 2);
    double largeTime = 0, smallTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        const int largeCode = runVelkaro(largeConfig);
        largeTime += secondsOf(start);
        start = Clock::now();
        const int smallCode = runVelkaro(smallConfig);
        smallTime += secondsOf(start);
        if (largeCode != 0 || smallCode != 0) {
            state.SkipWithError("Velkaro did not end with 0 (not root, or another instance?)");
            return;
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["large_s"] = largeTime / n;
    state.counters["small_s"] = smallTime / n;
    state.counters["ratio"] = largeTime / smallTime;
}
BENCHMARK(ConfigSize)->Arg(10000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
