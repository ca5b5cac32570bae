#include "file_replace.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>

#include <wx/log.h>

#include "regular_file.h"

namespace {

// How many links in a row are followed before the name is taken as it is.
constexpr int kMaxLinkDepth = 16;

// A name in a folder that is held open, so that every step below works in
// the folder that was found, whatever happens to the names above it.
class FolderEntry {
public:
    FolderEntry() = default;
    ~FolderEntry()
    {
        if (m_folder >= 0)
            close(m_folder);
    }
    FolderEntry(const FolderEntry&) = delete;
    FolderEntry& operator=(const FolderEntry&) = delete;

    // Opens the folder part of `path` (relative to `base`, a folder
    // descriptor or AT_FDCWD) and keeps the last part as the name; false,
    // with errno set, when the folder cannot be opened.
    bool Open(int base, const std::string& path)
    {
        const size_t slash = path.rfind('/');
        std::string folder = ".";
        if (slash != std::string::npos)
            folder = slash == 0 ? "/" : path.substr(0, slash);
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        // A path that ends in a slash names the folder itself.
        if (name.empty())
            name = ".";
        const int opened = openat(base, folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (opened < 0)
            return false;
        if (m_folder >= 0)
            close(m_folder);
        m_folder = opened;
        m_name = name;
        return true;
    }

    int Folder() const { return m_folder; }
    const char* Name() const { return m_name.c_str(); }

private:
    int m_folder = -1;
    std::string m_name;
};

// Finds the file that a chain of symbolic links ends at, or the name itself.
// A relative target counts from the folder that holds the link, as it does
// for the kernel: that folder is held open and the target is looked up in
// it, so ".." is its real parent also when the folder was reached through a
// link. A link into a folder that does not exist fails with that error; a
// link to a missing file gives that file's name.
bool FollowLinks(const wxString& path, FolderEntry* entry)
{
    if (!entry->Open(AT_FDCWD, std::string(path.fn_str())))
        return false;
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        char target[PATH_MAX];
        const ssize_t length = readlinkat(entry->Folder(), entry->Name(), target, sizeof target);
        if (length < 0 || static_cast<size_t>(length) == sizeof target)
            break;
        if (!entry->Open(entry->Folder(), std::string(target, static_cast<size_t>(length))))
            return false;
    }
    return true;
}

// A file name in the target's folder that nothing else uses: the target's
// name, hidden, with a random tail.
std::string TemporaryName(const char* name, std::mt19937& random)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string tail;
    for (int i = 0; i < 8; ++i)
        tail += kLetters[random() % (sizeof kLetters - 1)];
    return std::string(".") + name + "." + tail;
}

bool Fail(wxString* error, const wxString& reason)
{
    if (error)
        *error = reason;
    return false;
}

} // namespace

bool ReplaceFile(const wxString& path, const std::string& bytes, wxString* error)
{
    // The toolkit's own messages would come as extra boxes; the caller
    // reports the reason once.
    wxLogNull quiet;

    FolderEntry target;
    if (!FollowLinks(path, &target))
        return Fail(error, wxSysErrorMsgStr(errno));
    const int folder = target.Folder();

    struct stat old;
    const bool exists = fstatat(folder, target.Name(), &old, 0) == 0;
    if (exists) {
        if (S_ISDIR(old.st_mode))
            return Fail(error, wxSysErrorMsgStr(EISDIR));
        // Not replaced by a plain file: a device, a pipe, a socket.
        if (!S_ISREG(old.st_mode))
            return Fail(error, "It is not a regular file.");
        // The folder may allow the replacement; a read-only file does not.
        // Opening for appending asks exactly that and changes nothing.
        const int probe = openat(folder, target.Name(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (probe < 0)
            return Fail(error, wxSysErrorMsgStr(errno));
        close(probe);
    }

    std::mt19937 random(std::random_device{}());
    std::string temporary;
    // The replacement of a file stays private until it has the old file's
    // owner and mode; a new file gets the usual mode of new files.
    const mode_t mode = exists ? S_IRUSR | S_IWUSR : 0666;
    int file = -1;
    for (int attempt = 0; file < 0; ++attempt) {
        temporary = TemporaryName(target.Name(), random);
        file = openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (file < 0 && (errno != EEXIST || attempt == 100))
            return Fail(error, wxSysErrorMsgStr(errno));
    }

    int code = 0;
    if (!WriteAll(file, bytes.data(), bytes.size()) || fsync(file) != 0)
        code = errno;
    if (code == 0 && exists) {
        // Only root may give a file away; anyone may keep a group of their own.
        if (fchown(file, old.st_uid, old.st_gid) != 0 &&
            fchown(file, static_cast<uid_t>(-1), old.st_gid) != 0) {
            // Neither is allowed: the file stays the process's own.
        }
        // After the owner: a change of owner clears the set-id bits.
        if (fchmod(file, old.st_mode & 07777) != 0)
            code = errno;
    }
    if (close(file) != 0 && code == 0)
        code = errno;
    if (code == 0 && renameat(folder, temporary.c_str(), folder, target.Name()) != 0)
        code = errno;
    if (code != 0) {
        unlinkat(folder, temporary.c_str(), 0);
        return Fail(error, wxSysErrorMsgStr(code));
    }
    return true;
}
