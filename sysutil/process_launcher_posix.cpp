#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/unicode.h"
#include "base/unique_fd.h"
#include "logging/shared_logger.h"
#include "sysutil/process_launcher_platform.h"
#include "sysutil/stop_request_platform.h"

extern char** environ;

namespace korr::detail {
namespace {

using zoka::posix::UniqueFd;

constexpr wchar_t kModule[] = L"KorrUtilities";

// ---- Waking on a child's end ----------------------------------------------------------------

// glibc has no wrapper; a kernel without the call answers ENOSYS.
int openPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// Where the kernel has no pidfd, a SIGCHLD handler writes into this pipe instead.
int childWakeRead = -1;
int childWakeWrite = -1;

void onChildSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(childWakeWrite, &byte, 1);
    errno = savedErrno;
}

void drain(int fd) {
    char buffer[64];
    while (::read(fd, buffer, sizeof(buffer)) > 0) {
    }
}

// Decided once per process, before the first child is started: pidfds, or the SIGCHLD pipe.
// The orphans a setup program leaves come to this process (subreaper) so that they can be
// found, ended and reaped.
bool usePidfd() {
    static const bool pidfd = [] {
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        const int fd = openPidfd(::getpid());
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return false;
        childWakeRead = ends[0];
        childWakeWrite = ends[1];
        struct sigaction action = {};
        action.sa_handler = onChildSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
        ::sigaction(SIGCHLD, &action, nullptr);
        return false;
    }();
    return pidfd;
}

bool hasExited(pid_t child) {
    siginfo_t info = {};
    return ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == child;
}

// Blocks until one of `children` (children of this process, not yet reaped) has ended, a stop
// request came, or `timeoutMs` passed (-1: no limit). No slice: the kernel wakes the wait.
void waitForAnyEnd(const std::vector<pid_t>& children, int64_t timeoutMs) {
    const int timeout =
        timeoutMs < 0 ? -1 : static_cast<int>(std::min<int64_t>(timeoutMs, 1 << 30));
    std::vector<UniqueFd> owners;
    std::vector<struct pollfd> fds;
    fds.push_back({stopRequestPipe(), POLLIN, 0});
    if (usePidfd()) {
        for (pid_t child : children) {
            owners.emplace_back(openPidfd(child));
            if (!owners.back().valid())
                return;  // already reaped or gone: the caller looks again
            fds.push_back({owners.back().get(), POLLIN, 0});
        }
    } else {
        if (childWakeRead < 0)
            return;
        // Emptied before looking, so that an end after the look still wakes the poll.
        drain(childWakeRead);
        for (pid_t child : children) {
            if (hasExited(child))
                return;
        }
        fds.push_back({childWakeRead, POLLIN, 0});
    }
    ::poll(fds.data(), fds.size(), timeout);
    drainStopRequestPipe();
}

// ---- The setup program's tree -----------------------------------------------------------------

struct ProcessEntry {
    pid_t pid = 0;
    pid_t parent = 0;
    pid_t group = 0;
    char state = '?';
    unsigned long long startTicks = 0;
    std::string name;
};

bool readEntry(pid_t pid, ProcessEntry& entry) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return false;
    char buffer[1024];
    const ssize_t n = ::read(fd.get(), buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return false;
    const std::string text(buffer, static_cast<size_t>(n));
    // "pid (name) state parent ..." where the name may hold blanks and parentheses.
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    entry.pid = pid;
    entry.name = text.substr(open + 1, close - open - 1);
    std::vector<std::string> fields;
    size_t start = close + 2;
    while (start < text.size() && fields.size() < 20) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (fields.size() < 20 || fields[0].empty())
        return false;
    entry.state = fields[0][0];
    entry.parent = static_cast<pid_t>(std::strtol(fields[1].c_str(), nullptr, 10));
    entry.group = static_cast<pid_t>(std::strtol(fields[2].c_str(), nullptr, 10));
    entry.startTicks = std::strtoull(fields[19].c_str(), nullptr, 10);
    return true;
}

// The ids of the process's threads other than its main one.
std::vector<std::string> otherThreads(pid_t pid) {
    std::vector<std::string> threads;
    const std::string taskFolder = "/proc/" + std::to_string(pid) + "/task";
    DIR* tasks = ::opendir(taskFolder.c_str());
    if (tasks == nullptr)
        return threads;
    const std::string leader = std::to_string(pid);
    while (const struct dirent* task = ::readdir(tasks)) {
        if (task->d_name[0] != '.' && task->d_name != leader)
            threads.push_back(task->d_name);
    }
    ::closedir(tasks);
    return threads;
}

// A process whose main thread has ended reads as a zombie ('Z') while its other threads run;
// only a zombie without any other thread has ended.
bool isRunning(const ProcessEntry& entry) {
    return (entry.state != 'Z' && entry.state != 'X') || !otherThreads(entry.pid).empty();
}

// The file name of the process's program (read through a running thread: an ended main thread
// has none); the kernel's short name when no link is readable.
std::wstring programName(const ProcessEntry& entry) {
    const std::string base = "/proc/" + std::to_string(entry.pid);
    std::vector<std::string> links = {base + "/exe"};
    for (const std::string& thread : otherThreads(entry.pid))
        links.push_back(base + "/task/" + thread + "/exe");
    std::vector<char> buffer(4096);
    for (const std::string& link : links) {
        const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (n > 0 && static_cast<size_t>(n) < buffer.size()) {
            const std::string path(buffer.data(), static_cast<size_t>(n));
            return zoka::fromUtf8(path.substr(path.rfind('/') + 1));
        }
    }
    return zoka::fromUtf8(entry.name);
}

// The children of `pid` (every thread's), from /proc/<pid>/task/*/children. A process that is
// gone has none.
void readChildren(pid_t pid, std::vector<pid_t>& children) {
    const std::string taskFolder = "/proc/" + std::to_string(pid) + "/task";
    DIR* tasks = ::opendir(taskFolder.c_str());
    if (tasks == nullptr)
        return;
    while (const struct dirent* task = ::readdir(tasks)) {
        if (task->d_name[0] == '.')
            continue;
        const std::string path = taskFolder + "/" + task->d_name + "/children";
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.valid())
            continue;
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd.get(), buffer, sizeof(buffer))) > 0)
            text.append(buffer, static_cast<size_t>(n));
        const char* p = text.c_str();
        char* end = nullptr;
        for (long value = std::strtol(p, &end, 10); end != p; value = std::strtol(p, &end, 10)) {
            children.push_back(static_cast<pid_t>(value));
            p = end;
        }
    }
    ::closedir(tasks);
}

// Every process's parent, from a walk of /proc: the slow way, for kernels without child lists.
void childrenFromScan(pid_t parent, std::vector<pid_t>& children) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return;
    while (const struct dirent* item = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(item->d_name, &end, 10);
        ProcessEntry entry;
        if (*end == '\0' && pid > 0 && readEntry(static_cast<pid_t>(pid), entry) &&
            entry.parent == parent)
            children.push_back(entry.pid);
    }
    ::closedir(proc);
}

std::vector<pid_t> childrenOf(pid_t pid) {
    static const bool listsWork = [] {
        const std::string path = "/proc/self/task/" + std::to_string(::getpid()) + "/children";
        return ::access(path.c_str(), R_OK) == 0;
    }();
    std::vector<pid_t> children;
    if (listsWork)
        readChildren(pid, children);
    else
        childrenFromScan(pid, children);
    return children;
}

/// A process by its id and start, which together never name two processes.
using ProcessKey = std::pair<pid_t, unsigned long long>;

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

/// What earlier launches left running, and the process groups they ran in: theirs, never a
/// later launch's. A process one of them starts later is in its group or is seen below it, and
/// stays theirs when it comes to this process as an orphan.
class EarlierLeftovers {
public:
    /// True when `entry` is one of them or in one of their groups (never `ownGroup`).
    bool holds(const ProcessEntry& entry, pid_t ownGroup) const {
        return std::find(keys_.begin(), keys_.end(), ProcessKey(entry.pid, entry.startTicks)) !=
                   keys_.end() ||
               (entry.group != ownGroup &&
                std::find(groups_.begin(), groups_.end(), entry.group) != groups_.end());
    }

    void add(const ProcessEntry& entry) {
        const ProcessKey key(entry.pid, entry.startTicks);
        if (std::find(keys_.begin(), keys_.end(), key) == keys_.end())
            keys_.push_back(key);
        if (entry.group > 0 &&
            std::find(groups_.begin(), groups_.end(), entry.group) == groups_.end())
            groups_.push_back(entry.group);
    }

    /// Takes in the processes they have started since, while they still run below them.
    void addDescendants() {
        std::vector<pid_t> pending;
        for (const ProcessKey& key : keys_) {
            ProcessEntry entry;
            if (readEntry(key.first, entry) && entry.startTicks == key.second)
                pending.push_back(key.first);
        }
        while (!pending.empty() && keys_.size() < kMostKept) {
            const pid_t parent = pending.back();
            pending.pop_back();
            for (pid_t child : childrenOf(parent)) {
                ProcessEntry entry;
                if (readEntry(child, entry) && entry.parent == parent &&
                    std::find(keys_.begin(), keys_.end(), ProcessKey(child, entry.startTicks)) ==
                        keys_.end()) {
                    add(entry);
                    pending.push_back(child);
                }
            }
        }
    }

    /// Reaps the ones that have ended since and came to this process (the subreaper), and
    /// forgets the ones that are gone, and the groups that are empty: a long run would otherwise
    /// gather their zombies, and a group's number may name a new group once it is empty.
    void reapEnded() {
        const pid_t self = ::getpid();
        keys_.erase(
            std::remove_if(keys_.begin(), keys_.end(),
                           [self](const ProcessKey& key) {
                               ProcessEntry entry;
                               if (!readEntry(key.first, entry) || entry.startTicks != key.second)
                                   return true;
                               if (entry.state != 'Z' || entry.parent != self)
                                   return false;
                               int status = 0;
                               return ::waitpid(key.first, &status, WNOHANG) == key.first;
                           }),
            keys_.end());
        groups_.erase(
            std::remove_if(groups_.begin(), groups_.end(),
                           [](pid_t group) { return ::kill(-group, 0) != 0 && errno == ESRCH; }),
            groups_.end());
    }

private:
    static constexpr size_t kMostKept = 100000;
    std::vector<ProcessKey> keys_;
    std::vector<pid_t> groups_;
};

EarlierLeftovers& earlierLeftovers() {
    static EarlierLeftovers leftovers;
    return leftovers;
}

/// One launch's tree: the program while it runs, and every process it started. Once the
/// program has ended, its orphans are children of this process (the subreaper) that started no
/// earlier than the program did; earlier launches' leftovers started before (or are
/// remembered) and stay out, with what they start later.
class ProcessTree {
public:
    ProcessTree(pid_t program) : program_(program) {
        ProcessEntry entry;
        if (readEntry(program, entry))
            startTicks_ = entry.startTicks;
    }

    /// The tree's processes now, ended ones included (their state is 'Z').
    std::vector<ProcessEntry> members() const {
        std::vector<ProcessEntry> found;
        const pid_t self = ::getpid();
        EarlierLeftovers& earlier = earlierLeftovers();
        earlier.addDescendants();
        std::vector<pid_t> pending;
        for (pid_t child : childrenOf(self)) {
            ProcessEntry entry;
            if (readEntry(child, entry) && entry.parent == self &&
                (child == program_ ||
                 (entry.startTicks >= startTicks_ && !earlier.holds(entry, program_)))) {
                found.push_back(entry);
                pending.push_back(child);
            }
        }
        while (!pending.empty() && found.size() < kMostMembers) {
            const pid_t parent = pending.back();
            pending.pop_back();
            for (pid_t child : childrenOf(parent)) {
                ProcessEntry entry;
                if (readEntry(child, entry) && entry.parent == parent) {
                    found.push_back(entry);
                    pending.push_back(child);
                }
            }
        }
        return found;
    }

    /// Ends every process of the tree, the ones that left the program's group or session and
    /// the ones whose main thread has ended included, and reaps those that come to this
    /// process, within kMostEndMs whatever the tree does. `programReaped`: the program's group
    /// may be gone and its number reused, so it is not signalled as a group.
    void end(bool programReaped) const {
        if (!programReaped)
            ::kill(-program_, SIGKILL);
        const pid_t self = ::getpid();
        const int64_t deadline = nowMs() + kMostEndMs;
        // Each pass kills what it finds; a process started between a look and a kill is an
        // orphan of a killed parent by the next pass. Ends when a pass finds nothing.
        for (int pass = 0; pass < kMostPasses; ++pass) {
            const std::vector<ProcessEntry> found = members();
            if (found.empty())
                return;
            const int64_t left = deadline - nowMs();
            if (left <= 0) {
                // Stuck in the kernel: left to it, and kept out of later launches' trees.
                for (const ProcessEntry& entry : found)
                    earlierLeftovers().add(entry);
                return;
            }
            std::vector<pid_t> ours;
            for (const ProcessEntry& entry : found) {
                if (isRunning(entry))
                    ::kill(entry.pid, SIGKILL);
                if (entry.parent == self)
                    ours.push_back(entry.pid);
            }
            bool reapedOne = false;
            for (pid_t pid : ours) {
                int status = 0;
                reapedOne = ::waitpid(pid, &status, WNOHANG) == pid || reapedOne;
            }
            if (reapedOne)
                continue;
            if (ours.empty())
                ::sched_yield();  // only others' zombies: their killed parents are ending
            else
                waitForAnyEnd(ours, left);
        }
    }

    /// Reaps the tree's processes that have ended and came to this process.
    void reapEnded() const {
        const pid_t self = ::getpid();
        for (const ProcessEntry& entry : members()) {
            int status = 0;
            if (entry.parent == self && entry.state == 'Z')
                ::waitpid(entry.pid, &status, WNOHANG);
        }
    }

    /// The running processes of the tree, for the caller's report; later launches leave them
    /// (and what they start) out of their trees.
    std::vector<LeftoverProcess> leaveBehind() const {
        std::vector<LeftoverProcess> list;
        for (const ProcessEntry& entry : members()) {
            if (isRunning(entry)) {
                list.push_back({static_cast<unsigned long>(entry.pid), programName(entry)});
                earlierLeftovers().add(entry);
            }
        }
        return list;
    }

    /// The running processes that are children of this process: the ones whose end wakes a
    /// wait. Every other running process of the tree has a running parent among them.
    std::vector<pid_t> roots() const {
        std::vector<pid_t> list;
        const pid_t self = ::getpid();
        for (const ProcessEntry& entry : members()) {
            if (entry.parent == self)
                list.push_back(entry.pid);
        }
        return list;
    }

private:
    static constexpr size_t kMostMembers = 100000;
    static constexpr int kMostPasses = 1000;
    /// From the limit to the caller's next step: a few seconds at most.
    static constexpr int64_t kMostEndMs = 2000;
    pid_t program_;
    unsigned long long startTicks_ = 0;
};

// ---- Starting the program ---------------------------------------------------------------------

// A relative program path names a file in the caller's current folder, as CreateProcessW's
// application name does; the child changes folder before exec, so anchor it first.
std::string absoluteProgram(const std::string& program) {
    if (!program.empty() && program[0] == '/')
        return program;
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return program;
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data()) + "/" + program;
}

// Closes every descriptor from 3 up; only async-signal-safe calls (in the new child).
void closeInherited() {
    if (::close_range(3, ~0U, 0) == 0)
        return;
    struct rlimit limit = {};
    const rlim_t most = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
    for (rlim_t fd = 3; fd < std::min<rlim_t>(most, 65536); ++fd)
        ::close(static_cast<int>(fd));
}

/// What the new child needs, and where it leaves the error number of a failed start. The
/// child shares this process's memory until its exec, and this process waits meanwhile.
struct ChildStart {
    const char* program;
    char* const* argv;
    const char* folder;
    pid_t parent;
    sigset_t parentMask;
    int error;
};

// Runs in the child before exec, on a stack of its own, sharing the parent's memory: only
// async-signal-safe calls, and nothing written but `start->error`.
[[gnu::no_sanitize_address]] int becomeProgram(void* argument) {
    ChildStart* start = static_cast<ChildStart*>(argument);
    // The parent's handlers would run here on the parent's memory: a stop request meant for
    // the parent would be counted twice. Until exec, every caught signal does its default.
    for (int signo = 1; signo < NSIG; ++signo) {
        struct sigaction action = {};
        if (::sigaction(signo, nullptr, &action) == 0 && action.sa_handler != SIG_IGN &&
            action.sa_handler != SIG_DFL) {
            action = {};
            action.sa_handler = SIG_DFL;
            ::sigaction(signo, &action, nullptr);
        }
    }
    ::sigprocmask(SIG_SETMASK, &start->parentMask, nullptr);
    // A group of its own: ending it reaches every process it started, and a terminal's Ctrl+C
    // reaches only Velkaro, which decides what to do.
    if (::setpgid(0, 0) != 0) {
        start->error = errno;
    } else if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
        start->error = errno;
    } else if (::getppid() != start->parent) {
        // Velkaro died before the line above: nobody would end this program any more.
        start->error = ESRCH;
    } else if (::chdir(start->folder) != 0) {
        start->error = errno;
    } else {
        // No descriptor of ours beyond the standard three reaches the program, like a process
        // created without handle inheritance.
        closeInherited();
        ::execve(start->program, start->argv, environ);
        start->error = errno;
    }
    ::_exit(127);
}

// Starts the child as posix_spawn does (shared memory, this process paused until the exec),
// which costs far less than a fork's copy. Returns its process id, or -1 with `error` set.
pid_t startChild(ChildStart& start, int& error) {
    constexpr size_t kStackSize = 64 * 1024;
    std::vector<char> stack(kStackSize);
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &start.parentMask);
    start.error = 0;
    // The stack grows down on every platform this builds for.
    const pid_t pid = ::clone(becomeProgram, stack.data() + stack.size(),
                              CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
    error = pid < 0 ? errno : start.error;
    ::pthread_sigmask(SIG_SETMASK, &start.parentMask, nullptr);
    if (pid > 0 && error != 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return -1;
    }
    return pid;
}

}  // namespace

LaunchResult startAndWait(Logger& logger, const std::wstring& programPath,
                          const std::wstring& commandLine, const std::wstring& workingFolder,
                          bool /*quoteProgramPath*/, uint32_t& exitCode, WaitWatch& watch,
                          LaunchDetails& details) {
    // Both forms of the command line split into the child's argument vector: quoted, word 0 is
    // the program; unquoted, callers put the quoted program first themselves. An empty command
    // line gives the program alone, as CommandLineToArgvW does for an empty string.
    std::vector<std::string> words;
    for (const std::wstring& word : splitCommandLine(commandLine))
        words.push_back(zoka::toUtf8(word));
    const std::string program = absoluteProgram(zoka::toUtf8(programPath));
    if (words.empty())
        words.push_back(zoka::toUtf8(programPath));
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string folder = zoka::toUtf8(workingFolder);

    usePidfd();
    earlierLeftovers().reapEnded();
    ChildStart start{program.c_str(), argv.data(), folder.c_str(), ::getpid(), {}, 0};
    int startError = 0;
    const pid_t pid = startChild(start, startError);
    if (pid < 0) {
        logError(logger, kModule, L"CreateProcess failed (%d).\n", startError);
        return LAUNCH_CREATE_FAILED;
    }
    // Both sides set the group, so that it exists before either goes on.
    ::setpgid(pid, pid);
    int status = 0;

    details.processId = static_cast<unsigned long>(pid);
    const ProcessTree tree(pid);
    bool reaped = false;
    pid_t waited = 0;
    int waitError = 0;
    for (;;) {
        const WaitStep step = watch.check(details.processId);
        if (step != WaitStep::KeepWaiting) {
            tree.end(reaped);
            return step == WaitStep::EndForTimeout ? LAUNCH_TIMED_OUT : LAUNCH_STOPPED;
        }
        if (!reaped) {
            waited = ::waitpid(pid, &status, WNOHANG);
            waitError = errno;
            if (waited < 0 && waitError == EINTR)
                continue;
            reaped = waited != 0;
            if (reaped && !watch.limits().waitForProcessTree)
                break;
        }
        std::vector<pid_t> roots;
        if (reaped) {
            tree.reapEnded();
            roots = tree.roots();
            if (roots.empty())
                break;
        } else {
            roots.push_back(pid);
        }
        waitForAnyEnd(roots, watch.remainingMs());
    }
    tree.reapEnded();
    details.leftovers = tree.leaveBehind();

    if (waited < 0) {
        logError(logger, kModule, L"Failed to retrieve the Exit code (%d).\n", waitError);
        return LAUNCH_NO_EXIT_CODE;
    }
    if (!WIFEXITED(status)) {
        // Ended by a signal: there is no exit code, and no number may stand in for one.
        logError(logger, kModule, L"Failed to retrieve the Exit code (%d).\n",
                 WIFSIGNALED(status) ? WTERMSIG(status) : status);
        return LAUNCH_NO_EXIT_CODE;
    }
    exitCode = static_cast<uint32_t>(WEXITSTATUS(status));
    return LAUNCH_OK;
}

}  // namespace korr::detail
