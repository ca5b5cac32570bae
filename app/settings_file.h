// The reader's settings store: the user's file (~/.Morvelix) over the
// machine-wide one (/etc/Morvelix.conf), read as wxFileConfig reads them.
// Several readers may run at once, each with the files as they were when it
// read them, so none writes back the whole of what it holds: Flush puts only
// the values written through this object since the last Flush into the
// user's file as that file is on disk at that moment, and every other line
// stays as another reader or the user left it. Readers take turns at that
// under a lock on the user's file.
//
// A user's file that cannot be read as text (not a regular file, not
// readable, a byte sequence no encoding of wxFileConfig's takes, a NUL
// character) is left out: it is said once on standard error, the values
// come from the machine-wide file and the defaults, and the file is never
// written.
#pragma once

#include <utility>
#include <vector>

#include <wx/fileconf.h>

class SettingsFile : public wxFileConfig {
public:
    // The files of the application `appName`, read now.
    static SettingsFile* Open(const wxString& appName);
    // Deletes `store`, so flushing it, and reads its files again as they are
    // now. A user's file that `store` left out stays left out, unreported.
    static SettingsFile* Reopen(SettingsFile* store);
    // Flushes.
    ~SettingsFile() override;

    // Writes the pending values into the user's file through ReplaceFile;
    // false, with the values still pending, when that fails, when the file
    // is left out, or when other readers held its lock for a second (which
    // is said on standard error).
    bool Flush(bool currentOnly = false) override;

protected:
    // Both keep the value for the next Flush as well.
    bool DoWriteString(const wxString& key, const wxString& value) override;
    bool DoWriteLong(const wxString& key, long value) override;

private:
    SettingsFile(const wxString& appName, const wxString& userFile, bool leftOut);
    static SettingsFile* Load(const wxString& appName, bool leftOut);

    wxString m_userFile;
    // The user's file could not be read: it is neither read nor written.
    bool m_leftOut;
    // Absolute key and value, in the order of the first write of each key.
    std::vector<std::pair<wxString, wxString>> m_pending;
};
