#include "image_loading.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <random>

#include <wx/filename.h>

#include "corpus.h"
#include "gif_blocks.h"
#include "image_decoder_reply.h"
#include "load_watch.h"
#include "main_frame_ex.h"
#include "scanner.h"
#include "watchdog.h"

namespace {

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Scratch {
public:
    Scratch()
    {
        char pattern[] = P_tmpdir "/morvelix-load-XXXXXX";
        if (mkdtemp(pattern))
            m_folder = pattern;
    }
    ~Scratch() { wxFileName::Rmdir(m_folder, wxPATH_RMDIR_RECURSIVE); }
    const wxString& Folder() const { return m_folder; }
    wxString Write(const std::string& name, const std::string& bytes)
    {
        const wxString path = m_folder + "/" + name;
        std::ofstream out(path.ToStdString(), std::ios::binary);
        out << bytes;
        return path;
    }

private:
    wxString m_folder;
};

// What the file road makes of the picture: the value, or "" for nothing.
std::string ScanValue(const wxImage& image)
{
    if (!image.IsOk())
        return std::string();
    barcode::Scanner scanner;
    scanner.SetTypes(31);
    const barcode::Image record = {image.GetData(), static_cast<uint32_t>(image.GetWidth()),
                                   static_cast<uint32_t>(image.GetHeight()), image.GetWidth(),
                                   barcode::PIXEL_RGB24};
    return scanner.Scan(&record).value;
}

// The rogue decoder instead of the real one while it lives.
struct UseDecoder {
    explicit UseDecoder(const char* program) { SetImageDecoder(program); }
    ~UseDecoder() { SetImageDecoder(MORVELIX_IMAGE_DECODER); }
};

std::vector<corpus::Row> GifRows()
{
    std::vector<corpus::Row> rows;
    for (const corpus::Row& row : corpus::ReadManifest(corpus::Folder())) {
        if (row.condition == "fmt-gif")
            rows.push_back(row);
    }
    return rows;
}

} // namespace

// Every corpus picture comes from the decoder program as the toolkit's own
// decoding in this process gives it; GIF files, which go to GTK's image
// library instead, too.
TEST(LoadImageFileTest, CorpusPixelsAsTheToolkitReadsThem)
{
    const std::vector<corpus::Row> rows = corpus::ReadManifest(corpus::Folder());
    ASSERT_GT(rows.size(), 200u);
    for (const corpus::Row& row : rows) {
        const wxString path = corpus::Folder() + "/" + row.file;
        wxImage loaded;
        ASSERT_TRUE(LoadImageFile(loaded, path)) << path;
        const wxImage reference(path);
        ASSERT_TRUE(reference.IsOk()) << path;
        ASSERT_FALSE(reference.HasAlpha() || reference.HasMask()) << path;
        ASSERT_EQ(loaded.GetSize(), reference.GetSize()) << path;
        const size_t bytes = static_cast<size_t>(loaded.GetWidth()) * loaded.GetHeight() * 3;
        EXPECT_EQ(std::memcmp(loaded.GetData(), reference.GetData(), bytes), 0) << path;
    }
}

// A GIF cut off at the end of one of its data blocks sent the toolkit's
// decoder reading far past its buffer. Every cut and damage is read as
// far as it goes and gives its own value or nothing.
TEST(LoadImageFileTest, CutAndDamagedGifsAreSafe)
{
    Scratch scratch;
    std::mt19937 random(1207);
    for (const corpus::Row& row : GifRows()) {
        const std::string bytes = ReadBytes(corpus::Folder() + "/" + row.file);
        std::vector<std::string> variants;
        const std::vector<size_t> ends = GifDataBlockEnds(bytes);
        ASSERT_GT(ends.size(), 3u) << row.file;
        // Every file starts a decoder: a third of the block ends, and cuts
        // every kilobyte or so, are plenty.
        for (size_t block = 0; block < ends.size(); block += 3) {
            variants.push_back(bytes.substr(0, ends[block]));
            variants.push_back(bytes.substr(0, ends[block] + 1));
        }
        for (size_t length = 0; length < bytes.size(); length += 997)
            variants.push_back(bytes.substr(0, length));
        for (int i = 0; i < 24; ++i) {
            std::string damaged = bytes;
            for (int k = 0; k < 1 + i % 8; ++k)
                damaged[6 + random() % (damaged.size() - 6)] = static_cast<char>(random());
            variants.push_back(damaged);
        }
        for (size_t i = 0; i < variants.size(); ++i) {
            const wxString path = scratch.Write("cut.gif", variants[i]);
            wxImage image;
            const bool loaded = LoadImageFile(image, path);
            EXPECT_EQ(loaded, image.IsOk());
            const std::string value = ScanValue(image);
            EXPECT_TRUE(value.empty() || value == row.expected)
                << row.file << " variant " << i << " (" << variants[i].size() << " bytes): "
                << value;
        }
    }
}

TEST(LoadImageFileTest, TransparentGifPixelsAreWhite)
{
    // Two pixels: palette colour 0, then colour 1, which is transparent.
    const std::string gif(
        "GIF89a\x02\x00\x01\x00\x80\x00\x00"  // 2 x 1, a global table of two colours
        "\x0a\x14\x1e\x01\x02\x03"              // (10, 20, 30) and (1, 2, 3)
        "\x21\xf9\x04\x01\x00\x00\x01\x00"      // colour 1 is transparent
        "\x2c\x00\x00\x00\x00\x02\x00\x01\x00\x00" // the image, no local table
        "\x02\x02\x44\x0a\x00"                  // codes clear, 0, 1, end in 3 bits
        "\x3b",
        41);
    Scratch scratch;
    wxImage loaded;
    ASSERT_TRUE(LoadImageFile(loaded, scratch.Write("transparent.gif", gif)));
    ASSERT_EQ(loaded.GetSize(), wxSize(2, 1));
    EXPECT_EQ(wxColour(loaded.GetRed(0, 0), loaded.GetGreen(0, 0), loaded.GetBlue(0, 0)),
              wxColour(10, 20, 30));
    EXPECT_EQ(wxColour(loaded.GetRed(1, 0), loaded.GetGreen(1, 0), loaded.GetBlue(1, 0)),
              wxColour(255, 255, 255));
}

TEST(LoadImageFileTest, FilesThatAreNoImages)
{
    Scratch scratch;
    const struct {
        const char* name;
        std::string bytes;
    } files[] = {
        {"empty.gif", ""},
        {"signature.gif", "GIF89a"},
        {"text.png", "not a picture\n"},
        {"empty.bmp", ""},
    };
    for (const auto& file : files) {
        wxImage image(4, 4);
        EXPECT_FALSE(LoadImageFile(image, scratch.Write(file.name, file.bytes))) << file.name;
        EXPECT_FALSE(image.IsOk()) << file.name << ": the old picture is gone";
    }
    // Missing, a folder, a device: nothing to read a picture from.
    for (const wxString& path : {wxString("/no/such/file.gif"), scratch.Folder(),
                                 wxString("/dev/zero")}) {
        wxImage image;
        EXPECT_FALSE(LoadImageFile(image, path)) << path;
        EXPECT_FALSE(image.IsOk()) << path;
    }
}

// The content decides, not the name.
TEST(LoadImageFileTest, ContentDecidesTheFormat)
{
    Scratch scratch;
    for (const char* file : {"images/ean13_fmt-gif_v8.gif", "images/ean13_fmt-bmp_v7.bmp"}) {
        const std::string bytes = ReadBytes(corpus::Folder() + "/" + file);
        wxImage image;
        ASSERT_TRUE(LoadImageFile(image, scratch.Write("misnamed.png", bytes))) << file;
        EXPECT_FALSE(ScanValue(image).empty()) << file;
    }
}

// Black bars on a transparent background whose hidden colour is black too,
// as optimisers write them: the scan sees what the screen shows.
TEST(LoadImageFileTest, TransparentPartsAreWhite)
{
    const wxImage clean(corpus::Folder() + "/images/ean13_clean_v1.png");
    ASSERT_EQ(ScanValue(clean), "5901234123457");
    wxImage hidden(clean.GetWidth(), clean.GetHeight()); // black
    hidden.SetAlpha();
    for (int y = 0; y < clean.GetHeight(); ++y) {
        for (int x = 0; x < clean.GetWidth(); ++x)
            hidden.SetAlpha(x, y, clean.GetRed(x, y) < 128 ? 255 : 0);
    }
    Scratch scratch;
    for (const wxBitmapType type : {wxBITMAP_TYPE_PNG, wxBITMAP_TYPE_TIF}) {
        const wxString path = scratch.Folder() + (type == wxBITMAP_TYPE_PNG ? "/a.png" : "/a.tif");
        ASSERT_TRUE(hidden.SaveFile(path, type)) << path;
        const wxImage raw(path, type);
        ASSERT_TRUE(raw.HasAlpha() || raw.HasMask()) << path;
        EXPECT_EQ(ScanValue(raw), "") << path << ": the hidden colour reads as nothing";

        wxImage loaded;
        ASSERT_TRUE(LoadImageFile(loaded, path)) << path;
        EXPECT_FALSE(loaded.HasAlpha() || loaded.HasMask()) << path;
        EXPECT_EQ(wxColour(loaded.GetRed(0, 0), loaded.GetGreen(0, 0), loaded.GetBlue(0, 0)),
                  *wxWHITE)
            << path;
        EXPECT_EQ(ScanValue(loaded), "5901234123457") << path;
    }
}

// A decoder that answers anything but a sound picture is not believed: the
// file is refused with the toolkit's message and a line on standard error
// that names it, in time, and neither the decoder nor anything it started
// stays behind.
TEST(LoadImageFileTest, TheDecodersAnswerIsChecked)
{
    const struct {
        const char* order; // what the rogue decoder does
        bool loaded;
        const char* why; // on standard error
    } cases[] = {
        {"picture", true, nullptr},
        {"silent", false, "reply was malformed"},
        {"status", false, "ended with status 3"},
        {"magic", false, "reply was malformed"},
        {"oversize", false, "reply was malformed"},
        {"short", false, "reply was malformed"},
        {"long", false, "reply was malformed"},
        {"log-length", false, "reply was malformed"},
        {"fatal-log", false, "reply was malformed"},
        {"flood", false, "reply was too long"},
        {"orphan", true, nullptr},
        {"sleep", false, "stopped after 20 s"},
    };
    const UseDecoder rogue(ROGUE_DECODER);
    Scratch scratch;
    for (const auto& c : cases) {
        const wxString path = scratch.Write(std::string(c.order) + ".png", c.order);
        StderrCapture errors;
        LogCapture log;
        wxImage image;
        {
            // A decoder that is not stopped at its deadline hangs here.
            const test_watchdog::Bound bound(
                std::chrono::seconds(decoder_reply::kDeadlineSeconds + 60), c.order);
            EXPECT_EQ(LoadImageFile(image, path), c.loaded) << c.order;
        }
        EXPECT_EQ(image.IsOk(), c.loaded) << c.order;
        const std::string said = errors.Text();
        if (c.why) {
            EXPECT_NE(said.find("\"" + path.ToStdString() + "\" not loaded: "), std::string::npos)
                << said;
            EXPECT_NE(said.find(c.why), std::string::npos) << c.order << ": " << said;
            EXPECT_TRUE(log.m_text.Contains("Failed to load image from file")) << c.order;
        } else {
            EXPECT_EQ(said.find("not loaded"), std::string::npos) << c.order << ": " << said;
            ASSERT_EQ(image.GetSize(), wxSize(2, 1)) << c.order;
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.GetData()), 6),
                      "\x0a\x14\x1e\x28\x32\x3c");
        }
        EXPECT_TRUE(ChildrenRunning("rogue_decoder").empty()) << c.order;
        if (std::string(c.order) == "picture") {
            EXPECT_TRUE(log.m_text.Contains("two pixels")) << log.m_text;
        }
        if (std::string(c.order) == "orphan") {
            // The decoder's own child, which kept the reply's pipe open, is
            // gone too: killed with its group.
            const int at = log.m_text.Find("grandchild ");
            ASSERT_NE(at, wxNOT_FOUND) << log.m_text;
            long child = 0;
            ASSERT_TRUE(log.m_text.Mid(at + 11).BeforeFirst('\n').ToLong(&child));
            const int exited = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
            if (exited >= 0) {
                pollfd watched = {exited, POLLIN, 0};
                EXPECT_EQ(poll(&watched, 1, 60000), 1) << "the grandchild still runs";
                close(exited);
            }
        }
    }
}

// A decoder started ahead takes the next file, under the same checks; one
// that has died before the hand-over is replaced without a word. Nothing
// of either is left once the file is loaded.
TEST(LoadImageFileTest, ADecoderStartedAheadTakesTheFile)
{
    const UseDecoder rogue(ROGUE_DECODER);
    Scratch scratch;
    const wxString path = scratch.Write("picture.png", "picture");
    for (const bool killed : {false, true}) {
        const std::vector<std::string> descriptors = OpenDescriptors();
        {
            ImageDecoderStandby standby;
            ASSERT_TRUE(standby.WaitUntilReady()) << killed;
            const std::vector<int> waiting = ChildrenRunning("rogue_decoder");
            ASSERT_EQ(waiting.size(), 1u) << killed;
            if (killed) {
                const int ended = static_cast<int>(syscall(SYS_pidfd_open, waiting[0], 0));
                ASSERT_GE(ended, 0);
                ASSERT_EQ(kill(waiting[0], SIGKILL), 0);
                pollfd watched = {ended, POLLIN, 0};
                EXPECT_EQ(poll(&watched, 1, 60000), 1) << "the decoder still runs";
                close(ended);
            }
            StderrCapture errors;
            LogCapture log;
            wxImage image;
            EXPECT_TRUE(LoadImageFile(image, path)) << killed;
            EXPECT_EQ(image.GetSize(), wxSize(2, 1)) << killed;
            EXPECT_EQ(errors.Text().find("not loaded"), std::string::npos) << errors.Text();
            EXPECT_TRUE(log.m_text.Contains("two pixels")) << log.m_text;
            // It is not reaped while the file is loaded: no other process has its number.
            if (!killed) {
                EXPECT_TRUE(log.m_text.Contains(wxString::Format("(decoder %d)", waiting[0])))
                    << log.m_text;
            }
            EXPECT_TRUE(ChildrenRunning("rogue_decoder").empty()) << killed;
        }
        EXPECT_EQ(OpenDescriptors(), descriptors) << killed;
    }
}
