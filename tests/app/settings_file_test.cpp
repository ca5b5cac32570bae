#include "settings_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "folder_listing.h"
#include "gui_test.h"

namespace {

const char kName[] = "Morvelix";
const wxString kGroup = "/Morvelix Barcode Reader/";

} // namespace

using SettingsFileTest = GuiTest;

// Readers that flush at the same moment take turns: two processes that
// store 300 values each, one flush per value, lose none of them, and leave
// no other file beside the settings file.
TEST_F(SettingsFileTest, TwoReadersFlushingAtOnceLoseNothing)
{
    constexpr int kReaders = 2;
    constexpr int kKeys = 300;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    pid_t readers[kReaders];
    for (int reader = 0; reader < kReaders; ++reader) {
        readers[reader] = fork();
        if (readers[reader] == 0) {
            close(gate[1]);
            char go;
            // Both start when the gate closes.
            while (read(gate[0], &go, 1) > 0) {
            }
            SettingsFile* store = SettingsFile::Open(kName);
            for (int key = 0; key < kKeys; ++key) {
                store->Write(kGroup + wxString::Format("Reader%dKey%d", reader, key),
                             static_cast<long>(key));
                store->Flush();
            }
            // A flush that found the lock held for a second (the other
            // process's flushes, slow on a loaded machine) keeps its values
            // for the next one.
            bool stored = store->Flush();
            for (int attempt = 0; attempt < 60 && !stored; ++attempt)
                stored = store->Flush();
            _exit(stored ? 0 : 1);
        }
        ASSERT_GT(readers[reader], 0);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t reader : readers) {
        int status = 0;
        ASSERT_EQ(waitpid(reader, &status, 0), reader);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    wxFileConfig stored(wxEmptyString, wxEmptyString, UserFile(), wxEmptyString,
                        wxCONFIG_USE_LOCAL_FILE);
    int missing = 0;
    for (int reader = 0; reader < kReaders; ++reader) {
        for (int key = 0; key < kKeys; ++key) {
            long value = -1;
            stored.Read(kGroup + wxString::Format("Reader%dKey%d", reader, key), &value);
            missing += value != key;
        }
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(FilesIn(m_home), std::vector<wxString>{".Morvelix"});
}

// While another process holds the lock, a flush waits a second, writes
// nothing and says so; the values are written by the next flush.
TEST_F(SettingsFileTest, ALockHeldElsewhereKeepsTheValuesPending)
{
    const std::string before = "[Morvelix Barcode Reader]\nBeep=500\n";
    WriteFile(UserFile(), before);
    std::unique_ptr<SettingsFile> store(SettingsFile::Open(kName));
    store->Write(kGroup + "Beep", 1000L);
    StandardErrorCapture errors;
    const int held = open(UserFile().fn_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    EXPECT_FALSE(store->Flush());
    close(held);
    EXPECT_EQ(ReadFile(UserFile()), before);
    EXPECT_EQ(errors.LinesWith(UserFile().ToStdString()).size(), 1u);

    EXPECT_TRUE(store->Flush());
    wxString value;
    ASSERT_TRUE(ReadStored(UserFile(), "Beep", &value));
    EXPECT_EQ(value, "1000");
}
