#include "settings_file.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>
#include <iterator>
#include <memory>
#include <optional>

#include "folder_listing.h"
#include "gui_test.h"
#include "permissions.h"

namespace {

const char kName[] = "Morvelix";
const wxString kGroup = "/Morvelix Barcode Reader/";

std::string Settings(const std::string& lines)
{
    return "[Morvelix Barcode Reader]\n" + lines;
}

// The text as UTF-16, little-endian, after its byte-order mark.
std::string Utf16(const std::string& ascii)
{
    std::string bytes = "\xff\xfe";
    for (char c : ascii)
        bytes += std::string{c, '\0'};
    return bytes;
}

#if defined(__x86_64__)
constexpr __u32 kArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr __u32 kArchitecture = AUDIT_ARCH_AARCH64;
#endif

// How a system call is made to fail from now on in this process, as the
// kernel fails it when a disk is full, a file system read-only and so on.
struct Fault {
    std::vector<long> calls;
    int error;
    int argument = -1; // the call fails only when this argument...
    __u32 bits = 0;    // ...has one of these bits set
};

// Installs the fault with a seccomp filter; false where there is none.
bool Inject(const Fault& fault)
{
#if defined(__x86_64__) || defined(__aarch64__)
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    for (long call : fault.calls) {
        const __u32 argument =
            fault.argument < 0 ? offsetof(seccomp_data, nr)
                               : offsetof(seccomp_data, args) + 8 * fault.argument;
        const __u32 bits = fault.argument < 0 ? ~0u : fault.bits;
        sock_filter program[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArchitecture, 0, 5),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(call), 0, 3),
            // The low half of the argument (or the call's number, never 0).
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument),
            BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, bits, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<__u32>(fault.error)),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog filter = {static_cast<unsigned short>(std::size(program)), program};
        if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) != 0)
            return false;
    }
    return true;
#else
    (void)fault;
    return false;
#endif
}

} // namespace

using SettingsFileTest = GuiTest;

// Readers that flush at the same moment take turns: two processes that
// store 60 values each, one flush per value, lose none of them, and leave
// no other file beside the settings file. Each is a program of its own: a
// child forked from this process, whose other threads may hold locks at
// the fork, could wait for them for ever.
TEST_F(SettingsFileTest, TwoReadersFlushingAtOnceLoseNothing)
{
    constexpr int kReaders = 2;
    constexpr int kKeys = 60;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    const std::string keys = std::to_string(kKeys);
    pid_t readers[kReaders];
    for (int reader = 0; reader < kReaders; ++reader) {
        const std::string prefix =
            (kGroup + wxString::Format("Reader%dKey", reader)).ToStdString();
        readers[reader] = fork();
        if (readers[reader] == 0) {
            // Both start when the gate closes.
            dup2(gate[0], STDIN_FILENO);
            close(gate[0]);
            close(gate[1]);
            execl(SETTINGS_FLUSHER, SETTINGS_FLUSHER, kName, prefix.c_str(), keys.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
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

// A value that is written changes its own line, or adds one to its group,
// or the group to the end of the file; every other byte stays as it was,
// line ends and encoding included, and wxFileConfig reads the values back.
TEST_F(SettingsFileTest, UnchangedLinesKeepTheirBytes)
{
    const wxString accented = wxString::FromUTF8("/\xc3\xa9t\xc3\xa9");
    const struct {
        const char* what;
        std::optional<std::string> before; // none: no file
        std::vector<std::pair<const char*, wxString>> values;
        std::string after;
        size_t said = 0; // lines on standard error about the file as it was
    } cases[] = {
        {"no file yet", std::nullopt, {{"Beep", "1000"}, {"Mode", "0"}},
         Settings("Beep=1000\nMode=0\n")},
        {"a value in place, spacing kept", "[Morvelix Barcode Reader]\n  Beep = 500\nMode=0\n",
         {{"Beep", "1000"}}, "[Morvelix Barcode Reader]\n  Beep = 1000\nMode=0\n"},
        // Read wholly as Latin-1, as wxFileConfig reads it; written back
        // so, the UTF-8 line of another program keeps its bytes.
        {"a UTF-8 file with a Latin-1 comment",
         "# caf\xe9\n[Other]\nowner=Fran\xc3\xa7ois\n[Morvelix Barcode Reader]\nBeep=500\n",
         {{"Beep", "1000"}},
         "# caf\xe9\n[Other]\nowner=Fran\xc3\xa7ois\n[Morvelix Barcode Reader]\nBeep=1000\n"},
        {"CR LF; a new key before the next group's comment",
         "[Morvelix Barcode Reader]\r\nBeep=500\r\n\r\n# the other program\r\n[Other]\r\nx=1\r\n",
         {{"Mode", "0"}},
         "[Morvelix Barcode Reader]\r\nBeep=500\r\nMode=0\r\n\r\n# the other program\r\n"
         "[Other]\r\nx=1\r\n"},
        {"CR alone", "[Morvelix Barcode Reader]\rBeep=500\r", {{"Terminator", "9"}},
         "[Morvelix Barcode Reader]\rBeep=500\rTerminator=9\r"},
        {"no line end at the end", "[Other]\nx=1", {{"Beep", "1000"}},
         "[Other]\nx=1\n" + Settings("Beep=1000\n")},
        {"wxFileConfig's own header", "[Morvelix\\ Barcode\\ Reader]\nBeep=500\n",
         {{"Mode", "1"}}, "[Morvelix\\ Barcode\\ Reader]\nBeep=500\nMode=1\n"},
        {"names in another letter case", "[morvelix barcode reader]\nbeep=500\n",
         {{"Beep", "1000"}}, "[morvelix barcode reader]\nbeep=1000\n"},
        {"a key twice: the last one counts", Settings("Beep=1\nBeep=2\n"), {{"Beep", "3"}},
         Settings("Beep=1\nBeep=3\n"), 1},
        {"the group twice", Settings("Beep=1\n[Other]\nx=1\n[Morvelix Barcode Reader]\nMode=0\n"),
         {{"Terminator", "9"}},
         Settings("Beep=1\n[Other]\nx=1\n[Morvelix Barcode Reader]\nMode=0\nTerminator=9\n"), 0},
        {"lines wxFileConfig skips", Settings("no equals sign\n[unclosed\nBeep=5\n"),
         {{"Beep", "6"}}, Settings("no equals sign\n[unclosed\nBeep=6\n"), 1},
        // Quoted as wxFileConfig quotes: a leading blank, a backslash, a quote.
        {"a value that needs quoting", Settings("Beep=500\n"), {{"Path", " /a b\\c\"d\te"}},
         Settings("Beep=500\nPath=\" /a b\\\\c\\\"d\\te\"\n")},
        {"a UTF-8 byte-order mark", "\xef\xbb\xbf" + Settings("Path=/caf\xc3\xa9\n"),
         {{"Path", accented}}, "\xef\xbb\xbf" + Settings("Path=/\xc3\xa9t\xc3\xa9\n")},
        {"UTF-16", Utf16(Settings("Beep=500\n")), {{"Beep", "1000"}},
         Utf16(Settings("Beep=1000\n"))},
        {"Latin-1", "# caf\xe9\n", {{"Path", accented}},
         "# caf\xe9\n" + Settings("Path=/\xe9t\xe9\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        unlink(UserFile().fn_str());
        if (c.before)
            WriteFile(UserFile(), *c.before);
        StandardErrorCapture errors;
        const std::unique_ptr<SettingsFile> store(SettingsFile::Open(kName));
        for (const auto& [key, value] : c.values)
            store->Write(kGroup + key, value);
        EXPECT_TRUE(store->Flush());
        EXPECT_EQ(ReadFile(UserFile()), c.after);
        EXPECT_EQ(FilesIn(m_home), std::vector<wxString>{".Morvelix"});
        EXPECT_EQ(errors.LinesWith(UserFile().ToStdString()).size(), c.said);
        const std::unique_ptr<SettingsFile> again(SettingsFile::Open(kName));
        for (const auto& [key, value] : c.values) {
            wxString stored;
            EXPECT_TRUE(again->Read(kGroup + key, &stored)) << key;
            EXPECT_EQ(stored, value) << key;
        }
    }
}

// Lines that wxFileConfig skips or doubts are said in one line on standard
// error when the store opens, not at every reading again; a key given
// twice reads as its last value.
TEST_F(SettingsFileTest, ParseProblemsAreOneLine)
{
    WriteFile(UserFile(), Settings("Beep=500\nno equals sign\nBeep=1000\n[unclosed\n"));
    StandardErrorCapture errors;
    SettingsFile* store = SettingsFile::Open(kName);
    long beep = 0;
    EXPECT_TRUE(store->Read(kGroup + "Beep", &beep));
    EXPECT_EQ(beep, 1000);
    store = SettingsFile::Reopen(SettingsFile::Reopen(store));
    delete store;
    const std::vector<std::string> said = errors.LinesWith(UserFile().ToStdString());
    ASSERT_EQ(said.size(), 1u);
    for (const char* part : {"line 3: '=' expected", "line 4: key 'Beep' was first found at line 2",
                             "line 5: ']' expected"})
        EXPECT_NE(said[0].find(part), std::string::npos) << part << " in " << said[0];
    EXPECT_EQ(ReadFile(UserFile()), Settings("Beep=500\nno equals sign\nBeep=1000\n[unclosed\n"));
}

// A write that fails, whatever the reason, is said once on standard error
// with the file and the reason; the file stays as it was, no file is left
// that was not there, and the store keeps the value, which it reads as
// written. The system's failures are made by a seccomp filter in a process
// of its own, as the kernel gives them on a bind-mounted file, a read-only
// file system, a full disk or a file system without locks.
TEST_F(SettingsFileTest, EveryFailedWriteIsSaidOnce)
{
    const Fault busy = {{SYS_renameat, SYS_renameat2,
#ifdef SYS_rename
                         SYS_rename,
#endif
                        },
                        EBUSY};
    const Fault readOnly = {{SYS_openat}, EROFS, 2, O_WRONLY | O_RDWR};
    const Fault full = {{SYS_fsync}, ENOSPC};
    const Fault noLocks = {{SYS_flock}, ENOLCK};
    const struct {
        const char* what;
        std::optional<std::string> before; // none: no file
        const Fault* fault;                // null: none
        bool readOnlyHome;
        wxString path;                     // the value written as Path
        const char* reason;
    } cases[] = {
        {"a bind-mounted file", "[Morvelix Barcode Reader]\nBeep=500\n", &busy, false, "/p",
         "Device or resource busy"},
        {"a read-only file system", "[Morvelix Barcode Reader]\nBeep=500\n", &readOnly, false,
         "/p", "Read-only file system"},
        {"a full disk", "[Morvelix Barcode Reader]\nBeep=500\n", &full, false, "/p",
         "No space left on device"},
        {"a full disk, no file yet", std::nullopt, &full, false, "/p", "No space left on device"},
        {"no locks, no file yet", std::nullopt, &noLocks, false, "/p", "No locks available"},
        {"a read-only home", "[Morvelix Barcode Reader]\nBeep=500\n", nullptr, true, "/p",
         "Permission denied"},
        {"a read-only home, no file yet", std::nullopt, nullptr, true, "/p", "Permission denied"},
        {"a Latin-1 file and a value beyond it", "# caf\xe9\n" + Settings("Beep=500\n"), nullptr,
         false, wxString::FromUTF8("/\xe7\x8c\xab"), "Latin-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        unlink(UserFile().fn_str());
        if (c.before)
            WriteFile(UserFile(), *c.before);
        const std::vector<wxString> files = FilesIn(m_home);
        if (c.readOnlyHome) {
            ASSERT_EQ(chmod(m_home.fn_str(), 0555), 0);
        }
        StandardErrorCapture errors;
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Exits 0 when the write failed and the store kept the value.
            const PermissionsApply permissions;
            SettingsFile* store = SettingsFile::Open(kName);
            store->Write(kGroup + "Path", c.path);
            if (c.fault && !Inject(*c.fault))
                _exit(2);
            const bool flushed = store->Flush();
            wxString read;
            store->Read(kGroup + "Path", &read);
            _exit(!flushed && read == c.path ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        chmod(m_home.fn_str(), 0700);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        if (WEXITSTATUS(status) == 2) {
            std::cout << "[  SKIPPED ] " << c.what << ": no seccomp filter here\n";
            continue;
        }
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const std::vector<std::string> said = errors.LinesWith(UserFile().ToStdString());
        ASSERT_EQ(said.size(), 1u);
        EXPECT_NE(said[0].find(c.reason), std::string::npos) << said[0];
        EXPECT_EQ(FilesIn(m_home), files);
        if (c.before) {
            EXPECT_EQ(ReadFile(UserFile()), *c.before);
        }
    }
}
