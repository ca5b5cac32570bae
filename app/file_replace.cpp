#include "file_replace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/log.h>

namespace {

// How many links in a row are followed before the name is taken as it is.
constexpr int kMaxLinkDepth = 16;

// A file name in the target's folder that nothing else uses: the target's
// name, hidden, with a random tail.
wxString TemporaryName(const wxFileName& target, std::mt19937& random)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    wxString tail;
    for (int i = 0; i < 8; ++i)
        tail += kLetters[random() % (sizeof kLetters - 1)];
    return target.GetPathWithSep() + "." + target.GetFullName() + "." + tail;
}

// The file that a chain of symbolic links ends at, or the name itself.
wxFileName FollowLinks(const wxString& path)
{
    wxFileName target(path);
    target.MakeAbsolute();
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        wxFileName link(target);
        link.DontFollowLink();
        if (!link.Exists(wxFILE_EXISTS_SYMLINK))
            break;
        const wxFileName resolved = link.ResolveLink();
        if (!resolved.IsOk())
            break;
        target = resolved;
    }
    return target;
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

    const wxFileName target = FollowLinks(path);
    const wxString targetPath = target.GetFullPath();

    wxStructStat old;
    const bool exists = wxStat(targetPath, &old) == 0;
    if (exists) {
        if (S_ISDIR(old.st_mode))
            return Fail(error, wxSysErrorMsgStr(EISDIR));
        // Not replaced by a plain file: a device, a pipe, a socket.
        if (!S_ISREG(old.st_mode))
            return Fail(error, "It is not a regular file.");
        // The folder may allow the replacement; a read-only file does not.
        // Opening for appending asks exactly that and changes nothing.
        wxFile probe;
        if (!probe.Open(targetPath, wxFile::write_append))
            return Fail(error, wxSysErrorMsgStr(wxSysErrorCode()));
    }

    std::mt19937 random(std::random_device{}());
    wxFile file;
    wxString temporary;
    // The replacement of a file stays private until it has the old file's
    // owner and mode; a new file gets the usual mode of new files.
    const int mode = exists ? wxS_IRUSR | wxS_IWUSR : wxS_DEFAULT;
    for (int attempt = 0;; ++attempt) {
        temporary = TemporaryName(target, random);
        if (file.Create(temporary, false, mode))
            break;
        const unsigned long code = wxSysErrorCode();
        if (code != EEXIST || attempt == 100)
            return Fail(error, wxSysErrorMsgStr(code));
    }

    // A short write (a full disk) is followed by one that says why.
    bool written = true;
    unsigned long code = 0;
    for (size_t done = 0; done < bytes.size();) {
        const size_t count = file.Write(bytes.data() + done, bytes.size() - done);
        if (count == 0) {
            written = false;
            code = file.GetLastError();
            break;
        }
        done += count;
    }
    if (written && !file.Flush()) {
        written = false;
        code = wxSysErrorCode();
    }
    if (written && exists) {
        // Only root may give a file away; anyone may keep a group of their own.
        if (fchown(file.fd(), old.st_uid, old.st_gid) != 0 &&
            fchown(file.fd(), static_cast<uid_t>(-1), old.st_gid) != 0) {
            // Neither is allowed: the file stays the process's own.
        }
        // After the owner: a change of owner clears the set-id bits.
        if (fchmod(file.fd(), old.st_mode & 07777) != 0) {
            written = false;
            code = errno;
        }
    }
    if (!file.Close() && written) {
        written = false;
        code = wxSysErrorCode();
    }
    if (written && wxRename(temporary, targetPath) != 0) {
        written = false;
        code = wxSysErrorCode();
    }
    if (!written) {
        wxRemove(temporary);
        return Fail(error, wxSysErrorMsgStr(code));
    }
    return true;
}
