// The reader's settings store: the user's file (~/.Morvelix) over the
// machine-wide one (/etc/Morvelix.conf), read as wxFileConfig reads them.
// Several readers may run at once, each with the files as they were when it
// read them, so none writes back the whole of what it holds: Flush puts only
// the values written through this object since the last Flush into the
// user's file as that file is on disk at that moment, and every other line
// stays as another reader or the user left it.
#pragma once

#include <utility>
#include <vector>

#include <wx/fileconf.h>

class SettingsFile : public wxFileConfig {
public:
    // The files of the application `appName`, read now.
    static SettingsFile* Open(const wxString& appName);
    // Flushes.
    ~SettingsFile() override;

    // Writes the pending values into the user's file through ReplaceFile;
    // false, with the values still pending, when that fails.
    bool Flush(bool currentOnly = false) override;

protected:
    // Both keep the value for the next Flush as well.
    bool DoWriteString(const wxString& key, const wxString& value) override;
    bool DoWriteLong(const wxString& key, long value) override;

private:
    explicit SettingsFile(const wxString& appName);

    wxString m_userFile;
    // Absolute key and value, in the order of the first write of each key.
    std::vector<std::pair<wxString, wxString>> m_pending;
};
