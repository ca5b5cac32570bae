#include "settings_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include <wx/convauto.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include "app_info.h"
#include "file_lock.h"
#include "file_replace.h"
#include "regular_file.h"

namespace {

// A hand-edited line without a key makes wxFileConfig's parser assert before
// it skips the line. The files are the user's, not the program's, so that is
// no programming error and shows no assert box while they are parsed.
class QuietParse {
public:
    QuietParse() : m_saved(wxSetAssertHandler(nullptr)) {}
    ~QuietParse() { wxSetAssertHandler(m_saved); }
    QuietParse(const QuietParse&) = delete;
    QuietParse& operator=(const QuietParse&) = delete;

private:
    wxAssertHandler_t m_saved;
};

constexpr long kFiles = wxCONFIG_USE_LOCAL_FILE | wxCONFIG_USE_GLOBAL_FILE;
constexpr long kMachineFile = wxCONFIG_USE_GLOBAL_FILE;

// How long a Flush waits while other readers write the user's file.
constexpr std::chrono::milliseconds kLockWait(1000);

const char kNotRegular[] = "it is not a regular file";

// Why these bytes are no text that wxFileConfig reads (through wxConvAuto:
// the encoding that a byte-order mark names, else UTF-8, else Latin-1), or
// empty when they are one. A NUL character would end a line in its parser
// where the file goes on.
wxString TextProblem(const std::string& bytes)
{
    // A byte-order mark alone is an empty text, though no conversion takes it.
    size_t markLength = 0;
    const wxBOM mark = wxConvAuto::DetectBOM(bytes.data(), bytes.size());
    if (mark != wxBOM_None && mark != wxBOM_Unknown)
        wxConvAuto::GetBOMChars(mark, &markLength);
    if (bytes.size() == markLength)
        return wxString();
    const wxString text(bytes.data(), wxConvAuto(), bytes.size());
    if (text.empty())
        return "it is not text in an encoding that the reader knows";
    if (text.find(wxUniChar(0)) != wxString::npos)
        return "it holds a NUL character";
    return wxString();
}

// Why the open file cannot be read as the user's settings, or empty when
// it can.
wxString Unreadable(int fd)
{
    struct stat info;
    if (fstat(fd, &info) != 0)
        return wxSysErrorMsgStr(errno);
    if (!S_ISREG(info.st_mode))
        return kNotRegular;
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t count = pread(fd, buffer, sizeof buffer, static_cast<off_t>(bytes.size()));
        if (count == 0)
            break;
        if (count < 0 && errno != EINTR)
            return wxSysErrorMsgStr(errno);
        if (count > 0)
            bytes.append(buffer, static_cast<size_t>(count));
    }
    return TextProblem(bytes);
}

// The same for the file that the path names; a missing file can be read.
wxString Unreadable(const wxString& path)
{
    struct stat info;
    if (stat(path.fn_str(), &info) != 0)
        return errno == ENOENT ? wxString() : wxSysErrorMsgStr(errno);
    const int fd = OpenRegularFile(path.fn_str());
    if (fd < 0)
        return S_ISREG(info.st_mode) ? wxSysErrorMsgStr(errno) : wxString(kNotRegular);
    const wxString problem = Unreadable(fd);
    close(fd);
    return problem;
}

// One line on standard error.
void Say(const wxString& text)
{
    std::fprintf(stderr, "%s: %s\n", APP_NAME, static_cast<const char*>(text.utf8_str()));
}

} // namespace

SettingsFile* SettingsFile::Open(const wxString& appName)
{
    return Load(appName, false);
}

SettingsFile* SettingsFile::Reopen(SettingsFile* store)
{
    const wxString appName = store->GetAppName();
    const bool leftOut = store->m_leftOut;
    delete store;
    return Load(appName, leftOut);
}

SettingsFile* SettingsFile::Load(const wxString& appName, bool leftOut)
{
    const wxString userFile = GetLocalFileName(appName, kFiles);
    if (!leftOut) {
        const wxString problem = Unreadable(userFile);
        if (!problem.empty()) {
            leftOut = true;
            Say("the settings file " + userFile + " cannot be read (" + problem +
                "): the default options are used, and the file is left as it is.");
        }
    }
    const QuietParse quiet;
    return new SettingsFile(appName, userFile, leftOut);
}

SettingsFile::SettingsFile(const wxString& appName, const wxString& userFile, bool leftOut)
    : wxFileConfig(appName, wxEmptyString, wxEmptyString, wxEmptyString,
                   leftOut ? kMachineFile : kFiles),
      m_userFile(userFile),
      m_leftOut(leftOut)
{
    // wxFileConfig's own saving writes all it holds, through a temporary
    // file that takes the place of a symbolic link.
    DisableAutoSave();
}

SettingsFile::~SettingsFile()
{
    Flush();
}

bool SettingsFile::DoWriteString(const wxString& key, const wxString& value)
{
    const wxString absolute = key.StartsWith("/") ? key : GetPath() + "/" + key;
    auto pending = std::find_if(m_pending.begin(), m_pending.end(),
                                [&](const auto& entry) { return entry.first == absolute; });
    if (pending == m_pending.end())
        m_pending.emplace_back(absolute, value);
    else
        pending->second = value;
    return wxFileConfig::DoWriteString(key, value);
}

bool SettingsFile::DoWriteLong(const wxString& key, long value)
{
    return DoWriteString(key, wxString::Format("%ld", value));
}

bool SettingsFile::Flush(bool)
{
    if (m_pending.empty())
        return true;
    if (m_leftOut)
        return false;
    // Problems are the result; nothing here may bring up a box of its own.
    wxLogNull quiet;
    // Another reader's read, merge and replacement falls either wholly
    // before this one's or wholly after it.
    const FileLock lock(m_userFile.fn_str(), kLockWait);
    if (!lock.Held()) {
        if (lock.Error() == EWOULDBLOCK)
            Say("the settings file " + m_userFile +
                " stayed locked by another reader for a second: the options are not saved.");
        return false;
    }
    // It may have changed since it was read: it would be replaced by the
    // pending values alone.
    const wxString problem = Unreadable(lock.Fd());
    if (!problem.empty()) {
        m_leftOut = true;
        Say("the settings file " + m_userFile + " cannot be read (" + problem +
            "): the options are not saved, and the file is left as it is.");
        return false;
    }

    std::string bytes;
    {
        const QuietParse parse;
        wxFileConfig current(wxEmptyString, wxEmptyString, m_userFile, wxEmptyString,
                             wxCONFIG_USE_LOCAL_FILE);
        current.DisableAutoSave();
        for (const auto& [key, value] : m_pending)
            current.Write(key, value);
        wxMemoryOutputStream out;
        if (!current.Save(out))
            return false;
        bytes.resize(static_cast<size_t>(out.GetLength()));
        out.CopyTo(bytes.data(), bytes.size());
    }
    if (!ReplaceFile(m_userFile, bytes, nullptr))
        return false;
    m_pending.clear();
    return true;
}
