#include "settings_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>

#include <wx/log.h>
#include <wx/mstream.h>

#include "app_info.h"
#include "file_lock.h"
#include "file_replace.h"
#include "helper_process.h"
#include "regular_file.h"
#include "settings_text.h"

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

// What wxFileConfig's parser says about the lines it skips or doubts,
// which would otherwise come as message boxes, one for each.
class ParseMessages : public wxLog {
public:
    ParseMessages() : m_saved(wxLog::SetActiveTarget(this)) {}
    ~ParseMessages() override { wxLog::SetActiveTarget(m_saved); }
    ParseMessages(const ParseMessages&) = delete;
    ParseMessages& operator=(const ParseMessages&) = delete;

    // What was said about the file that the parser read under `name`: the
    // parser's own texts after its "file '...', ", without their full stops.
    // Its text about a header without "]" names the line's end as the
    // character it did not expect, and is cut there: the header's line is
    // said from `text` instead.
    wxString About(const wxString& name, const SettingsText& text) const
    {
        const wxString prefix = "file '" + name + "', ";
        std::vector<wxString> parts;
        for (const wxString& message : m_messages) {
            wxString part;
            if (!message.StartsWith(prefix, &part))
                continue;
            if (part.EndsWith("."))
                part.RemoveLast();
            // It counts the first line of a key given twice from 0.
            const wxString first = "was first found at line ";
            const size_t at = part.find(first);
            unsigned long line = 0;
            if (at != wxString::npos && part.Mid(at + first.length()).ToULong(&line))
                part = part.Left(at + first.length()) + wxString::Format("%lu", line + 1);
            parts.push_back(part);
        }
        for (size_t line : text.UnclosedHeaders())
            parts.push_back(wxString::Format("line %zu: ']' expected", line));
        wxString said;
        for (const wxString& part : parts)
            said += (said.empty() ? "" : "; ") + part;
        return said;
    }

protected:
    void DoLogRecord(wxLogLevel, const wxString& message, const wxLogRecordInfo&) override
    {
        m_messages.push_back(message);
    }

private:
    wxLog* m_saved;
    std::vector<wxString> m_messages;
};

constexpr long kUserFile = wxCONFIG_USE_LOCAL_FILE;
constexpr long kMachineFile = wxCONFIG_USE_GLOBAL_FILE;

// How long a Flush waits while other readers write the user's file.
constexpr std::chrono::milliseconds kLockWait(1000);

// The largest settings file that is read. The reader's own lines take
// less than a kilobyte; a larger file is no settings file, and reading it
// whole would cost its size several times over in memory.
constexpr off_t kLargestFile = 4 << 20; // bytes

const char kNotRegular[] = "it is not a regular file";

// Reads the open file, when it is a regular file no larger than the
// bound; returns why its bytes cannot be taken as settings, or empty.
wxString ReadSettings(int fd, std::string* bytes)
{
    bytes->clear();
    struct stat info;
    if (fstat(fd, &info) != 0)
        return wxSysErrorMsgStr(errno);
    if (!S_ISREG(info.st_mode))
        return kNotRegular;
    const wxString tooLarge = wxString::Format("it is larger than %d MiB",
                                               static_cast<int>(kLargestFile >> 20));
    if (info.st_size > kLargestFile)
        return tooLarge;
    char buffer[4096];
    for (;;) {
        const ssize_t count = pread(fd, buffer, sizeof buffer, static_cast<off_t>(bytes->size()));
        if (count == 0)
            break;
        if (count < 0 && errno != EINTR)
            return wxSysErrorMsgStr(errno);
        if (count > 0)
            bytes->append(buffer, static_cast<size_t>(count));
        // It grew after the look at its size.
        if (bytes->size() > static_cast<size_t>(kLargestFile))
            return tooLarge;
    }
    return SettingsText::Problem(*bytes);
}

// The same for the file that the path names; a missing file can be read,
// and `present` tells which it was.
wxString ReadSettings(const wxString& path, std::string* bytes, bool* present)
{
    bytes->clear();
    struct stat info;
    *present = stat(path.fn_str(), &info) == 0;
    if (!*present)
        return errno == ENOENT ? wxString() : wxSysErrorMsgStr(errno);
    const OwnedFd fd(OpenRegularFile(path.fn_str()));
    if (!fd.Valid())
        return S_ISREG(info.st_mode) ? wxSysErrorMsgStr(errno) : wxString(kNotRegular);
    return ReadSettings(fd.Get(), bytes);
}

// The bytes as a file that wxFileConfig reads under the name that goes to
// `name`: exactly what was judged, whatever happens to the file meanwhile.
OwnedFd MemoryFile(const std::string& bytes, wxString* name)
{
    OwnedFd file = CreateSharedMemory("morvelix-settings");
    if (!file.Valid() || !WriteAll(file.Get(), bytes.data(), bytes.size()))
        return OwnedFd();
    *name = wxString::Format("/proc/self/fd/%d", file.Get());
    return file;
}

// Every entry that wxFileConfig reads from the bytes, by its path in lower
// case (names compare so) with its value as written; false when the bytes
// cannot be given to it.
bool Entries(const std::string& bytes, std::map<wxString, wxString>* entries)
{
    wxString name;
    const OwnedFd file = MemoryFile(bytes, &name);
    if (!file.Valid())
        return false;
    const QuietParse quiet;
    const wxLogNull silent;
    wxFileConfig config(wxEmptyString, wxEmptyString, name, wxEmptyString, kUserFile);
    config.DisableAutoSave();
    config.SetExpandEnvVars(false);
    std::vector<wxString> groups = {"/"};
    while (!groups.empty()) {
        const wxString group = groups.back();
        groups.pop_back();
        config.SetPath(group);
        const wxString prefix = group == "/" ? group : group + "/";
        wxString entry;
        long index = 0;
        for (bool more = config.GetFirstEntry(entry, index); more;
             more = config.GetNextEntry(entry, index))
            config.Read(entry, &(*entries)[(prefix + entry).Lower()]);
        for (bool more = config.GetFirstGroup(entry, index); more;
             more = config.GetNextGroup(entry, index))
            groups.push_back(prefix + entry);
    }
    return true;
}

// The value as wxFileConfig writes it after "key=", quoted where it must be.
wxString WrittenValue(const wxString& value)
{
    wxFileConfig scratch(wxEmptyString, wxEmptyString, wxEmptyString, wxEmptyString, 0);
    scratch.DisableAutoSave();
    scratch.Write("/k", value);
    wxMemoryOutputStream out;
    scratch.Save(out, wxConvUTF8);
    std::string text(static_cast<size_t>(out.GetLength()), '\0');
    out.CopyTo(&text[0], text.size());
    wxString line = wxString::FromUTF8(text.data(), text.size());
    line.Trim();
    return line.StartsWith("k=", &line) ? line : value;
}

// One line on standard error.
void Say(const wxString& text)
{
    std::fprintf(stderr, "%s: %s\n", APP_NAME, static_cast<const char*>(text.utf8_str()));
}

void SayNotSaved(const wxString& file, const wxString& reason)
{
    Say("the settings file " + file + " could not be written (" + reason +
        "): the settings are not saved, and the file is left as it is.");
}

} // namespace

SettingsFile* SettingsFile::Open(const wxString& appName)
{
    return Load(appName, false, false);
}

SettingsFile* SettingsFile::Reopen(SettingsFile* store)
{
    const wxString appName = store->GetAppName();
    const bool leftOut = store->m_leftOut;
    std::vector<std::pair<wxString, wxString>> pending;
    pending.swap(store->m_pending);
    delete store;
    SettingsFile* fresh = Load(appName, leftOut, true);
    for (const auto& [key, value] : pending)
        fresh->Write(key, value);
    return fresh;
}

SettingsFile* SettingsFile::Load(const wxString& appName, bool leftOut, bool quiet)
{
    struct File {
        wxString path;
        std::string bytes;
        bool present = false;
        OwnedFd memory;
        wxString memoryName;
    };
    File user;
    user.path = GetLocalFileName(appName, kUserFile);
    File machine;
    machine.path = GetGlobalFileName(appName);
    for (File* file : {&user, &machine}) {
        if (file == &user && leftOut)
            continue;
        wxString problem = ReadSettings(file->path, &file->bytes, &file->present);
        if (problem.empty() && file->present) {
            file->memory = MemoryFile(file->bytes, &file->memoryName);
            if (!file->memory.Valid())
                problem = wxSysErrorMsgStr(errno);
        }
        if (problem.empty())
            continue;
        file->present = false;
        if (file == &user)
            leftOut = true;
        else if (quiet)
            continue;
        Say("the settings file " + file->path + " cannot be read (" + problem +
            "): the default options are used, and the file is left as it is.");
    }

    const QuietParse parse;
    const ParseMessages messages;
    SettingsFile* store = new SettingsFile(appName, user.path, leftOut, user.memoryName,
                                           machine.memoryName);
    for (const File* file : {&user, &machine}) {
        if (quiet || !file->present)
            continue;
        const wxString said = messages.About(file->memoryName, SettingsText(file->bytes));
        if (!said.empty())
            Say("the settings file " + file->path + ": " + said + ".");
    }
    return store;
}

SettingsFile::SettingsFile(const wxString& appName, const wxString& userFile, bool leftOut,
                           const wxString& userText, const wxString& machineText)
    : wxFileConfig(appName, wxEmptyString, userText, machineText,
                   (userText.empty() ? 0 : kUserFile) | (machineText.empty() ? 0 : kMachineFile)),
      m_userFile(userFile),
      m_leftOut(leftOut)
{
    // wxFileConfig's own saving writes all it holds, and to the file it read.
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

bool SettingsFile::Rewrite(const std::string& bytes, std::string* written, wxString* problem) const
{
    SettingsText text(bytes);
    for (const auto& [key, value] : m_pending)
        text.Set(key, WrittenValue(value));
    if (!text.Bytes(written, problem))
        return false;
    // What wxFileConfig reads from the new bytes is what it read from the
    // old ones, with the new values: nothing else changed meaning.
    std::map<wxString, wxString> before, after;
    if (!Entries(bytes, &before) || !Entries(*written, &after)) {
        *problem = wxSysErrorMsgStr(errno);
        return false;
    }
    for (const auto& [key, value] : m_pending)
        before[key.Lower()] = value;
    if (before != after) {
        *problem = "its other lines would not read the same afterwards";
        return false;
    }
    return true;
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
        else
            SayNotSaved(m_userFile, wxSysErrorMsgStr(lock.Error()));
        return false;
    }
    // It may have changed since it was read: it would be replaced by the
    // pending values alone.
    std::string bytes;
    const wxString problem = ReadSettings(lock.Fd(), &bytes);
    if (!problem.empty()) {
        m_leftOut = true;
        Say("the settings file " + m_userFile + " cannot be read (" + problem +
            "): the options are not saved, and the file is left as it is.");
        return false;
    }
    std::string written;
    wxString reason;
    if (!Rewrite(bytes, &written, &reason) || !ReplaceFile(m_userFile, written, &reason)) {
        SayNotSaved(m_userFile, reason);
        return false;
    }
    m_pending.clear();
    return true;
}
