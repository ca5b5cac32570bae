// The image decoder program, morvelix-decode: the reader starts one for each
// image file it opens, with the file as its standard input, and reads the
// picture from the shared memory it is given; one started while the user
// picks the file gets both on its control socket once it has loaded.
// Whatever a file makes the toolkit's decoders do, a crash, a memory bomb or
// an endless loop, happens here, under limits set before the file is read,
// and not in the reader. It needs no display.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include <wx/file.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

#include "helper_process.h"
#include "image_decoder_reply.h"
#include "image_decoding.h"
#include "regular_file.h"
#include "standard_descriptors.h"

// Whether the memory limit has refused an allocation: a decoding that
// then fails has run out of memory, whatever the decoder says about the
// file. Every allocation of the toolkit and its libraries comes here.
namespace {
// Read by the abort handler too.
volatile sig_atomic_t g_allocationRefused = 0;
}

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* memory, size_t size);

void* malloc(size_t size)
{
    void* memory = __libc_malloc(size);
    if (memory == nullptr && size > 0)
        g_allocationRefused = 1;
    return memory;
}

void* calloc(size_t count, size_t size)
{
    void* memory = __libc_calloc(count, size);
    if (memory == nullptr && count > 0 && size > 0)
        g_allocationRefused = 1;
    return memory;
}

void* realloc(void* memory, size_t size)
{
    void* moved = __libc_realloc(memory, size);
    if (moved == nullptr && size > 0)
        g_allocationRefused = 1;
    return moved;
}
}

namespace {

using namespace decoder_reply;

void Append32(std::string& out, uint32_t value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Keeps what the toolkit logs, for the reader to log in its turn: the
// messages of a file that fails are what the user sees about it.
class ReplyLog : public wxLog {
public:
    std::string m_records;

protected:
    void DoLogRecord(wxLogLevel level, const wxString& message, const wxLogRecordInfo&) override
    {
        std::string text = message.utf8_string();
        const size_t room = kMaxLogBytes - m_records.size();
        if (m_count == kMaxLogRecords || room <= 2 * sizeof(uint32_t))
            return;
        if (text.size() > room - 2 * sizeof(uint32_t)) {
            text.resize(room - 2 * sizeof(uint32_t));
            // Cut at a character's start: the reader takes only whole UTF-8.
            while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xc0) == 0x80)
                text.pop_back();
            if (!text.empty())
                text.pop_back();
        }
        Append32(m_records, static_cast<uint32_t>(level));
        Append32(m_records, static_cast<uint32_t>(text.size()));
        m_records += text;
        ++m_count;
    }

private:
    uint32_t m_count = 0;
};

// A failed check inside the toolkit means a decoder has lost its way: it
// ends here, and the reader reports the signal.
void AssertEndsTheDecoding(const wxString& file, int line, const wxString& function,
                           const wxString& condition, const wxString& message)
{
    std::fprintf(stderr, "morvelix-decode: %s:%d %s: %s %s\n", file.utf8_str().data(), line,
                 function.utf8_str().data(), condition.utf8_str().data(),
                 message.utf8_str().data());
    std::abort();
}

// GLib's allocator does not fail: it ends the program, with SIGTRAP or
// SIGABRT after its message, when the memory limit refuses it. A decoder
// that ends so after a refusal has run out of memory, and says so.
void EndOutOfMemory(int signal)
{
    if (!g_allocationRefused) {
        raise(signal); // the handler was reset: the default action now
        return;
    }
    static const Header header = {kMagic, kOutOfMemory, 0, 0, 0};
    const bool sent = write(kHelperReplyFd, &header, sizeof header) == sizeof header;
    _exit(sent ? 0 : 4);
}

void ReportOutOfMemoryAtAbort()
{
    struct sigaction action = {};
    action.sa_handler = EndOutOfMemory;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTRAP, &action, nullptr);
    sigaction(SIGABRT, &action, nullptr);
}

bool WritePicture(const wxImage& image)
{
    const size_t size = static_cast<size_t>(image.GetWidth()) * image.GetHeight() * 3;
    return ftruncate(kHelperOutputFd, static_cast<off_t>(size)) == 0 &&
           WriteAll(kHelperOutputFd, image.GetData(), size);
}

} // namespace

int main()
{
    // Started with standard error closed, a toolkit's message would go
    // into the reply's pipe or the picture's memory.
    if (!OpenStandardDescriptors())
        return 2;
    if (!LimitThisHelper({kAddressSpace, kCpuSeconds}))
        return 2;
    ReportOutOfMemoryAtAbort();
    // The toolkit's logging and thread checks; no display is opened.
    wxInitializer toolkit;
    if (!toolkit.IsOk())
        return 3;
    wxSetAssertHandler(AssertEndsTheDecoding);
    ReplyLog* log = new ReplyLog;
    delete wxLog::SetActiveTarget(log);
    wxInitAllImageHandlers();
    if (!TakeHelperDescriptors())
        return 5;

    Header header = {kMagic, kNotDecoded, 0, 0, 0};
    {
        wxImage image;
        wxFile file(0);
        try {
            if (DecodeImageFile(image, file))
                header.outcome = kDecoded;
        } catch (const std::bad_alloc&) {
            header.outcome = kOutOfMemory;
        }
        if (header.outcome == kNotDecoded && g_allocationRefused)
            header.outcome = kOutOfMemory;
        if (header.outcome == kDecoded) {
            // No room in memory for the shared copy is running out of memory too.
            if (WritePicture(image)) {
                header.width = static_cast<uint32_t>(image.GetWidth());
                header.height = static_cast<uint32_t>(image.GetHeight());
            } else {
                header.outcome = kOutOfMemory;
            }
        }
    }
    header.logBytes = static_cast<uint32_t>(log->m_records.size());
    std::string reply(reinterpret_cast<const char*>(&header), sizeof header);
    reply += log->m_records;
    // The reader waits for this process to end: the toolkit's clean-up,
    // a few milliseconds, would only keep it waiting.
    _exit(WriteAll(kHelperReplyFd, reply.data(), reply.size()) ? 0 : 4);
}
