// Running a helper program of our own on one file, in a process of its own
// and under limits, so that nothing the file makes the helper do reaches the
// caller: a crash, a memory bomb or an endless loop ends only the helper.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// The descriptors a helper starts with: 0 its input file, 1 /dev/null, 2
// the caller's standard error, and these two.
constexpr int kHelperReplyFd = 3;  // a pipe for its reply, read by the caller
constexpr int kHelperOutputFd = 4; // shared memory for what is too big for the reply
// A helper started ahead of its input has this too, a socket on which its
// input and output come; 0 and kHelperOutputFd read /dev/null until then.
constexpr int kHelperControlFd = 5;

// The folder of the running program, where its helpers are installed;
// empty when it cannot be told.
std::string ProgramFolder();

// What a helper allows itself, set before it reads its input.
struct HelperLimits {
    uint64_t addressSpace; // bytes
    unsigned cpuSeconds;   // then SIGXCPU; a second later SIGKILL
};

// Called by the helper first: sets the limits (never above those it
// inherited; the hard ones too, so there is no way back up), turns core
// dumps off and has the helper killed when its caller dies. False when a
// limit could not be set.
bool LimitThisHelper(const HelperLimits& limits);

// Called by the helper once it has loaded what it needs, before it reads
// its input: a helper started ahead says it is ready and waits for its
// input and output, and places them; one started with them in place goes
// straight on. False when the caller went away or sent anything else.
bool TakeHelperDescriptors();

// A file descriptor that is closed when it goes.
class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) : m_fd(fd) {}
    OwnedFd(OwnedFd&& other) noexcept : m_fd(other.Release()) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept;
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    ~OwnedFd();

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Release();

private:
    int m_fd;
};

// Memory that a helper can fill and its caller read: a file that lives
// only as long as a descriptor of it, and is never seen in a folder. Its
// descriptor is not inherited by any other program than a helper.
OwnedFd CreateSharedMemory(const char* name);

struct HelperRun {
    enum class End {
        kExited,       // `code` is its exit status
        kSignalled,    // `code` is the signal that ended it
        kTimedOut,     // still running at the deadline: killed
        kReplyTooLong, // wrote more than it may: killed
        kNotStarted,   // `code` is the errno
        kCancelled,    // the caller's cancel descriptor became readable: killed
    };
    End end = End::kNotStarted;
    int code = 0;
    std::string reply;     // what it wrote to its reply pipe
    double cpuSeconds = 0; // user and system time it used
    long peakKiB = 0;      // its peak resident memory
};

// Starts `program`, with no arguments and the caller's environment, on the
// open file `input`, hands it `output` as kHelperOutputFd, collects at most
// `maxReply` bytes of its reply and waits until it ends or the deadline
// passes. When this returns, the helper and anything it started are gone,
// and it has been reaped; nothing of the caller's but these descriptors
// reaches it. Blocks the calling thread meanwhile, unless `cancel`, when it
// is not -1, becomes readable first: then the helper is killed and reaped
// at once. The caller keeps it readable, so that a later run ends too.
HelperRun RunHelper(const std::string& program, int input, int output, size_t maxReply,
                    std::chrono::milliseconds deadline, int cancel = -1);

// A helper started before its input is known, so that running it later
// costs the hand-over of its descriptors instead of a program's start. It
// loads meanwhile, under its limits, and waits; it serves one run. One not
// run is killed and reaped when this goes, and it ends by itself when its
// caller does.
class HelperStandby {
public:
    explicit HelperStandby(const std::string& program);
    ~HelperStandby();
    HelperStandby(const HelperStandby&) = delete;
    HelperStandby& operator=(const HelperStandby&) = delete;

    // Blocks until the helper says, once, that it is ready for its input;
    // false when it has ended, or was never started.
    bool WaitUntilReady();
    // As RunHelper, with this helper and the deadline counted from now.
    // One that cannot take its input (not started, used before, ended
    // meanwhile) is reaped and not run: kNotStarted.
    HelperRun Run(int input, int output, size_t maxReply, std::chrono::milliseconds deadline,
                  int cancel = -1);

private:
    friend HelperRun RunHelper(const std::string&, int, int, size_t, std::chrono::milliseconds,
                               int);
    HelperStandby() = default;
    // Starts the program with these as its 0, kHelperOutputFd and
    // kHelperControlFd; -1 gives /dev/null, or for `control` nothing.
    void Start(const std::string& program, int input, int output, int control);
    HelperRun Wait(size_t maxReply, std::chrono::milliseconds deadline, int cancel);
    // Kills what runs of it, and reaps it.
    void Stop();

    pid_t m_pid = 0; // 0 once reaped
    int m_error = 0; // why it did not start
    OwnedFd m_exit;  // readable once it has ended
    OwnedFd m_reply;
    OwnedFd m_control;
};
