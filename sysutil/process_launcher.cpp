#include "sysutil/process_launcher.h"

#include "base/platform.h"
#include "logging/shared_logger.h"
#include "support/file_utils.h"
#include "sysutil/process_launcher_platform.h"
#include "sysutil/stop_request.h"

#include <chrono>

namespace korr {
namespace {

constexpr wchar_t kModule[] = L"KorrUtilities";

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

}  // namespace

std::wstring buildCommandLine(const std::wstring& programPath,
                              const std::vector<std::wstring>& arguments, bool quoteProgramPath) {
    std::wstring commandLine;
    if (quoteProgramPath) {
        commandLine += L'"';
        commandLine += programPath;
        commandLine += L"\" ";
    }
    for (const std::wstring& argument : arguments) {
        commandLine += argument;
        commandLine += L' ';
    }
    return commandLine;
}

std::vector<std::wstring> splitCommandLine(const std::wstring& commandLine) {
    std::vector<std::wstring> words;
    const size_t n = commandLine.size();
    if (n == 0)
        return words;

    // Word 0 names the program and knows no escapes: a quoted one ends at the next quote, an
    // unquoted one at the first blank.
    size_t i = 0;
    std::wstring word;
    if (commandLine[0] == L'"') {
        for (++i; i < n && commandLine[i] != L'"'; ++i)
            word += commandLine[i];
        if (i < n)
            ++i;
    } else {
        for (; i < n && !isBlank(commandLine[i]); ++i)
            word += commandLine[i];
    }
    words.push_back(word);
    while (i < n && isBlank(commandLine[i]))
        ++i;
    if (i == n)
        return words;

    // The other words: 2n backslashes and a quote give n backslashes and toggle quoting;
    // 2n+1 backslashes and a quote give n backslashes and a literal quote. Inside quotes, a run
    // of quotes counts in threes: every third one is a literal quote.
    word.clear();
    int quoteCount = 0;
    size_t backslashes = 0;
    while (i < n) {
        const wchar_t c = commandLine[i];
        if (isBlank(c) && quoteCount == 0) {
            words.push_back(word);
            word.clear();
            backslashes = 0;
            while (i < n && isBlank(commandLine[i]))
                ++i;
            if (i == n)
                return words;
        } else if (c == L'\\') {
            word += c;
            ++backslashes;
            ++i;
        } else if (c == L'"') {
            if (backslashes % 2 == 0) {
                word.erase(word.size() - backslashes / 2);
                ++quoteCount;
            } else {
                word.erase(word.size() - backslashes / 2 - 1);
                word += L'"';
            }
            backslashes = 0;
            for (++i; i < n && commandLine[i] == L'"'; ++i) {
                if (++quoteCount == 3) {
                    word += L'"';
                    quoteCount = 0;
                }
            }
            if (quoteCount == 2)
                quoteCount = 0;
        } else {
            word += c;
            backslashes = 0;
            ++i;
        }
    }
    words.push_back(word);
    return words;
}

namespace detail {
namespace {

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

WaitWatch::WaitWatch(const LaunchLimits& limits)
    : limits_(limits), startMs_(nowMs()), stopsAtStart_(0) {}

WaitStep WaitWatch::check(unsigned long processId) {
    if (!running_) {
        running_ = true;
        if (limits_.whileRunning)
            limits_.whileRunning();
    }
    const int stops = stopRequestCount();
    if (stops > 0 && !stopReported_) {
        stopReported_ = true;
        stopsAtStart_ = stops;
        if (limits_.onStopRequest)
            limits_.onStopRequest(processId);
    }
    // A request that came before the program started counts as the first one only.
    if (stopReported_ && stops > stopsAtStart_)
        return WaitStep::EndForStop;
    if (limits_.timeoutSeconds > 0 &&
        nowMs() - startMs_ >= static_cast<int64_t>(limits_.timeoutSeconds) * 1000)
        return WaitStep::EndForTimeout;
    return WaitStep::KeepWaiting;
}

int64_t WaitWatch::remainingMs() const {
    if (limits_.timeoutSeconds == 0)
        return -1;
    const int64_t left = static_cast<int64_t>(limits_.timeoutSeconds) * 1000 - (nowMs() - startMs_);
    return left > 0 ? left : 1;
}

double WaitWatch::elapsedSeconds() const {
    return static_cast<double>(nowMs() - startMs_) / 1000.0;
}

}  // namespace detail

LaunchResult runProcessAndWait(const std::wstring& programPath,
                               const std::vector<std::wstring>& arguments, uint32_t& exitCode,
                               const std::wstring& workingDirectory, bool quoteProgramPath) {
    return runProcessAndWait(programPath, arguments, exitCode, workingDirectory, quoteProgramPath,
                             LaunchLimits(), nullptr);
}

LaunchResult runProcessAndWait(const std::wstring& programPath,
                               const std::vector<std::wstring>& arguments, uint32_t& exitCode,
                               const std::wstring& workingDirectory, bool quoteProgramPath,
                               const LaunchLimits& limits, LaunchDetails* details) {
    Logger& logger = getSharedLogger();
    if (!zoka::os::pathExists(programPath)) {
        logError(logger, kModule, L"CreateProcess failed. PathToProcess does not exist.\n");
        return LAUNCH_NOT_STARTED;
    }

    const std::wstring commandLine = buildCommandLine(programPath, arguments, quoteProgramPath);

    std::wstring workingFolder = workingDirectory;
    if (workingFolder.empty()) {
        workingFolder = programPath;
        if (!zoka::removeFileSpec(workingFolder)) {
            logError(logger, kModule, L"Failed to remove file spec from Path");
            return LAUNCH_NOT_STARTED;
        }
    }

    logInfo(logger, kModule,
            L"Path to Process :%ls Process Directory :%ls arguments being passed :%ls",
            programPath.c_str(), workingFolder.c_str(), commandLine.c_str());

    detail::WaitWatch watch(limits);
    LaunchDetails local;
    LaunchDetails& filled = details != nullptr ? *details : local;
    filled = LaunchDetails();
    const LaunchResult result = detail::startAndWait(
        logger, programPath, commandLine, workingFolder, quoteProgramPath, exitCode, watch, filled);
    filled.seconds = filled.processId != 0 ? watch.elapsedSeconds() : 0;
    logInfo(logger, kModule, L"Process creation completed.");
    return result;
}

}  // namespace korr
