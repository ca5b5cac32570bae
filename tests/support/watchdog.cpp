#include "watchdog.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

extern char** environ;

namespace test_watchdog {
namespace {

using Clock = std::chrono::steady_clock;

// How long the debugger may take to print the stacks.
constexpr std::chrono::seconds kStackDumpLimit{90};

struct Deadline {
    unsigned id;
    Clock::time_point when;
    std::string what;
};

std::chrono::seconds SecondsFromEnvironment(const char* name, std::chrono::seconds fallback)
{
    const char* text = getenv(name);
    const long seconds = text ? strtol(text, nullptr, 10) : 0;
    return seconds > 0 ? std::chrono::seconds(seconds) : fallback;
}

// Standard error as the program started with it: a test may have sent its
// own elsewhere to read what the code under test says.
const int g_stderr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 100);

void Say(const std::string& text)
{
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = write(g_stderr, text.data() + written, text.size() - written);
        if (count <= 0)
            return;
        written += static_cast<size_t>(count);
    }
}

// The stacks of every thread of this process, printed by the debugger on
// standard error; bounded, since a debugger can hang too.
void PrintStacks()
{
    const std::string pid = std::to_string(getpid());
    const char* argv[] = {"gdb",          "-batch", "-nx", "-p", pid.c_str(), "-ex",
                          "thread apply all bt", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, g_stderr, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, g_stderr, STDERR_FILENO);
    pid_t debugger = 0;
    const int spawned = posix_spawnp(&debugger, "gdb", &actions, nullptr,
                                     const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        Say("watchdog: no stacks: gdb could not be started\n");
        return;
    }
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, debugger, 0));
    pollfd watched = {ended, POLLIN, 0};
    const int limit = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(kStackDumpLimit).count());
    if (ended < 0 || poll(&watched, 1, limit) != 1) {
        kill(debugger, SIGKILL);
        Say("watchdog: gdb did not finish the stacks\n");
    }
    if (ended >= 0)
        close(ended);
    int status = 0;
    while (waitpid(debugger, &status, 0) < 0 && errno == EINTR) {
    }
}

// Every process this one started, with the groups of those that lead
// one, as the children lists of its threads name them.
void KillChildren()
{
    const std::string tasks = "/proc/" + std::to_string(getpid()) + "/task";
    DIR* folder = opendir(tasks.c_str());
    if (!folder)
        return;
    while (const dirent* task = readdir(folder)) {
        if (task->d_name[0] == '.')
            continue;
        std::ifstream children(tasks + "/" + task->d_name + "/children");
        for (pid_t child = 0; children >> child;) {
            if (getpgid(child) == child)
                kill(-child, SIGKILL);
            kill(child, SIGKILL);
        }
    }
    closedir(folder);
}

class Watchdog : public testing::EmptyTestEventListener {
public:
    Watchdog()
        : m_testLimit(SecondsFromEnvironment("MORVELIX_TEST_WATCHDOG", std::chrono::seconds(300)))
    {
        const std::chrono::seconds budget =
            SecondsFromEnvironment("MORVELIX_TEST_BUDGET", std::chrono::seconds(0));
        if (budget.count() > 0)
            m_programEnd = Clock::now() + budget;
    }

    unsigned Arm(std::chrono::seconds limit, std::string what)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const unsigned id = ++m_lastId;
        m_deadlines.push_back({id, Clock::now() + limit, std::move(what)});
        m_changed.notify_all();
        return id;
    }

    void Disarm(unsigned id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_deadlines.erase(std::remove_if(m_deadlines.begin(), m_deadlines.end(),
                                         [id](const Deadline& d) { return d.id == id; }),
                          m_deadlines.end());
        // A bounded step that ended is progress: the test's own time starts again.
        for (Deadline& deadline : m_deadlines) {
            if (deadline.id == m_testId)
                deadline.when = Clock::now() + m_testLimit;
        }
        m_changed.notify_all();
    }

    void OnTestStart(const testing::TestInfo& test) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_test = std::string(test.test_suite_name()) + "." + test.name();
            if (!m_thread.joinable())
                m_thread = std::thread([this] { Watch(); });
        }
        const unsigned id = Arm(m_testLimit, "the test");
        std::lock_guard<std::mutex> lock(m_mutex);
        m_testId = id;
    }

    void OnTestEnd(const testing::TestInfo&) override
    {
        unsigned id = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            std::swap(id, m_testId);
        }
        Disarm(id);
    }

    void OnTestProgramEnd(const testing::UnitTest&) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
            m_changed.notify_all();
        }
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void Watch()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stop) {
            // The nearest deadline; the program's own while a test runs.
            const Deadline* nearest = nullptr;
            for (const Deadline& deadline : m_deadlines) {
                if (!nearest || deadline.when < nearest->when)
                    nearest = &deadline;
            }
            if (!nearest) {
                m_changed.wait(lock);
                continue;
            }
            Deadline due = *nearest;
            if (m_programEnd && *m_programEnd < due.when)
                due = {0, *m_programEnd, "the test program"};
            if (m_changed.wait_until(lock, due.when) == std::cv_status::no_timeout ||
                Clock::now() < due.when)
                continue;
            // Still armed: the test hangs.
            const std::string test = m_test;
            lock.unlock();
            Say("\nwatchdog: " + test + " hangs: " + due.what +
                " did not end in time; the stacks of its threads:\n");
            PrintStacks();
            Say("[  FAILED  ] " + test + " (hung: stopped by the watchdog)\n");
            // A child of the test would keep ctest waiting on our output.
            KillChildren();
            _exit(1);
        }
    }

    const std::chrono::seconds m_testLimit;
    std::optional<Clock::time_point> m_programEnd;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Deadline> m_deadlines;
    unsigned m_lastId = 0;
    unsigned m_testId = 0;
    std::string m_test;
    bool m_stop = false;
    std::thread m_thread;
};

// Owned by GoogleTest's listener list from the start of the program.
Watchdog* const g_watchdog = [] {
    Watchdog* watchdog = new Watchdog;
    testing::UnitTest::GetInstance()->listeners().Append(watchdog);
    return watchdog;
}();

} // namespace

Bound::Bound(std::chrono::seconds limit, std::string what)
    : m_id(g_watchdog->Arm(limit, std::move(what)))
{
}

Bound::~Bound()
{
    g_watchdog->Disarm(m_id);
}

} // namespace test_watchdog
