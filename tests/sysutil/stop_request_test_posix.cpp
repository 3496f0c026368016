#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/unicode.h"
#include "sysutil/stop_request.h"
#include "test_util.h"

namespace {

// Real signals to this process: each is counted and named by the first one, none ends it.
TEST(StopRequest, SignalsAreCountedNotFatal) {
    ASSERT_TRUE(korr::installStopHandlers());
    const struct {
        int signo;
        const wchar_t* name;
    } cases[] = {{SIGINT, L"SIGINT"}, {SIGTERM, L"SIGTERM"}, {SIGHUP, L"SIGHUP"}};
    for (const auto& c : cases) {
        // A signal this test process inherited as ignored stays ignored (see the header).
        struct sigaction now = {};
        if (::sigaction(c.signo, nullptr, &now) == 0 && now.sa_handler == SIG_IGN)
            continue;
        korr::clearStopRequests();
        EXPECT_EQ(korr::stopRequestCount(), 0);
        EXPECT_STREQ(korr::stopRequestName(), L"");
        ASSERT_EQ(::raise(c.signo), 0);
        ASSERT_EQ(::raise(SIGTERM), 0);
        EXPECT_EQ(korr::stopRequestCount(), 2);
        EXPECT_STREQ(korr::stopRequestName(), c.name) << "the first request names the stop";
    }
    korr::clearStopRequests();
}

// The first request's line goes to standard error from inside the handler: a reader that went
// away (a closed console pipe) must not end the run with SIGPIPE there.
TEST(StopRequest, FirstRequestSpeaksEvenToAClosedPipe) {
    ASSERT_TRUE(korr::installStopHandlers());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int ends[2];
        if (::pipe(ends) != 0 || ::dup2(ends[1], STDERR_FILENO) < 0)
            ::_exit(4);
        ::close(ends[0]);
        korr::clearStopRequests();
        korr::setStopNotice(L"(P/1/w) is finishing.");
        ::raise(SIGTERM);
        ::_exit(korr::stopRequestCount() == 1 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// In a fresh process: SIGHUP ignored first when args[0] is "nohup", the notice args[1], then
// SIGHUP and SIGTERM. 0 when the count, the name and the line on standard error are args[2..4].
int stopInFreshProcess(const std::vector<std::wstring>& args) {
    if (args.size() != 5)
        return 9;
    ::signal(SIGHUP, args[0] == L"nohup" ? SIG_IGN : SIG_DFL);
    int ends[2];
    if (::pipe(ends) != 0 || ::dup2(ends[1], STDERR_FILENO) < 0)
        return 8;
    if (!korr::installStopHandlers())
        return 7;
    korr::setStopNotice(args[1]);
    ::raise(SIGHUP);
    ::raise(SIGTERM);
    ::close(ends[1]);
    ::close(STDERR_FILENO);
    std::string said;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(ends[0], buffer, sizeof(buffer))) > 0)
        said.append(buffer, static_cast<size_t>(n));
    if (std::to_wstring(korr::stopRequestCount()) != args[2] || korr::stopRequestName() != args[3])
        return 1;
    return said == zoka::toUtf8(args[4]) + "\n" ? 0 : 2;
}
[[maybe_unused]] const bool freshRegistered =
    testutil::registerChild("stop-fresh-process", stopInFreshProcess);

// A SIGHUP that nohup ignores stays ignored; the first request's line is the notice, cut to its
// buffer only at a character's boundary.
TEST(StopRequest, IgnoredHangupAndTheNoticeLine) {
    const std::wstring head = L"Stop requested (";
    const std::wstring fits = std::wstring(509, L'a') + L"\u00e9";      // 511 bytes: whole
    const std::wstring two = std::wstring(510, L'a') + L"\u00e9";       // cut inside the last
    const std::wstring four = std::wstring(508, L'a') + L"\U0001F3FF";  // cut inside the last
    const struct {
        const char* name;
        std::wstring hangup;
        std::wstring notice;
        std::wstring count;
        std::wstring signal;
        std::wstring line;
    } cases[] = {
        {"SIGHUP under nohup", L"nohup", L"(P/1/w) is finishing.", L"1", L"SIGTERM",
         head + L"SIGTERM): (P/1/w) is finishing."},
        {"SIGHUP", L"default", L"(P/1/w) is finishing.", L"2", L"SIGHUP",
         head + L"SIGHUP): (P/1/w) is finishing."},
        {"notice that fits", L"nohup", fits, L"1", L"SIGTERM", head + L"SIGTERM): " + fits},
        {"cut at a two-byte character", L"nohup", two, L"1", L"SIGTERM",
         head + L"SIGTERM): " + std::wstring(510, L'a')},
        {"cut at a four-byte character", L"nohup", four, L"1", L"SIGTERM",
         head + L"SIGTERM): " + std::wstring(508, L'a')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(testutil::runSelf(
                      {L"stop-fresh-process", c.hangup, c.notice, c.count, c.signal, c.line}),
                  0);
    }
}

}  // namespace
