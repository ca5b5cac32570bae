// A reader of the settings file in a process of its own, for the test of
// readers that flush at the same moment: once its standard input has ended
// (the test's gate), it stores the values 0 to KEYS - 1 of the settings
// file NAME under the keys PREFIX0 to PREFIX<KEYS - 1>, one flush per
// value, and exits 0 once all of them are in the file.
//
//   settings_flusher NAME PREFIX KEYS
#include <stdlib.h>
#include <unistd.h>

#include <memory>

#include <wx/init.h>

#include "settings_file.h"

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    wxInitializer toolkit;
    if (!toolkit.IsOk())
        return 3;
    const wxString prefix = argv[2];
    const int keys = atoi(argv[3]);
    char go;
    while (read(STDIN_FILENO, &go, 1) > 0) {
    }
    const std::unique_ptr<SettingsFile> store(SettingsFile::Open(argv[1]));
    for (int key = 0; key < keys; ++key) {
        store->Write(prefix + wxString::Format("%d", key), static_cast<long>(key));
        store->Flush();
    }
    // A flush that found the lock held for a second (the other process's
    // flushes, slow on a loaded machine) keeps its values for the next one.
    bool stored = store->Flush();
    for (int attempt = 0; attempt < 60 && !stored; ++attempt)
        stored = store->Flush();
    return stored ? 0 : 1;
}
