// A parent that closes the program's standard streams must not get the console written into
// the log file that takes their descriptor.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include "base/unicode.h"
#include "e2e/e2e_run.h"

extern char** environ;

namespace e2e {
namespace {

TEST(E2eStreams, ClosedStandardStreamsLeaveTheLogIntact) {
    Scene scene;
    const std::string program = zoka::toUtf8(testutil::siblingProgram(L"Velkaro"));
    const std::string tmpdir = "TMPDIR=" + zoka::toUtf8(scene.temp());
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("TMPDIR=", 0) != 0)
            envp.push_back(*e);
    envp.push_back(const_cast<char*>(tmpdir.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--help"), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addclose(&actions, fd);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Every line of the log is a log line: no console text in between.
    EXPECT_EQ(matchLog(scene.logSummary(), helpLog()), helpLog());
}

}  // namespace
}  // namespace e2e
