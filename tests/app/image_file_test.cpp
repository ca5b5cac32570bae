#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/grid.h>
#include <wx/log.h>
#include <wx/scrolwin.h>
#include <wx/settings.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>
#include <wx/weakref.h>

#include "corpus.h"
#include "dialog_answers.h"
#include "gif_blocks.h"
#include "gui_test.h"
#include "image_decoder_reply.h"
#include "helper_process.h"
#include "image_files.h"
#include "image_opening.h"
#include "load_watch.h"
#include "live_test_support.h"
#include "my_frame.h"
#include "watchdog.h"

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Little memory without the sanitizers: while a test sets this, larger
// allocations fail, everywhere in the process, as AddressSanitizer's
// max_allocation_size_mb makes them fail in the sanitizer build. A limit on
// the address space would be blurred by what threads map and unmap.
static std::atomic<size_t> g_largestAllocation{SIZE_MAX};

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* memory, size_t size);

void* malloc(size_t size)
{
    if (size > g_largestAllocation) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    if (size != 0 && count > g_largestAllocation / size) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_calloc(count, size);
}

void* realloc(void* memory, size_t size)
{
    if (size > g_largestAllocation) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_realloc(memory, size);
}
}
#endif

namespace {

// One image file and the row that opening it must add.
struct FileCase {
    wxString path;
    std::string format;    // bmp, gif, jpg, png, tif
    std::string symbology; // as the corpus names it
    wxString value;        // the Barcode cell
    wxString type;         // the Type cell
    bool required;         // false: "NONE" is allowed too
};

// The corpus folder as an absolute path without "..": the file chooser
// reports paths in that form.
wxString CorpusFile(const std::string& relative)
{
    wxFileName name(corpus::Folder() + "/" + relative);
    name.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_ABSOLUTE);
    return name.GetFullPath();
}

std::string FormatOf(const wxString& path)
{
    const wxString extension = path.AfterLast('.').Lower();
    return (extension == "jpeg" ? wxString("jpg") : extension == "tiff" ? wxString("tif")
                                                                        : extension)
        .ToStdString();
}

wxString TypeCell(int type)
{
    const char* name = BarcodeTypeName(type);
    return name ? wxString(name) : wxString();
}

void WriteBytes(const wxString& path, const std::string& bytes)
{
    std::ofstream out(path.ToStdString(), std::ios::binary);
    out << bytes;
}

std::string ReadBytes(const wxString& path)
{
    std::ifstream in(path.ToStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The pipes and sockets this process holds, a decoder's among them; the
// file chooser opens and closes others as it likes.
std::vector<std::string> PipesAndSockets()
{
    std::vector<std::string> held = OpenDescriptors();
    held.erase(std::remove_if(held.begin(), held.end(),
                              [](const std::string& target) {
                                  return target.rfind("pipe:", 0) != 0 &&
                                         target.rfind("socket:", 0) != 0;
                              }),
               held.end());
    return held;
}

// What an opening may add to the reader's peak memory besides its picture:
// its thread's stack and the sanitizers' caches of that thread, far below
// the gigabyte that a file refused unread would have taken.
constexpr long kOpeningMiB = 100;

constexpr const char* kSymbologies[] = {"EAN13", "UPCA", "EAN8", "UPCE", "CODE39", "CODE128"};
constexpr const char* kFormats[] = {"bmp", "gif", "jpg", "png", "tif"};

// While it lives, writes to a FIFO whenever someone has opened it to read,
// which lets a reader blocked there go on, and counts that in `opened`.
class FifoWatch {
public:
    explicit FifoWatch(const std::string& path)
        : m_thread([this, path] {
              for (; !m_stop; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
                  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
                  if (fd >= 0) {
                      ++opened;
                      (void)!write(fd, "GIF8", 4);
                      close(fd);
                  }
              }
          })
    {
    }
    ~FifoWatch()
    {
        m_stop = true;
        m_thread.join();
    }
    std::atomic<int> opened{0};

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

class ImageFileTest : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        m_scratch = m_home + "/images";
        ASSERT_TRUE(wxMkdir(m_scratch));
    }

    // Opens the file through the real command and dialog; the row it added.
    void Open(MyFrame1* frame, const wxString& path, int command = ID_OPEN_FILE)
    {
        DialogAnswers answers;
        answers.AnswerFileDialog(frame->m_openDialog, path);
        const int rowsBefore = frame->m_grid->GetNumberRows();
        SendCommand(frame, command);
        ASSERT_TRUE(answers.FileDialogAnswered()) << path;
        ASSERT_NO_FATAL_FAILURE(WaitForOpening(frame));
        ASSERT_EQ(frame->m_grid->GetNumberRows(), rowsBefore + 1) << path;
        EXPECT_TRUE(answers.Messages().empty()) << path << ": " << answers.Messages()[0].text;
    }
    // The cells of the newest history row.
    wxString Cell(MyFrame1* frame, int column)
    {
        return frame->m_grid->GetCellValue(frame->m_grid->GetNumberRows() - 2, column);
    }
    // Scroll units across and down, and pixels per unit.
    void ExpectScrollArea(MyFrame1* frame, int unitsX, int unitsY, const wxString& what)
    {
        int perUnitX = 0, perUnitY = 0;
        frame->m_videoPanel->GetScrollPixelsPerUnit(&perUnitX, &perUnitY);
        EXPECT_EQ(perUnitX, 20) << what;
        EXPECT_EQ(perUnitY, 20) << what;
        // The scrolled area never reads smaller than the panel; scroll lines
        // exist only where it is larger.
        const wxSize client = frame->m_videoPanel->GetClientSize();
        EXPECT_EQ(frame->m_videoPanel->GetVirtualSize(),
                  wxSize(std::max(client.x, unitsX * 20), std::max(client.y, unitsY * 20)))
            << what;
        if (unitsX * 20 > client.x) {
            EXPECT_EQ(frame->m_videoPanel->GetScrollLines(wxHORIZONTAL), unitsX) << what;
        }
        if (unitsY * 20 > client.y) {
            EXPECT_EQ(frame->m_videoPanel->GetScrollLines(wxVERTICAL), unitsY) << what;
        }
        EXPECT_EQ(frame->m_videoPanel->GetViewStart(), wxPoint(0, 0)) << what;
    }
    // A copy of an image file in another format, written by the toolkit.
    wxString Convert(const wxString& from, const wxString& name, wxBitmapType type)
    {
        wxImage image(from);
        EXPECT_TRUE(image.IsOk()) << from;
        image.SetOption(wxIMAGE_OPTION_QUALITY, 95);
        const wxString to = m_scratch + "/" + name;
        EXPECT_TRUE(image.SaveFile(to, type)) << to;
        return to;
    }

    wxString m_scratch; // files the test makes
};

// Every symbology in each of the five formats gives its row: BMP, GIF and
// TIFF from the corpus's format rows, PNG from its clean rows, JPEG made
// from a clean PNG at high quality; the corpus's own JPEGs, made at
// quality 75, may also read as nothing, never as anything else.
TEST_F(ImageFileTest, EverySymbologyInEveryFormat)
{
    std::vector<FileCase> cases;
    std::set<std::string> firstClean;
    for (const corpus::Row& row : corpus::ReadManifest(corpus::Folder())) {
        if (std::find(std::begin(kSymbologies), std::end(kSymbologies), row.symbology) ==
            std::end(kSymbologies))
            continue;
        FileCase c{CorpusFile(row.file), FormatOf(row.file), row.symbology,
                   EngineText(row.expected), TypeCell(row.type), true};
        if (row.condition == "fmt-bmp" || row.condition == "fmt-gif" ||
            row.condition == "fmt-tiff") {
            cases.push_back(c);
        } else if (row.condition == "clean") {
            cases.push_back(c);
            if (firstClean.insert(row.symbology).second) {
                c.path = Convert(c.path, wxString(row.symbology) + ".jpg", wxBITMAP_TYPE_JPEG);
                c.format = "jpg";
                cases.push_back(c);
            }
        } else if (row.condition == "jpeg75" || row.condition == "camera") {
            c.required = false;
            cases.push_back(c);
        }
    }
    // All thirty pairs are there, with a required case each.
    std::set<std::pair<std::string, std::string>> pairs;
    for (const FileCase& c : cases) {
        if (c.required)
            pairs.insert({c.symbology, c.format});
    }
    for (const char* symbology : kSymbologies) {
        for (const char* format : kFormats)
            EXPECT_EQ(pairs.count({symbology, format}), 1u) << symbology << " " << format;
    }

    MyFrame1* frame = OpenWindow();
    Settle();
    std::map<std::string, int> maybeRead;
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.path.ToStdString());
        ASSERT_NO_FATAL_FAILURE(Open(frame, c.path));
        EXPECT_EQ(Cell(frame, 3), c.path);
        if (!c.required && Cell(frame, 1) == "NONE") {
            EXPECT_EQ(Cell(frame, 2), "N/A");
            continue;
        }
        EXPECT_EQ(Cell(frame, 1), c.value);
        EXPECT_EQ(Cell(frame, 2), c.type);
        EXPECT_EQ(frame->m_text->GetValue(), c.value);
        if (!c.required)
            ++maybeRead[c.symbology];
        // The picture is the file's, at full size, in an area 60 pixels larger.
        ASSERT_TRUE(frame->m_image.IsOk());
        const wxImage file(c.path);
        EXPECT_EQ(frame->m_image.GetSize(), file.GetSize());
        ExpectScrollArea(frame, (file.GetWidth() + 60) / 20, (file.GetHeight() + 60) / 20,
                         c.path);
    }
    for (const auto& read : maybeRead)
        printf("quality-75 JPEGs read: %s %d of 2\n", read.first.c_str(), read.second);
    // Opening is no camera reading: nothing waits for a second read.
    EXPECT_EQ(frame->m_state, STATE_IDLE);
    CloseWindow(frame);
}

// Files that hold no image data give "NONE" and "N/A" with their path; the
// panel then shows nothing in an area of 60 by 60 pixels.
TEST_F(ImageFileTest, DamagedFilesInEveryFormat)
{
    // One clean file per format, as the corpus has it or as the toolkit writes it.
    const wxString png = CorpusFile("images/ean13_clean_v1.png");
    const wxString sources[] = {
        CorpusFile("images/ean13_fmt-bmp_v7.bmp"), CorpusFile("images/ean13_fmt-gif_v8.gif"),
        Convert(png, "source.jpg", wxBITMAP_TYPE_JPEG), png,
        CorpusFile("images/ean13_fmt-tiff_v1.tif"),
    };
    std::mt19937 random(20261207);
    std::vector<wxString> damaged;
    for (const wxString& source : sources) {
        const std::string bytes = ReadBytes(source);
        ASSERT_GT(bytes.size(), 1000u) << source;
        const std::string format = FormatOf(source);
        auto make = [&](const std::string& name, const std::string& content) {
            const wxString path = m_scratch + "/" + name + "." + format;
            WriteBytes(path, content);
            damaged.push_back(path);
        };
        make("empty", "");
        make("signature-only", bytes.substr(0, 8));
        make("header-only", bytes.substr(0, 40));
        make("first-sixteenth", bytes.substr(0, bytes.size() / 16));
        make("text", "This is a shopping list, not a picture.\n");
        std::string noise(bytes.size(), '\0');
        for (char& byte : noise)
            byte = static_cast<char>(random());
        make("noise", noise);
        // The signature and header intact, the picture data all noise.
        make("noise-after-header", bytes.substr(0, 64) + noise.substr(64));
        // Cut off at the end of an early data block.
        const std::vector<size_t> ends = GifDataBlockEnds(bytes);
        if (format == "gif") {
            ASSERT_GT(ends.size(), 2u);
            make("cut-at-block-end", bytes.substr(0, ends[1]));
        }
    }

    MyFrame1* frame = OpenWindow();
    Settle();
    for (const wxString& path : damaged) {
        ASSERT_NO_FATAL_FAILURE(Open(frame, path));
        EXPECT_EQ(Cell(frame, 1), "NONE") << path;
        EXPECT_EQ(Cell(frame, 2), "N/A") << path;
        EXPECT_EQ(Cell(frame, 3), path);
        if (!frame->m_image.IsOk())
            ExpectScrollArea(frame, 3, 3, path);
    }
    // A damaged file after a good one shows no trace of the good one.
    Open(frame, png);
    EXPECT_TRUE(frame->m_image.IsOk());
    Open(frame, m_scratch + "/empty.png");
    EXPECT_FALSE(frame->m_image.IsOk());
    ExpectScrollArea(frame, 3, 3, "empty.png");
    CloseWindow(frame);
}

// Files cut off or damaged anywhere load as far as they can: they may still
// give their value, never another one, and nothing breaks.
TEST_F(ImageFileTest, CutAndCorruptedFilesNeverGiveAnotherValue)
{
    const wxString png = CorpusFile("images/ean13_clean_v1.png");
    const struct {
        wxString path;
        const char* value;
    } sources[] = {
        {CorpusFile("images/ean13_fmt-bmp_v7.bmp"), "2001234567893"},
        {CorpusFile("images/ean13_fmt-gif_v8.gif"), "1234567890128"},
        {Convert(png, "source.jpg", wxBITMAP_TYPE_JPEG), "5901234123457"},
        {png, "5901234123457"},
        {CorpusFile("images/ean13_fmt-tiff_v1.tif"), "5901234123457"},
    };
    std::mt19937 random(7);
    MyFrame1* frame = OpenWindow();
    Settle();
    for (const auto& source : sources) {
        const std::string bytes = ReadBytes(source.path);
        const std::string format = FormatOf(source.path);
        std::vector<std::string> variants;
        for (int sixteenths = 2; sixteenths < 16; sixteenths += 2)
            variants.push_back(bytes.substr(0, bytes.size() * sixteenths / 16));
        for (int i = 0; i < 6; ++i) {
            std::string corrupted = bytes;
            for (int k = 0; k < 20; ++k)
                corrupted[64 + random() % (corrupted.size() - 64)] = static_cast<char>(random());
            variants.push_back(corrupted);
        }
        for (size_t i = 0; i < variants.size(); ++i) {
            const wxString path = m_scratch + wxString::Format("/damaged-%zu.", i) + format;
            WriteBytes(path, variants[i]);
            ASSERT_NO_FATAL_FAILURE(Open(frame, path));
            const wxString value = Cell(frame, 1);
            EXPECT_TRUE(value == "NONE" || value == source.value) << path << ": " << value;
            EXPECT_EQ(Cell(frame, 2), value == "NONE" ? "N/A" : "EAN 13") << path;
        }
    }
    CloseWindow(frame);
}

TEST_F(ImageFileTest, ScrollAreaIsThePictureAndSixtyPixels)
{
    const struct {
        int width;
        int height;
        int unitsX;
        int unitsY;
    } sizes[] = {{1000, 700, 53, 38}, {1, 1, 3, 3}, {19, 21, 3, 4}, {640, 480, 35, 27}};
    MyFrame1* frame = OpenWindow();
    Settle();
    for (const auto& size : sizes) {
        wxImage picture(size.width, size.height);
        const wxString path = m_scratch + wxString::Format("/%dx%d.png", size.width, size.height);
        ASSERT_TRUE(picture.SaveFile(path, wxBITMAP_TYPE_PNG));
        // Scrolled away first: the new picture starts at its top left.
        frame->m_videoPanel->Scroll(5, 5);
        Open(frame, path);
        EXPECT_EQ(Cell(frame, 1), "NONE");
        ExpectScrollArea(frame, size.unitsX, size.unitsY, path);
        if (size.width == 1000) {
            EXPECT_EQ(frame->m_videoPanel->GetScrollLines(wxHORIZONTAL), 53);
            EXPECT_EQ(frame->m_videoPanel->GetScrollLines(wxVERTICAL), 38);
        }
    }
    CloseWindow(frame);
}

// Files are read with Code 128 whatever its tool says; the scanner keeps
// it, also for the camera, until a type tool is clicked.
TEST_F(ImageFileTest, Code128StaysOnAfterAFile)
{
    WriteFile(UserFile(), "[Morvelix Barcode Reader]\nBarcodeTypes=15\n");
    MyFrame1* frame = OpenWindow();
    Settle();
    ASSERT_EQ(frame->m_scanner.m_decoderSet.GetTypes(), 15);
    const wxString code128 = CorpusFile("images/code128_fmt-bmp_v10.bmp");
    Open(frame, code128, ID_MENU_OPEN_FILE);
    EXPECT_EQ(Cell(frame, 1), "1234ABCD");
    EXPECT_EQ(Cell(frame, 2), "CODEBAR 128");
    EXPECT_EQ(frame->m_scanner.m_decoderSet.GetTypes(), 31);
    EXPECT_FALSE(frame->m_typeToolBar->GetToolState(ID_CODEBAR128)) << "the tools stay";
    // The camera's scans use the same scanner.
    barcode::Image image = {frame->m_image.GetData(),
                            static_cast<uint32_t>(frame->m_image.GetWidth()),
                            static_cast<uint32_t>(frame->m_image.GetHeight()),
                            frame->m_image.GetWidth(), barcode::PIXEL_RGB24};
    EXPECT_EQ(frame->m_scanner.Scan(&image).value, "1234ABCD");
    CloseWindow(frame);
    wxString saved;
    ASSERT_TRUE(ReadStored(UserFile(), "BarcodeTypes", &saved));
    EXPECT_EQ(saved, "31");

    // A click on a type tool brings the types back to the tools.
    WriteFile(UserFile(), "[Morvelix Barcode Reader]\nBarcodeTypes=15\n");
    frame = OpenWindow();
    Settle();
    Open(frame, code128);
    ClickTool(frame->m_typeToolBar, ID_UPCE);
    ClickTool(frame->m_typeToolBar, ID_UPCE);
    EXPECT_EQ(frame->m_scanner.m_decoderSet.GetTypes(), 15);
    Open(frame, code128);
    EXPECT_EQ(Cell(frame, 1), "1234ABCD") << "each file adds Code 128 again";
    CloseWindow(frame);
}

// Cancelling still stops live scanning; the camera stays as it was. The
// decoder that loaded while the dialog was up is gone with it.
TEST_F(ImageFileTest, CancelStopsLiveScanningOnly)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    const wxString png = CorpusFile("images/ean8_clean_v1.png");
    Open(frame, png);
    const int rows = frame->m_grid->GetNumberRows();
    frame->m_state = STATE_PLAYING;
    const std::vector<std::string> descriptors = PipesAndSockets();
    DialogAnswers answers;
    answers.AnswerFileDialog(frame->m_openDialog, wxEmptyString, -1, false);
    size_t decoders = 0;
    answers.WhenFileDialogShown([&] { decoders = ChildrenRunning("morvelix-decode").size(); });
    SendCommand(frame, ID_OPEN_FILE);
    EXPECT_TRUE(answers.FileDialogAnswered());
    EXPECT_EQ(decoders, 1u) << "one waits for the file while the dialog is up";
    EXPECT_TRUE(ChildrenRunning("morvelix-decode").empty());
    EXPECT_EQ(PipesAndSockets(), descriptors);
    EXPECT_EQ(frame->m_state, STATE_IDLE);
    EXPECT_EQ(frame->m_grid->GetNumberRows(), rows);
    EXPECT_TRUE(frame->m_image.IsOk()) << "the picture stays";
    EXPECT_EQ(frame->m_scanner.m_decoderSet.GetTypes(), 31);
    CloseWindow(frame);
}

// The panel shows the picture at full size from its top left corner; the
// first paint of a picture clears the panel once.
TEST_F(ImageFileTest, ThePanelShowsThePicture)
{
    // Four colour blocks, so that a shift or a scaling shows.
    wxImage picture(200, 120);
    const wxColour colours[] = {{200, 30, 30}, {30, 160, 40}, {20, 40, 190}, {230, 200, 20}};
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 200; ++x) {
            const wxColour& c = colours[(y >= 60) * 2 + (x >= 100)];
            picture.SetRGB(x, y, c.Red(), c.Green(), c.Blue());
        }
    }
    const wxString path = m_scratch + "/blocks.png";
    ASSERT_TRUE(picture.SaveFile(path, wxBITMAP_TYPE_PNG));

    MyFrame1* frame = OpenWindow();
    frame->Raise();
    Settle(20);
    EXPECT_TRUE(frame->m_clearOnPaint);
    Open(frame, path);
    frame->m_videoPanel->Update();
    Settle(20);
    EXPECT_FALSE(frame->m_clearOnPaint) << "cleared once, at the first paint";

    // What the screen shows at the panel's top left.
    const wxPoint origin = frame->m_videoPanel->GetScreenPosition();
    wxBitmap shot(220, 140);
    {
        wxMemoryDC memory(shot);
        wxScreenDC screen;
        memory.Blit(0, 0, 220, 140, &screen, origin.x, origin.y);
    }
    const wxImage shown = shot.ConvertToImage();
    const struct {
        int x;
        int y;
        int block;
    } probes[] = {{1, 1, 0}, {98, 58, 0}, {101, 1, 1}, {198, 58, 1},
                  {1, 61, 2}, {98, 118, 2}, {101, 61, 3}, {198, 118, 3}};
    for (const auto& p : probes) {
        const wxColour& c = colours[p.block];
        EXPECT_EQ(wxColour(shown.GetRed(p.x, p.y), shown.GetGreen(p.x, p.y),
                           shown.GetBlue(p.x, p.y)),
                  c)
            << p.x << "," << p.y;
    }
    // Beyond the picture: not the picture's colours.
    const wxColour beyond(shown.GetRed(210, 130), shown.GetGreen(210, 130),
                          shown.GetBlue(210, 130));
    for (const wxColour& c : colours)
        EXPECT_NE(beyond, c);
    CloseWindow(frame);
}

TEST_F(ImageFileTest, TextBoxIsWhiteWhileFocused)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    const wxColour light = wxSystemSettings::GetColour(wxSYS_COLOUR_3DLIGHT);
    EXPECT_EQ(frame->m_text->GetBackgroundColour(), light);
    wxFocusEvent gained(wxEVT_SET_FOCUS, frame->m_text->GetId());
    gained.SetEventObject(frame->m_text);
    frame->m_text->GetEventHandler()->ProcessEvent(gained);
    EXPECT_EQ(frame->m_text->GetBackgroundColour(), wxColour(255, 255, 255));
    wxFocusEvent lost(wxEVT_KILL_FOCUS, frame->m_text->GetId());
    lost.SetEventObject(frame->m_text);
    frame->m_text->GetEventHandler()->ProcessEvent(lost);
    EXPECT_EQ(frame->m_text->GetBackgroundColour(), light);
    CloseWindow(frame);
}

// Each opening starts in the folder of the last one, and that folder is
// stored at exit, also when the last opening was cancelled.
TEST_F(ImageFileTest, TheDialogKeepsItsFolder)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    const wxString picture = m_scratch + "/white.png";
    ASSERT_TRUE(wxImage(40, 30).SaveFile(picture, wxBITMAP_TYPE_PNG));
    Open(frame, picture);
    for (int i = 0; i < 2; ++i) {
        DialogAnswers answers;
        answers.AnswerFileDialog(frame->m_openDialog, wxEmptyString, -1, false);
        SendCommand(frame, ID_OPEN_FILE);
        EXPECT_EQ(answers.FolderShown(), m_scratch) << "opening " << i;
    }
    CloseWindow(frame);
    wxString stored;
    ASSERT_TRUE(ReadStored(UserFile(), "Path", &stored));
    EXPECT_EQ(stored, m_scratch);
}

// Headers that claim far more pixels than any photo are refused before
// anything is decoded or allocated; each file is decodable at a small size.
TEST_F(ImageFileTest, HugeClaimsAreRefusedWithTheirRow)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    std::vector<wxString> bombs;
    for (const PictureMaker& maker : kMakers) {
        const wxString small = m_scratch + "/small." + maker.extension;
        WriteBytes(small, maker.make(64, 48));
        Open(frame, small);
        EXPECT_EQ(frame->m_image.GetSize(), wxSize(64, 48)) << small;
        bombs.push_back(m_scratch + "/bomb." + maker.extension);
        WriteBytes(bombs.back(), maker.make(20000, 20000));
    }
    bombs.push_back(m_scratch + "/widest.gif");
    WriteBytes(bombs.back(), GifOf(65535, 65535));
    // Within the pixels, but a side longer than the scanner's lines may be.
    const struct {
        const char* name;
        std::string bytes;
    } sides[] = {
        {"longest.tif", TiffOf(134217728, 1)},
        {"tallest.png", PngOf(1, 65537)},
        {"widest.bmp", BmpOf(65537, 2)},
        {"widest.pnm", PnmOf(65537, 1)},
    };
    for (const auto& side : sides) {
        bombs.push_back(m_scratch + "/" + side.name);
        WriteBytes(bombs.back(), side.bytes);
    }
    // The longest side itself is read.
    const wxString longest = m_scratch + "/longest.png";
    WriteBytes(longest, PngOf(65536, 3));
    Open(frame, longest);
    EXPECT_EQ(frame->m_image.GetSize(), wxSize(65536, 3));
    // The rows of an XPM picture are its text: the claim alone.
    bombs.push_back(m_scratch + "/bomb.xpm");
    WriteBytes(bombs.back(), "/* XPM */\n\"20000 20000 1 1\",\n");

    ASSERT_TRUE(ResetPeakMemory());
    const long before = StatusMiB("VmHWM");
    for (const wxString& bomb : bombs) {
        LogCapture log;
        ASSERT_NO_FATAL_FAILURE(Open(frame, bomb));
        EXPECT_EQ(Cell(frame, 1), "NONE") << bomb;
        EXPECT_EQ(Cell(frame, 2), "N/A") << bomb;
        EXPECT_EQ(Cell(frame, 3), bomb);
        EXPECT_FALSE(frame->m_image.IsOk()) << bomb;
        EXPECT_TRUE(log.m_text.Contains("Failed to load image from file \"" + bomb + "\""))
            << log.m_text;
        frame->m_videoPanel->Update();
    }
    EXPECT_LT(StatusMiB("VmHWM") - before, kOpeningMiB) << "MiB more at the peak";
    CloseWindow(frame);
}

// The toolkit's other formats load as they did before the budget: a picture
// of an EAN-8 symbol, written by the toolkit or, for ANI and IFF, which it
// cannot write, by hand, gives its row.
TEST_F(ImageFileTest, TheToolkitsOtherFormatsGiveTheirRow)
{
    // Icons are at most 256 pixels wide.
    const Picture drawn = Ean8Picture("12345670", 256, 64);
    wxImage picture(256, 64);
    std::copy(drawn.rgb.begin(), drawn.rgb.end(), picture.GetData());
    std::vector<wxString> paths;
    const std::pair<const char*, wxBitmapType> written[] = {
        {"pnm", wxBITMAP_TYPE_PNM}, {"pcx", wxBITMAP_TYPE_PCX}, {"tga", wxBITMAP_TYPE_TGA},
        {"xpm", wxBITMAP_TYPE_XPM}, {"ico", wxBITMAP_TYPE_ICO}, {"cur", wxBITMAP_TYPE_CUR},
    };
    for (const auto& format : written) {
        paths.push_back(m_scratch + "/ean8." + format.first);
        ASSERT_TRUE(picture.SaveFile(paths.back(), format.second)) << paths.back();
    }
    // Animated cursors hold cursor files, mostly.
    paths.push_back(m_scratch + "/ean8.ani");
    WriteBytes(paths.back(), AniFile({ReadBytes(m_scratch + "/ean8.cur")}, 1));
    // One bit plane, rows of whole 16-bit words; colour 1 is black.
    std::string rows;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 256; x += 8) {
            unsigned char bits = 0;
            for (int bit = 0; bit < 8; ++bit)
                bits |= (picture.GetRed(x + bit, y) < 128) << (7 - bit);
            rows += static_cast<char>(bits);
        }
    }
    paths.push_back(m_scratch + "/ean8.iff");
    WriteBytes(paths.back(), IffFile(256, 64, kWhiteBlack, 1, 0, 0, rows));

    MyFrame1* frame = OpenWindow();
    Settle();
    for (const wxString& path : paths) {
        ASSERT_NO_FATAL_FAILURE(Open(frame, path));
        EXPECT_EQ(Cell(frame, 1), "12345670") << path;
        EXPECT_EQ(Cell(frame, 2), "EAN 8") << path;
        ASSERT_TRUE(frame->m_image.IsOk()) << path;
        EXPECT_EQ(frame->m_image.GetSize(), wxSize(256, 64)) << path;
    }
    CloseWindow(frame);
}

// Header fields on which the toolkit's decoders crash: such files are
// refused, or read as far as they make sense, with their row.
TEST_F(ImageFileTest, HeadersTheToolkitsDecodersCrashOn)
{
    std::string comments;
    for (int i = 0; i < 100000; ++i)
        comments += "#\n";
    const std::string samples(12, '\0');
    const std::string small = IcoOf(16, 16), wide = IcoOf(32, 8);
    const struct {
        const char* name;
        std::string bytes;
        wxSize picture; // none: refused
    } cases[] = {
        {"comments.pnm", comments + "P6\n2 2\n255\n" + samples, wxSize()},
        {"few-comments.pnm", "# 1\n#2\r\nP6 raw\n# 3\n2\n2\n# 4\n255\n" + samples, wxSize(2, 2)},
        {"largest-0.pnm", "P6\n2 2\n0\n" + samples, wxSize()},
        {"largest-65536.pnm", "P6\n2 2\n65536\n" + samples, wxSize()}, // 16 bits: 0
        {"no-icons.ani", AniFile({}, 1), wxSize()},
        {"step-without-icon.ani", AniFile({small}, 1, {5}), wxSize()},
        {"second-icon.ani", AniFile({small, wide}, 2, {1, 0}), wxSize(32, 8)},
        {"more-steps-than-icons.ani", AniFile({wide}, 3), wxSize(32, 8)},
        {"24-planes-no-colours.iff", IffFile(16, 2, "", 24, 0, 0, std::string(192, '\0')),
         wxSize()},
        {"transparent-beyond.iff", IffFile(16, 2, kWhiteBlack, 1, 0, 0x8300, std::string(4, '\0')),
         wxSize()},
        {"transparent-within.iff", IffFile(16, 2, kWhiteBlack, 1, 0, 1, std::string(4, '\0')),
         wxSize(16, 2)},
    };
    MyFrame1* frame = OpenWindow();
    Settle();
    for (const auto& c : cases) {
        const wxString path = m_scratch + "/" + c.name;
        WriteBytes(path, c.bytes);
        ASSERT_NO_FATAL_FAILURE(Open(frame, path));
        EXPECT_EQ(Cell(frame, 1), "NONE") << c.name;
        EXPECT_EQ(frame->m_image.IsOk() ? frame->m_image.GetSize() : wxSize(), c.picture)
            << c.name;
    }
    CloseWindow(frame);
}

// Files on which the toolkit's decoders crash, write or read out of bounds,
// take gigabytes or spend minutes: each gives its row, standard error says
// why with the file's name, the reader's memory stays as it was, and
// nothing of the decoder is left behind.
TEST_F(ImageFileTest, HostileFilesGiveTheirRowAndLeaveNothing)
{
    // How each decoding ends; a file not named may also give a picture.
    const std::map<std::string, std::vector<std::string>> reasons = {
        {"mapped-without-map.tga", {"signal 11"}},
        {"nul-in-header.pnm", {"signal 8"}},
        {"zero-planes.iff", {"signal 8"}},
        {"ff00-hides-frame.jpg", {"of memory"}},
        {"signed-sizes-first.tif", {"of memory"}},
        {"2gb-text-chunk.png", {"of memory"}},
        {"decodes-for-minutes.xpm", {"processor time", "stopped after"}},
        {"largest-read-past-its-end.pcx", {"processor time", "stopped after"}},
        {"near-the-budget.gif", {"of memory"}},
    };
    // The largest picture within the budget needs about as much processor
    // time as the decoder may take: it is shown, or refused for its time.
    const std::set<std::string> eitherWay = {"largest-read-past-its-end.pcx"};
    const std::vector<HostileFile> files = HostileFiles();
    MyFrame1* frame = OpenWindow();
    Settle();
    // The first opening builds the dialog and the panel's drawing.
    Open(frame, CorpusFile("images/ean13_clean_v1.png"));
    frame->m_videoPanel->Update();
    for (const HostileFile& file : files) {
        const wxString path = m_scratch + "/" + file.name;
        WriteBytes(path, file.bytes);
        StderrCapture errors;
        LogCapture log;
        ASSERT_TRUE(ResetPeakMemory());
        const long before = StatusMiB("VmHWM");
        {
            const test_watchdog::Bound bound(std::chrono::seconds(150), file.name);
            ASSERT_NO_FATAL_FAILURE(Open(frame, path));
        }
        const bool shown = frame->m_image.IsOk();
        EXPECT_TRUE(!shown || eitherWay.count(file.name) || !reasons.count(file.name)) << path;
        // What the picture itself takes, if it is shown.
        const long pictureMiB =
            shown ? (3L * frame->m_image.GetWidth() * frame->m_image.GetHeight()) >> 20 : 0;
        EXPECT_LT(StatusMiB("VmHWM") - before, pictureMiB + kOpeningMiB)
            << path << ": MiB more at the peak";
        EXPECT_EQ(Cell(frame, 1), "NONE") << path;
        EXPECT_EQ(Cell(frame, 2), "N/A") << path;
        EXPECT_EQ(Cell(frame, 3), path);
        const auto reason = reasons.find(file.name);
        if (reason != reasons.end() && !shown) {
            EXPECT_TRUE(log.m_text.Contains("Failed to load image from file \"" + path + "\""))
                << log.m_text;
            const std::string said = errors.Text();
            EXPECT_NE(said.find("\"" + path.ToStdString() + "\""), std::string::npos) << said;
            EXPECT_TRUE(std::any_of(reason->second.begin(), reason->second.end(),
                                    [&](const std::string& why) {
                                        return said.find(why) != std::string::npos;
                                    }))
                << said;
        }
        EXPECT_TRUE(ChildrenRunning("morvelix-decode").empty()) << path;
        for (const std::string& target : OpenDescriptors()) {
            EXPECT_EQ(target.find("morvelix-picture"), std::string::npos) << path;
            EXPECT_NE(target, path.ToStdString());
        }
        frame->m_videoPanel->Update();
    }
    CloseWindow(frame);
}

// A FIFO would block its reader until someone writes to it.
TEST_F(ImageFileTest, AFifoIsRefusedUnopened)
{
    const wxString pipe = m_scratch + "/pipe.png";
    ASSERT_EQ(mkfifo(pipe.fn_str(), 0600), 0);
    MyFrame1* frame = OpenWindow();
    Settle();
    {
        FifoWatch watch(pipe.ToStdString());
        ASSERT_NO_FATAL_FAILURE(Open(frame, pipe));
        EXPECT_EQ(watch.opened, 0);
    }
    EXPECT_EQ(Cell(frame, 1), "NONE");
    EXPECT_EQ(Cell(frame, 3), pipe);
    CloseWindow(frame);
}

// Scrolling and uncovering a big picture copy from the bitmap made at its
// first paint; only a new picture is converted again.
TEST_F(ImageFileTest, RepaintsReuseTheConvertedPicture)
{
    const wxString path = m_scratch + "/big.png";
    ASSERT_TRUE(wxImage(8000, 6000).SaveFile(path, wxBITMAP_TYPE_PNG));
    MyFrame1* frame = OpenWindow();
    Settle();
    Open(frame, path);
    frame->m_videoPanel->Update();
    ASSERT_TRUE(frame->m_displayBitmap.IsOk());
    EXPECT_EQ(frame->m_displayBitmap.GetSize(), wxSize(8000, 6000));

    // Holding the bitmap keeps any new one from taking its place unseen.
    wxBitmap drawn = frame->m_displayBitmap;
    int conversions = 0;
    auto repaint = [&](const std::function<void()>& change) {
        change();
        frame->m_videoPanel->Update();
        Settle();
        if (!frame->m_displayBitmap.IsSameAs(drawn)) {
            ++conversions;
            drawn = frame->m_displayBitmap;
        }
    };
    for (int step = 1; step <= 5; ++step) {
        repaint([&] { frame->m_videoPanel->Scroll(step, step); });
        repaint([&] { frame->m_videoPanel->Refresh(true); });
    }
    EXPECT_EQ(conversions, 0);
    repaint([&] { Open(frame, CorpusFile("images/ean13_clean_v1.png")); });
    EXPECT_EQ(conversions, 1) << "a new picture is converted once";
    CloseWindow(frame);
}

// The picture and its display need memory; with little of it, files are
// refused and pictures left undrawn, with no crash. Run alone by the
// app_low_memory test: under AddressSanitizer its options make every
// allocation above 96 MiB fail; in other builds the test limits the
// process's address space.
TEST_F(ImageFileTest, LowMemoryRefusesCleanly)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's own allocator takes every allocation";
#elif defined(__SANITIZE_ADDRESS__)
    const char* options = getenv("ASAN_OPTIONS");
    if (!options || !strstr(options, "max_allocation_size_mb=96"))
        GTEST_SKIP() << "run by the app_low_memory test";
#endif
    MyFrame1* frame = OpenWindow();
    Settle();
    std::vector<wxString> files; // 108 MB a picture
    for (const PictureMaker& maker : kMakers) {
        files.push_back(m_scratch + "/large." + maker.extension);
        WriteBytes(files.back(), maker.make(6000, 6000));
    }
    // 82.5 MB as a picture, 110 MB as the surface the panel draws from.
    const wxString drawable = m_scratch + "/drawable.jpg";
    WriteBytes(drawable, JpegOf(5000, 5500));

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    g_largestAllocation = size_t{96} << 20;
#endif
    for (const wxString& file : files) {
        ASSERT_NO_FATAL_FAILURE(Open(frame, file));
        EXPECT_EQ(Cell(frame, 1), "NONE") << file;
        EXPECT_FALSE(frame->m_image.IsOk()) << file;
    }
    ASSERT_NO_FATAL_FAILURE(Open(frame, drawable));
    EXPECT_EQ(frame->m_image.GetSize(), wxSize(5000, 5500));
    frame->m_videoPanel->Update();
    Settle();
    EXPECT_FALSE(frame->m_displayBitmap.IsOk());
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    g_largestAllocation = SIZE_MAX;
    frame->m_videoPanel->Refresh();
    frame->m_videoPanel->Update();
    EXPECT_TRUE(frame->m_displayBitmap.IsOk()) << "drawn once there is memory";
#endif
    CloseWindow(frame);
}

// While a file opens, the window goes on: it repaints, shows the busy
// cursor and refuses a second File/Open; a close request ends the opening
// at once, decoder and all, and the window goes as through its close box.
// The whole opening has a time limit: a scan still running then is cut
// off, and the file reads as nothing found, with a line on standard error.
// The stand-in decoder's "wait" holds the opening until the test says go.
TEST_F(ImageFileTest, TheWindowHoldsWhileAFileOpens)
{
    enum Meanwhile { kNothing, kOpenAgain, kClose };
    const struct {
        const char* order;
        Meanwhile meanwhile;
        bool noTime; // the opening's time limit is 0: the scan is cut off at once
        const char* value; // the row's value, or null when the window is closed
    } cases[] = {
        {"wait", kOpenAgain, false, "NONE"},
        {"wait", kClose, false, nullptr},
        {"dark", kNothing, true, "NONE"},
        {"dark", kNothing, false, "NONE"},
    };
    const std::string go = (m_scratch + "/go").ToStdString();
    ASSERT_EQ(mkfifo(go.c_str(), 0600), 0);
    SetImageDecoder(ROGUE_DECODER);
    for (const auto& c : cases) {
        const std::string what = std::string(c.order) + " " + std::to_string(c.meanwhile) +
                                 (c.noTime ? " no time" : "");
        SCOPED_TRACE(what);
        // Open for writing without waiting for the decoder: what is written
        // waits in the FIFO until the decoder reads it.
        const OwnedFd release(open(go.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        ASSERT_TRUE(release.Valid());
        const wxString path = m_scratch + "/" + c.order + ".png";
        WriteBytes(path, std::string(c.order) + " " + go);
        MyFrame1* frame = OpenWindow();
        const wxWeakRef<MyFrame1> window(frame);
        Settle();
        if (c.noTime)
            frame->m_openTimeLimit = std::chrono::milliseconds(0);
        StderrCapture errors;
        LogCapture log;
        DialogAnswers answers;
        answers.AnswerFileDialog(frame->m_openDialog, path);
        SendCommand(frame, ID_OPEN_FILE);
        ASSERT_TRUE(answers.FileDialogAnswered());
        if (c.meanwhile != kNothing) {
            ASSERT_TRUE(frame->m_opening) << "the handler does not wait for the file";
            EXPECT_TRUE(wxIsBusy());
            // The panel is painted while the decoder works.
            frame->m_videoPanel->Refresh();
            frame->m_videoPanel->Update();
            Settle();
        }
        if (c.meanwhile == kOpenAgain) {
            DialogAnswers again;
            int shown = 0;
            again.WhenFileDialogShown([&] { ++shown; });
            again.AnswerFileDialog(frame->m_openDialog, CorpusFile("images/ean13_clean_v1.png"));
            SendCommand(frame, ID_OPEN_FILE);
            SendCommand(frame, ID_MENU_OPEN_FILE);
            Settle();
            EXPECT_EQ(shown, 0) << "no second chooser while a file opens";
            EXPECT_TRUE(frame->m_opening);
        }
        if (c.meanwhile == kClose) {
            frame->Close(false);
            // Killed and reaped before the close request returns.
            EXPECT_TRUE(ChildrenRunning("rogue_decoder").empty());
            EXPECT_FALSE(wxIsBusy());
            Settle();
            EXPECT_FALSE(window) << "the window is gone";
            EXPECT_TRUE(answers.Messages().empty());
            EXPECT_FALSE(log.m_text.Contains("Failed to load")) << log.m_text;
            EXPECT_EQ(errors.Text().find("not loaded"), std::string::npos) << errors.Text();
            wxString stored;
            EXPECT_TRUE(ReadStored(UserFile(), "Path", &stored)) << "settings written";
            EXPECT_EQ(stored, m_scratch);
            continue;
        }
        const int rows = frame->m_grid->GetNumberRows();
        ASSERT_EQ(write(release.Get(), "g", 1), 1);
        ASSERT_NO_FATAL_FAILURE(WaitForOpening(frame));
        EXPECT_FALSE(wxIsBusy());
        EXPECT_EQ(frame->m_grid->GetNumberRows(), rows + 1);
        EXPECT_EQ(Cell(frame, 1), c.value);
        EXPECT_EQ(Cell(frame, 2), "N/A");
        EXPECT_EQ(Cell(frame, 3), path) << "the row of the first file";
        ASSERT_TRUE(frame->m_image.IsOk());
        EXPECT_EQ(frame->m_image.GetSize(), std::string(c.order) == "dark" ? wxSize(64, 48)
                                                                            : wxSize(2, 1));
        const std::string said = errors.Text();
        EXPECT_EQ(said.find("\"" + path.ToStdString() + "\" not read to the end: ") !=
                      std::string::npos,
                  c.noTime)
            << said;
        const size_t cut = said.find("not read to the end");
        EXPECT_TRUE(cut == std::string::npos ||
                    said.find("not read to the end", cut + 1) == std::string::npos)
            << "one line: " << said;
        EXPECT_EQ(said.find("not loaded"), std::string::npos) << said;
        EXPECT_TRUE(ChildrenRunning("rogue_decoder").empty());
        CloseWindow(frame);
    }
    SetImageDecoder(MORVELIX_IMAGE_DECODER);
}
