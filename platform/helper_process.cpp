#include "helper_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

extern char** environ;

namespace {

// The helper's descriptors are set by number: ours go above them first, so
// that placing one cannot overwrite another still to be placed.
constexpr int kFirstFreeFd = kHelperControlFd + 1;

// What a helper started ahead is sent: its input and its output.
constexpr size_t kHandedFds = 2;

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
    return OwnedFd(fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, lowest));
}

// Puts `fd` at `number` in the helper, or /dev/null when there is none.
void Place(posix_spawn_file_actions_t& actions, const OwnedFd& fd, int number, int flags)
{
    if (fd.Valid())
        posix_spawn_file_actions_adddup2(&actions, fd.Get(), number);
    else
        posix_spawn_file_actions_addopen(&actions, number, "/dev/null", flags, 0);
}

// A message of one byte, with room for kHandedFds descriptors beside it.
struct HandOver {
    char byte = 0;
    iovec data = {&byte, 1};
    alignas(cmsghdr) char rights[CMSG_SPACE(kHandedFds * sizeof(int))] = {};
    msghdr message{};

    HandOver()
    {
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = rights;
        message.msg_controllen = sizeof rights;
    }
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;
};

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

bool TakeHelperDescriptors()
{
    struct stat status;
    if (fstat(kHelperControlFd, &status) != 0 || !S_ISSOCK(status.st_mode))
        return true;
    const OwnedFd control(kHelperControlFd);
    if (send(control.Get(), "", 1, MSG_NOSIGNAL) != 1)
        return false;
    HandOver handOver;
    ssize_t count = 0;
    while ((count = recvmsg(control.Get(), &handOver.message, MSG_CMSG_CLOEXEC)) < 0 &&
           errno == EINTR) {
    }
    // Nothing: the caller has gone, or closed the socket instead of using us.
    const cmsghdr* header = count == 1 ? CMSG_FIRSTHDR(&handOver.message) : nullptr;
    if (!header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
        header->cmsg_len != CMSG_LEN(kHandedFds * sizeof(int)))
        return false;
    int fds[kHandedFds];
    std::memcpy(fds, CMSG_DATA(header), sizeof fds);
    // They came above all of ours: 0 to kHelperControlFd are open.
    const OwnedFd input(fds[0]), output(fds[1]);
    return dup2(input.Get(), 0) == 0 && dup2(output.Get(), kHelperOutputFd) == kHelperOutputFd;
}

OwnedFd CreateSharedMemory(const char* name)
{
    return OwnedFd(memfd_create(name, MFD_CLOEXEC));
}

HelperRun RunHelper(const std::string& program, int input, int output, size_t maxReply,
                    std::chrono::milliseconds deadline, int cancel)
{
    HelperStandby helper;
    helper.Start(program, input, output, -1);
    return helper.Wait(maxReply, deadline, cancel);
}

HelperStandby::HelperStandby(const std::string& program)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        m_error = errno;
        return;
    }
    m_control = OwnedFd(pair[0]);
    const OwnedFd theirs(pair[1]);
    Start(program, -1, -1, theirs.Get());
}

HelperStandby::~HelperStandby()
{
    Stop();
}

void HelperStandby::Start(const std::string& program, int input, int output, int control)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        m_error = errno;
        return;
    }
    m_reply = OwnedFd(pipeFds[0]);
    const OwnedFd replyWrite = Above(pipeFds[1], kFirstFreeFd);
    close(pipeFds[1]);
    const OwnedFd in = Above(input, kFirstFreeFd), out = Above(output, kFirstFreeFd),
                  ctl = Above(control, kFirstFreeFd);
    if (!replyWrite.Valid() || in.Valid() != (input >= 0) || out.Valid() != (output >= 0) ||
        ctl.Valid() != (control >= 0)) {
        m_error = errno;
        return;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    Place(actions, in, 0, O_RDONLY);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, replyWrite.Get(), kHelperReplyFd);
    Place(actions, out, kHelperOutputFd, O_RDWR);
    if (ctl.Valid())
        posix_spawn_file_actions_adddup2(&actions, ctl.Get(), kHelperControlFd);
    // Descriptors that some library left inheritable stay with us.
    posix_spawn_file_actions_addclosefrom_np(&actions,
                                             ctl.Valid() ? kFirstFreeFd : kHelperControlFd);
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
    const int spawned = posix_spawn(&m_pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        m_pid = 0;
        m_error = spawned;
        return;
    }
    // Its exit is seen through a descriptor, beside its reply; no signal
    // handler of anyone else's is involved.
    m_exit = OwnedFd(static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0)));
    if (!m_exit.Valid()) {
        Stop();
        m_error = ENOSYS;
    }
}

void HelperStandby::Stop()
{
    if (m_pid != 0) {
        // The whole group: whatever the helper started, and the helper
        // itself unless it has ended. Its group lives on while it is not
        // reaped.
        kill(-m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = 0;
    }
    m_exit = OwnedFd();
    m_reply = OwnedFd();
    m_control = OwnedFd();
}

bool HelperStandby::WaitUntilReady()
{
    char ready = 0;
    ssize_t count = 0;
    while ((count = recv(m_control.Get(), &ready, 1, 0)) < 0 && errno == EINTR) {
    }
    return count == 1;
}

HelperRun HelperStandby::Run(int input, int output, size_t maxReply,
                             std::chrono::milliseconds deadline, int cancel)
{
    HelperRun run;
    if (m_pid == 0) {
        run.code = m_error != 0 ? m_error : ECHILD;
        return run;
    }
    const int fds[kHandedFds] = {input, output};
    HandOver handOver;
    cmsghdr* header = CMSG_FIRSTHDR(&handOver.message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof fds);
    std::memcpy(CMSG_DATA(header), fds, sizeof fds);
    ssize_t sent = 0;
    while ((sent = sendmsg(m_control.Get(), &handOver.message, MSG_NOSIGNAL)) < 0 &&
           errno == EINTR) {
    }
    // A helper that has ended has closed its end: it takes nothing.
    if (sent != 1) {
        run.code = sent < 0 ? errno : EIO;
        Stop();
        return run;
    }
    return Wait(maxReply, deadline, cancel);
}

HelperRun HelperStandby::Wait(size_t maxReply, std::chrono::milliseconds deadline, int cancel)
{
    using Clock = std::chrono::steady_clock;
    HelperRun run;
    if (m_pid == 0) {
        run.code = m_error;
        return run;
    }
    const Clock::time_point end = Clock::now() + deadline;
    bool exited = false, replyOpen = true, tooLong = false, cancelled = false;
    fcntl(m_reply.Get(), F_SETFL, O_NONBLOCK);
    while (!exited && !tooLong && !cancelled) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0)
            break;
        // The reply's pipe last, so that it can drop out once it is closed.
        pollfd watched[3] = {{m_exit.Get(), POLLIN, 0}, {cancel, POLLIN, 0},
                             {m_reply.Get(), POLLIN, 0}};
        const int ready = poll(watched, replyOpen ? 3 : 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (replyOpen && watched[2].revents != 0)
            tooLong = !ReadReply(m_reply.Get(), maxReply, run.reply, replyOpen);
        exited = watched[0].revents != 0;
        cancelled = !exited && watched[1].revents != 0;
    }
    // The whole group, as in Stop; reaped here for its status and usage.
    kill(-m_pid, SIGKILL);
    int status = 0;
    rusage usage{};
    while (wait4(m_pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    m_pid = 0;
    // What it wrote before it ended is all in the pipe by now.
    if (exited && !tooLong && replyOpen)
        tooLong = !ReadReply(m_reply.Get(), maxReply, run.reply, replyOpen);
    Stop();

    run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKiB = usage.ru_maxrss;
    if (cancelled) {
        run.end = HelperRun::End::kCancelled;
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
