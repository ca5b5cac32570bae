// The reader's settings store: the user's file (~/.Morvelix) over the
// machine-wide one (/etc/Morvelix.conf), read as wxFileConfig reads them.
// Several readers may run at once, each with the files as they were when it
// read them, so none writes back the whole of what it holds: Flush puts only
// the values written through this object since the last Flush into the
// user's file as that file is on disk at that moment, on the lines that
// hold them, and every other line keeps its bytes, as another reader, the
// user or another program left it. Readers take turns at that under a lock
// on the user's file.
//
// A settings file that cannot be read as text (not a regular file, not
// readable, larger than 4 MiB, a byte sequence no encoding of wxFileConfig's
// takes or gives back as it was, a NUL character) is left out: it is said
// once on standard error, the values come from the other file and the
// defaults, and the file is never written. Lines that wxFileConfig skips or
// warns about are said in one line on standard error when the store opens.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <wx/fileconf.h>

class SettingsFile : public wxFileConfig {
public:
    // The files of the application `appName`, read now.
    static SettingsFile* Open(const wxString& appName);
    // Deletes `store` and reads its files again as they are now, without
    // writing: values that `store` could not write yet stay pending, and
    // read as they were written. A user's file that `store` left out stays
    // left out, unreported, and so do lines that were said at Open.
    static SettingsFile* Reopen(SettingsFile* store);
    // Flushes.
    ~SettingsFile() override;

    // Writes the pending values into the user's file through ReplaceFile;
    // false, with the values still pending, when that fails (which is said
    // once on standard error, with the reason) or when the file is left out.
    bool Flush(bool currentOnly = false) override;

protected:
    // Both keep the value for the next Flush as well.
    bool DoWriteString(const wxString& key, const wxString& value) override;
    bool DoWriteLong(const wxString& key, long value) override;

private:
    SettingsFile(const wxString& appName, const wxString& userFile, bool leftOut,
                 const wxString& userText, const wxString& machineText);
    static SettingsFile* Load(const wxString& appName, bool leftOut, bool quiet);
    // The bytes of the user's file with the pending values in it, or false
    // with the reason.
    bool Rewrite(const std::string& bytes, std::string* written, wxString* problem) const;

    wxString m_userFile;
    // The user's file could not be read: it is neither read nor written.
    bool m_leftOut;
    // Absolute key and value, in the order of the first write of each key.
    std::vector<std::pair<wxString, wxString>> m_pending;
};
