// A reader of the settings file in a process of its own, for the test of
// readers that flush at the same moment: it stores KEYS values, one flush
// per value, once its standard input has ended (the test's gate), and
// exits 0 once all of them are in the file.
//
//   settings_flusher READER KEYS
#include <stdlib.h>
#include <unistd.h>

#include <memory>

#include <wx/init.h>

#include "settings_file.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    wxInitializer toolkit;
    if (!toolkit.IsOk())
        return 3;
    const int reader = atoi(argv[1]);
    const int keys = atoi(argv[2]);
    char go;
    while (read(STDIN_FILENO, &go, 1) > 0) {
    }
    const std::unique_ptr<SettingsFile> store(SettingsFile::Open("Morvelix"));
    for (int key = 0; key < keys; ++key) {
        store->Write(wxString::Format("/Morvelix Barcode Reader/Reader%dKey%d", reader, key),
                     static_cast<long>(key));
        store->Flush();
    }
    // A flush that found the lock held for a second (the other process's
    // flushes, slow on a loaded machine) keeps its values for the next one.
    bool stored = store->Flush();
    for (int attempt = 0; attempt < 60 && !stored; ++attempt)
        stored = store->Flush();
    return stored ? 0 : 1;
}
