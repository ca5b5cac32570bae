#include "image_loading.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <wx/intl.h>
#include <wx/log.h>

#include "helper_process.h"
#include "image_decoder_reply.h"
#include "regular_file.h"

namespace {

using namespace decoder_reply;

constexpr char kDecoderName[] = "morvelix-decode";

std::string& DecoderSetting()
{
    static std::string program;
    return program;
}

std::string DecoderProgram()
{
    return DecoderSetting().empty() ? ProgramFolder() + "/" + kDecoderName : DecoderSetting();
}

thread_local ImageDecoderStandby* t_standby = nullptr;

using LogRecord = std::pair<wxLogLevel, wxString>;

// The reply as the decoder should have sent it; false for anything else.
bool ParseReply(const std::string& reply, Header& header, std::vector<LogRecord>& log)
{
    if (reply.size() < sizeof header)
        return false;
    std::memcpy(&header, reply.data(), sizeof header);
    if (header.magic != kMagic || header.logBytes != reply.size() - sizeof header)
        return false;
    for (size_t at = sizeof header; at < reply.size();) {
        uint32_t level = 0, length = 0;
        if (reply.size() - at < sizeof level + sizeof length || log.size() == kMaxLogRecords)
            return false;
        std::memcpy(&level, reply.data() + at, sizeof level);
        std::memcpy(&length, reply.data() + at + sizeof level, sizeof length);
        at += sizeof level + sizeof length;
        // A fatal error would end the reader: its level is not taken.
        if (level < wxLOG_Error || level > wxLOG_Progress || length > reply.size() - at)
            return false;
        log.push_back({level, wxString::FromUTF8(reply.data() + at, length)});
        at += length;
    }
    return true;
}

bool ReadAll(int fd, unsigned char* data, size_t size)
{
    for (off_t at = 0; size > 0;) {
        const ssize_t count = pread(fd, data, size, at);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        data += count;
        at += count;
        size -= static_cast<size_t>(count);
    }
    return true;
}

std::string WhySignalled(const HelperRun& run)
{
    if (run.code == SIGXCPU || (run.code == SIGKILL && run.cpuSeconds >= kCpuSeconds))
        return "the decoder used up its " + std::to_string(kCpuSeconds) + " s of processor time";
    return "the decoder was ended by signal " + std::to_string(run.code) + " (" +
           strsignal(run.code) + ")";
}

// Decodes the file in the decoder program, in `standby` when there is one
// that takes it, and takes its picture; `why` says what went wrong when it
// is more than a file that does not load.
bool Load(wxImage& image, const wxString& path, HelperStandby* standby, int cancel,
          std::vector<LogRecord>& log, std::string& why, bool& cancelled)
{
    const OwnedFd file(OpenRegularFile(path.fn_str()));
    if (!file.Valid())
        return false;
    const OwnedFd picture = CreateSharedMemory("morvelix-picture");
    if (!picture.Valid()) {
        why = std::string("no shared memory for the picture: ") + std::strerror(errno);
        return false;
    }
    const std::string program = DecoderProgram();
    constexpr size_t kMaxReply = sizeof(Header) + kMaxLogBytes;
    constexpr std::chrono::seconds kDeadline(kDeadlineSeconds);
    HelperRun run;
    if (standby)
        run = standby->Run(file.Get(), picture.Get(), kMaxReply, kDeadline, cancel);
    // None, or one that could not take the file: it did not see it either.
    if (run.end == HelperRun::End::kNotStarted)
        run = RunHelper(program, file.Get(), picture.Get(), kMaxReply, kDeadline, cancel);
    switch (run.end) {
    case HelperRun::End::kCancelled:
        cancelled = true;
        return false;
    case HelperRun::End::kNotStarted:
        why = "the decoder " + program + " did not start: " + std::strerror(run.code);
        return false;
    case HelperRun::End::kTimedOut:
        why = "the decoder was stopped after " + std::to_string(kDeadlineSeconds) + " s";
        return false;
    case HelperRun::End::kReplyTooLong:
        why = "the decoder's reply was too long";
        return false;
    case HelperRun::End::kSignalled:
        why = WhySignalled(run);
        return false;
    case HelperRun::End::kExited:
        if (run.code != 0) {
            why = "the decoder ended with status " + std::to_string(run.code);
            return false;
        }
        break;
    }

    Header header;
    if (!ParseReply(run.reply, header, log)) {
        log.clear();
        why = "the decoder's reply was malformed";
        return false;
    }
    if (header.outcome == kNotDecoded)
        return false;
    if (header.outcome == kOutOfMemory) {
        why = "the decoder ran out of its " + std::to_string(kAddressSpace >> 20) + " MiB of memory";
        return false;
    }
    const uint64_t pixels = uint64_t{header.width} * header.height;
    struct stat status;
    if (header.outcome != kDecoded || pixels == 0 || pixels > kPixelBudget ||
        fstat(picture.Get(), &status) != 0 ||
        static_cast<uint64_t>(status.st_size) != pixels * 3) {
        why = "the decoder's reply was malformed";
        return false;
    }
    if (!image.Create(static_cast<int>(header.width), static_cast<int>(header.height), false)) {
        why = "no memory for its picture";
        return false;
    }
    if (!ReadAll(picture.Get(), image.GetData(), static_cast<size_t>(pixels * 3))) {
        why = "the decoder's picture could not be read";
        return false;
    }
    return true;
}

} // namespace

DecodedImageFile DecodeImageFileApart(const wxString& path, HelperStandby* standby, int cancel)
{
    DecodedImageFile decoded;
    try {
        decoded.loaded = Load(decoded.image, path, standby, cancel, decoded.log, decoded.why,
                              decoded.cancelled);
    } catch (const std::bad_alloc&) {
        decoded.why = "no memory for its picture";
    }
    if (!decoded.loaded)
        decoded.image.Destroy();
    return decoded;
}

bool ReportImageFile(DecodedImageFile& decoded, wxImage& image, const wxString& path)
{
    for (const LogRecord& record : decoded.log)
        wxLogGeneric(record.first, "%s", record.second);
    image = decoded.image;
    decoded.image = wxImage();
    if (!decoded.loaded) {
        image.Destroy();
        if (!decoded.why.empty())
            std::fprintf(stderr, "morvelix: image file \"%s\" not loaded: %s\n",
                         path.utf8_string().c_str(), decoded.why.c_str());
        // The message the toolkit gives for any image file it cannot load.
        wxLogError(_("Failed to load image from file \"%s\"."), path);
    }
    return decoded.loaded;
}

bool LoadImageFile(wxImage& image, const wxString& path)
{
    image.Destroy();
    DecodedImageFile decoded =
        DecodeImageFileApart(path, t_standby ? t_standby->m_decoder.get() : nullptr, -1);
    return ReportImageFile(decoded, image, path);
}

std::unique_ptr<HelperStandby> StartImageDecoder()
{
    return std::make_unique<HelperStandby>(DecoderProgram());
}

ImageDecoderStandby::ImageDecoderStandby() : m_decoder(StartImageDecoder()), m_outer(t_standby)
{
    t_standby = this;
}

ImageDecoderStandby::~ImageDecoderStandby()
{
    t_standby = m_outer;
}

bool ImageDecoderStandby::WaitUntilReady()
{
    return m_decoder->WaitUntilReady();
}

void SetImageDecoder(const std::string& program)
{
    DecoderSetting() = program;
}
