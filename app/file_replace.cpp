#include "file_replace.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <wx/log.h>

#include "helper_process.h"
#include "regular_file.h"

namespace {

// The most links that the kernel follows in one lookup (MAXSYMLINKS).
constexpr int kMaxLinks = 40;

// The longest file name that most file systems take.
constexpr size_t kLongestName = NAME_MAX;

// The access list as the kernel keeps it, among the extended attributes.
const char kAccessList[] = "system.posix_acl_access";

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

// The kernel's rule for links in sticky world-writable folders (the
// fs.protected_symlinks setting, on by default): another user's link there
// is followed only when the folder's owner made it. It keeps a link planted
// in /tmp from leading a write into the user's own files.
bool MayFollow(int folder, const struct stat& link)
{
    struct stat info;
    if (fstat(folder, &info) != 0)
        return false;
    const bool shared = (info.st_mode & S_ISVTX) && (info.st_mode & S_IWOTH);
    return !shared || link.st_uid == geteuid() || link.st_uid == info.st_uid;
}

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
    for (int links = 0;; ++links) {
        struct stat info;
        if (fstatat(entry->Folder(), entry->Name(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT;
        if (!S_ISLNK(info.st_mode))
            return true;
        if (links == kMaxLinks) {
            errno = ELOOP;
            return false;
        }
        // The owner is looked at before the target is read: in a sticky
        // folder nobody else can put another link in the place of this one.
        if (!MayFollow(entry->Folder(), info)) {
            errno = EACCES;
            return false;
        }
        char target[PATH_MAX];
        const ssize_t length = readlinkat(entry->Folder(), entry->Name(), target, sizeof target);
        if (length < 0)
            return false;
        if (static_cast<size_t>(length) == sizeof target) {
            errno = ENAMETOOLONG;
            return false;
        }
        if (!entry->Open(entry->Folder(), std::string(target, static_cast<size_t>(length))))
            return false;
    }
}

// A file name in the target's folder that nothing else uses: the target's
// name, hidden, with a random tail, at most `longest` bytes long. A long
// name is cut, between two UTF-8 characters.
std::string TemporaryName(const std::string& name, size_t longest, std::mt19937& random)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string tail = ".";
    for (int i = 0; i < 8; ++i)
        tail += kLetters[random() % (sizeof kLetters - 1)];
    const size_t room = longest > tail.size() + 1 ? longest - tail.size() - 1 : 0;
    size_t kept = std::min(name.size(), room);
    // A UTF-8 continuation byte is 10xxxxxx.
    while (kept > 0 && kept < name.size() && (static_cast<unsigned char>(name[kept]) >> 6) == 2)
        --kept;
    return "." + name.substr(0, kept) + tail;
}

// Makes a new file in the folder, private until it is complete (the mode)
// or with the usual mode of new files; its name goes to `name`.
int MakeTemporary(int folder, const std::string& target, mode_t mode, std::string* name)
{
    std::mt19937 random(std::random_device{}());
    size_t longest = kLongestName;
    for (int attempt = 0;; ++attempt) {
        *name = TemporaryName(target, longest, random);
        const int file =
            openat(folder, name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (file >= 0)
            return file;
        // A file system with shorter names: no longer than the target's.
        if (errno == ENAMETOOLONG && longest > target.size()) {
            longest = target.size();
            continue;
        }
        if (errno != EEXIST || attempt == 100)
            return -1;
    }
}

// Reads one extended attribute whole, whatever its size does meanwhile.
bool ReadAttribute(int fd, const char* name, std::vector<char>* value)
{
    for (;;) {
        const ssize_t size = fgetxattr(fd, name, nullptr, 0);
        if (size < 0)
            return false;
        value->resize(static_cast<size_t>(size));
        const ssize_t read = fgetxattr(fd, name, value->data(), value->size());
        if (read >= 0) {
            value->resize(static_cast<size_t>(read));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

// Gives `to` every extended attribute of `from`, the access list among
// them; an access list that `to` got from its folder and `from` lacks goes.
bool CopyAttributes(int from, int to, wxString* reason)
{
    std::vector<char> names;
    for (;;) {
        const ssize_t size = flistxattr(from, nullptr, 0);
        if (size < 0 && (errno == ENOTSUP || errno == ENOSYS))
            return true;
        if (size < 0) {
            *reason = wxSysErrorMsgStr(errno);
            return false;
        }
        names.resize(static_cast<size_t>(size));
        const ssize_t listed = flistxattr(from, names.data(), names.size());
        if (listed >= 0) {
            names.resize(static_cast<size_t>(listed));
            break;
        }
        if (errno != ERANGE) {
            *reason = wxSysErrorMsgStr(errno);
            return false;
        }
    }
    bool accessList = false;
    std::vector<char> value;
    for (size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* name = names.data() + at;
        if (!ReadAttribute(from, name, &value) ||
            fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
            *reason = wxString::Format("Its extended attribute %s cannot be kept: %s", name,
                                       wxSysErrorMsgStr(errno));
            return false;
        }
        accessList = accessList || std::strcmp(name, kAccessList) == 0;
    }
    if (!accessList && fremovexattr(to, kAccessList) != 0 && errno != ENODATA &&
        errno != ENOTSUP) {
        *reason = wxSysErrorMsgStr(errno);
        return false;
    }
    return true;
}

bool Fail(wxString* error, const wxString& reason)
{
    if (error)
        *error = reason;
    return false;
}

const char kNotRegular[] = "It is not a regular file.";

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
    const bool exists = fstatat(folder, target.Name(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return Fail(error, wxSysErrorMsgStr(errno));
    OwnedFd probe;
    if (exists) {
        if (S_ISDIR(old.st_mode))
            return Fail(error, wxSysErrorMsgStr(EISDIR));
        // Not replaced by a plain file: a device, a pipe, a socket.
        if (!S_ISREG(old.st_mode))
            return Fail(error, kNotRegular);
        // The folder may allow the replacement; a read-only file does not.
        // Opening for appending asks exactly that and changes nothing; not
        // blocking and not following a link, in case something else took
        // the name meanwhile, which is then refused.
        probe = OwnedFd(openat(folder, target.Name(),
                               O_WRONLY | O_APPEND | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
        if (probe.Get() < 0)
            return Fail(error, wxSysErrorMsgStr(errno));
        if (fstat(probe.Get(), &old) != 0)
            return Fail(error, wxSysErrorMsgStr(errno));
        if (!S_ISREG(old.st_mode))
            return Fail(error, kNotRegular);
    }

    // The replacement of a file stays private until it has the old file's
    // owner, attributes and mode; a new file gets the usual mode of new files.
    std::string temporary;
    const int file = MakeTemporary(folder, target.Name(), exists ? S_IRUSR | S_IWUSR : 0666,
                                   &temporary);
    if (file < 0)
        return Fail(error, wxSysErrorMsgStr(errno));

    wxString reason;
    if (!WriteAll(file, bytes.data(), bytes.size()) || fsync(file) != 0)
        reason = wxSysErrorMsgStr(errno);
    if (reason.empty() && exists) {
        mode_t mode = old.st_mode & 07777;
        // Only root may give a file away; anyone may keep a group of their
        // own. A group that stays the process's gets none of the old
        // group's permissions.
        if (fchown(file, old.st_uid, old.st_gid) != 0 &&
            fchown(file, static_cast<uid_t>(-1), old.st_gid) != 0)
            mode &= ~static_cast<mode_t>(S_IRWXG);
        // After the owner, which clears some of them; before the mode, so
        // that the access list's mask and the mode's group bits agree.
        if (CopyAttributes(probe.Get(), file, &reason) && fchmod(file, mode) != 0)
            reason = wxSysErrorMsgStr(errno);
    }
    if (close(file) != 0 && reason.empty())
        reason = wxSysErrorMsgStr(errno);
    if (reason.empty() && renameat(folder, temporary.c_str(), folder, target.Name()) != 0)
        reason = wxSysErrorMsgStr(errno);
    if (!reason.empty()) {
        unlinkat(folder, temporary.c_str(), 0);
        return Fail(error, reason);
    }
    return true;
}
