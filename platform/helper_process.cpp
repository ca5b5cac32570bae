#include "helper_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

extern char** environ;

namespace {

// The helper's descriptors are set by number: ours go above them first, so
// that placing one cannot overwrite another still to be placed.
constexpr int kFirstFreeFd = kHelperOutputFd + 1;

bool Lower(int resource, rlim_t value)
{
    rlimit limit;
    if (getrlimit(resource, &limit) != 0)
        return false;
    if (limit.rlim_max != RLIM_INFINITY)
        value = std::min(value, limit.rlim_max);
    limit.rlim_cur = value;
    limit.rlim_max = value;
    return setrlimit(resource, &limit) == 0;
}

OwnedFd Above(int fd, int lowest)
{
    return OwnedFd(fcntl(fd, F_DUPFD_CLOEXEC, lowest));
}

// Reads what is there without waiting; false once the reply is too long.
bool ReadReply(int fd, size_t maxReply, std::string& reply, bool& open)
{
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            open = count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            return true;
        }
        if (reply.size() + static_cast<size_t>(count) > maxReply)
            return false;
        reply.append(buffer, static_cast<size_t>(count));
    }
}

} // namespace

OwnedFd& OwnedFd::operator=(OwnedFd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = other.Release();
    }
    return *this;
}

OwnedFd::~OwnedFd()
{
    if (m_fd >= 0)
        close(m_fd);
}

int OwnedFd::Release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

std::string ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return std::string();
    const std::string program(path, static_cast<size_t>(n));
    return program.substr(0, program.rfind('/'));
}

bool LimitThisHelper(const HelperLimits& limits)
{
    // The caller waits for the helper; a helper whose caller is gone has
    // no one to give its reply to.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    bool set = Lower(RLIMIT_CORE, 0);
    set = Lower(RLIMIT_AS, limits.addressSpace) && set;
    rlimit cpu;
    if (getrlimit(RLIMIT_CPU, &cpu) != 0)
        return false;
    cpu.rlim_cur = std::min<rlim_t>(cpu.rlim_cur, limits.cpuSeconds);
    cpu.rlim_max = std::min<rlim_t>(cpu.rlim_max, limits.cpuSeconds + 1);
    return setrlimit(RLIMIT_CPU, &cpu) == 0 && set;
}

OwnedFd CreateSharedMemory(const char* name)
{
    return OwnedFd(memfd_create(name, MFD_CLOEXEC));
}

HelperRun RunHelper(const std::string& program, int input, int output, size_t maxReply,
                    std::chrono::milliseconds deadline)
{
    using Clock = std::chrono::steady_clock;
    HelperRun run;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        run.code = errno;
        return run;
    }
    OwnedFd replyRead(pipeFds[0]);
    OwnedFd replyWrite = Above(pipeFds[1], kFirstFreeFd);
    close(pipeFds[1]);
    const OwnedFd in = Above(input, kFirstFreeFd), out = Above(output, kFirstFreeFd);
    if (!replyWrite.Valid() || !in.Valid() || !out.Valid()) {
        run.code = errno;
        return run;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.Get(), 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, replyWrite.Get(), kHelperReplyFd);
    posix_spawn_file_actions_adddup2(&actions, out.Get(), kHelperOutputFd);
    // Descriptors that some library left inheritable stay with us.
    posix_spawn_file_actions_addclosefrom_np(&actions, kFirstFreeFd);
    // A group of its own, so that whatever it starts is killed with it; no
    // signal blocked or ignored because the caller has it so.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);

    std::string name = program;
    char* const argv[] = {&name[0], nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        run.code = spawned;
        return run;
    }
    replyWrite = OwnedFd(); // the pipe ends when the helper's end closes

    // Its exit is seen through a descriptor, beside its reply; no signal
    // handler of anyone else's is involved.
    const OwnedFd exitFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    const Clock::time_point end = Clock::now() + deadline;
    bool exited = false, replyOpen = true, tooLong = false;
    fcntl(replyRead.Get(), F_SETFL, O_NONBLOCK);
    while (exitFd.Valid() && !exited && !tooLong) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd watched[2] = {{exitFd.Get(), POLLIN, 0}, {replyRead.Get(), POLLIN, 0}};
        const int ready = poll(watched, replyOpen ? 2 : 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (replyOpen && watched[1].revents != 0)
            tooLong = !ReadReply(replyRead.Get(), maxReply, run.reply, replyOpen);
        exited = watched[0].revents != 0;
    }
    // The whole group: whatever the helper started, and the helper itself
    // unless it has ended. Its group lives on while it is not reaped.
    kill(-pid, SIGKILL);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    // What it wrote before it ended is all in the pipe by now.
    if (exited && !tooLong && replyOpen)
        tooLong = !ReadReply(replyRead.Get(), maxReply, run.reply, replyOpen);

    run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKiB = usage.ru_maxrss;
    if (!exitFd.Valid()) {
        run.end = HelperRun::End::kNotStarted;
        run.code = ENOSYS;
    } else if (tooLong) {
        run.end = HelperRun::End::kReplyTooLong;
    } else if (!exited) {
        run.end = HelperRun::End::kTimedOut;
    } else if (WIFSIGNALED(status)) {
        run.end = HelperRun::End::kSignalled;
        run.code = WTERMSIG(status);
    } else {
        run.end = HelperRun::End::kExited;
        run.code = WEXITSTATUS(status);
    }
    return run;
}
