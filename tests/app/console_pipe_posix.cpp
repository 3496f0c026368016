// The console writer on POSIX: exact UTF-8 bytes on the descriptor, and a reader that went away
// costs the line, not the program.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "support/console.h"

namespace {

// Points descriptor 1 at `fd` for the object's lifetime.
class StdoutRedirect {
public:
    explicit StdoutRedirect(int fd) : saved_(::dup(STDOUT_FILENO)) { ::dup2(fd, STDOUT_FILENO); }
    ~StdoutRedirect() {
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }

private:
    int saved_;
};

std::string drain(int fd) {
    std::string bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof(buffer))) > 0)
        bytes.append(buffer, static_cast<size_t>(n));
    return bytes;
}

TEST(ConsolePosixTest, PiecesBecomeOneUtf8LinePerCall) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        StdoutRedirect redirect(fds[1]);
        zoka::console::out({L"\t\t(", L"\u00e9t\u00e9", L"/", L"\u4e2d\U0001F600", L"/%s%n)"});
        zoka::console::out({});
        zoka::console::out({L"after"});
    }
    ::close(fds[1]);
    EXPECT_EQ(drain(fds[0]),
              "\t\t(\xC3\xA9t\xC3\xA9/\xE4\xB8\xAD\xF0\x9F\x98\x80/%s%n)\n\nafter\n");
    ::close(fds[0]);
}

TEST(ConsolePosixTest, ClosedReaderNeitherKillsNorSilencesTheProgram) {
    struct sigaction old = {};
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &dfl, &old);  // the default action would end the process
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    {
        StdoutRedirect redirect(fds[1]);
        for (int i = 0; i < 3; ++i)
            zoka::console::out({L"nobody reads this"});
    }
    ::close(fds[1]);
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "no SIGPIPE left waiting";
    ::sigaction(SIGPIPE, &old, nullptr);

    // The next stream still works.
    ASSERT_EQ(::pipe(fds), 0);
    {
        StdoutRedirect redirect(fds[1]);
        zoka::console::out({L"still here"});
    }
    ::close(fds[1]);
    EXPECT_EQ(drain(fds[0]), "still here\n");
    ::close(fds[0]);
}

TEST(ConsolePosixTest, SinkTakesTheLineWithoutItsEnd) {
    std::wstring seen;
    zoka::console::Stream stream = zoka::console::Stream::Out;
    zoka::console::setSink([&](zoka::console::Stream s, const std::wstring& text) {
        stream = s;
        seen = text;
    });
    zoka::console::err({L"a", L"", L"b"});
    zoka::console::setSink(nullptr);
    EXPECT_EQ(seen, L"ab");
    EXPECT_EQ(stream, zoka::console::Stream::Err);
}

}  // namespace
