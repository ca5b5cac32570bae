#include "load_watch.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>

long StatusMiB(const std::string& key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1)) / 1024;
    }
    return -1;
}

bool ResetPeakMemory()
{
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.close();
    return out.good();
}

StderrCapture::StderrCapture() : m_saved(dup(STDERR_FILENO))
{
    char path[] = P_tmpdir "/morvelix-stderr-XXXXXX";
    const int fd = mkstemp(path);
    m_path = path;
    std::fflush(stderr);
    dup2(fd, STDERR_FILENO);
    close(fd);
}

StderrCapture::~StderrCapture()
{
    std::fflush(stderr);
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
    // What was caught goes on to the real standard error, for the test's log.
    const std::string text = Text();
    std::fwrite(text.data(), 1, text.size(), stderr);
    unlink(m_path.c_str());
}

std::string StderrCapture::Text() const
{
    std::fflush(stderr);
    std::ifstream in(m_path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        }
        closedir(dir);
    }
    return names;
}

} // namespace

std::vector<int> ChildrenRunning(const std::string& program)
{
    std::vector<int> children;
    const std::string name = program.substr(0, 15);
    for (const std::string& entry : Entries("/proc")) {
        if (entry.find_first_not_of("0123456789") != std::string::npos)
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and parentheses.
        std::ifstream in("/proc/" + entry + "/stat");
        std::string stat;
        std::getline(in, stat);
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        int parent = 0;
        char state = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
            parent == getpid() && stat.substr(open + 1, close - open - 1) == name)
            children.push_back(std::stoi(entry));
    }
    return children;
}

std::vector<std::string> OpenDescriptors()
{
    std::vector<std::string> targets;
    for (const std::string& entry : Entries("/proc/self/fd")) {
        char target[PATH_MAX];
        const ssize_t length =
            readlink(("/proc/self/fd/" + entry).c_str(), target, sizeof target - 1);
        if (length > 0)
            targets.emplace_back(target, static_cast<size_t>(length));
    }
    return targets;
}
