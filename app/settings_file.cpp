#include "settings_file.h"

#include <algorithm>

#include <wx/file.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include "file_replace.h"

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

} // namespace

SettingsFile* SettingsFile::Open(const wxString& appName)
{
    const QuietParse quiet;
    return new SettingsFile(appName);
}

SettingsFile::SettingsFile(const wxString& appName)
    : wxFileConfig(appName, wxEmptyString, wxEmptyString, wxEmptyString, kFiles),
      m_userFile(GetLocalFileName(appName, kFiles))
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
    // Problems are the result; nothing here may bring up a box of its own.
    wxLogNull quiet;
    // A file that cannot be read would be replaced by the pending values alone.
    if (wxFileName::FileExists(m_userFile) && !wxFile::Access(m_userFile, wxFile::read))
        return false;

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
