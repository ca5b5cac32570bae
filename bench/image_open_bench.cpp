// Opening image files with LoadImageFile: the time it takes for a 640 × 480
// PNG, a 4000 × 3000 JPEG and an 8000 × 6000 JPEG, with a decoder started
// for the file (Open) and with one that File/Open started ahead and that is
// ready when the file comes (OpenWithStandby); and for each hostile file of
// the image tests, the peak memory of the reader and of its decoder, and
// how the opening ended. The whole opening as File/Open does it, decoding
// and scan with the scan stopped at the decoder's deadline, of a 16384 ×
// 16384 PNG of noise (every row the same); and the reader's memory after a
// 134217728 × 1 TIFF and then a small file.
//
// It needs no display:
//   build/release/bench/image_open_bench
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <string>

#include <wx/filename.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

#include <zlib.h>

#include <cstring>
#include <random>

#include "image_decoder_reply.h"
#include "image_files.h"
#include "image_loading.h"
#include "scanner.h"

namespace {

// A hostile file's opening is stopped after this long, for when the
// reader decodes in its own process: some take minutes there.
constexpr unsigned kPatienceSeconds = 60;

// A picture with a gradient and some noise, as a photo has, written by the
// toolkit.
wxString Picture(const wxString& folder, const char* name, int width, int height,
                 wxBitmapType type)
{
    wxImage image(width, height, false);
    unsigned char* pixel = image.GetData();
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, pixel += 3) {
            noise = noise * 1103515245 + 12345;
            const int value = (x + y) * 223 / (width + height) + static_cast<int>(noise >> 27);
            pixel[0] = static_cast<unsigned char>(value);
            pixel[1] = static_cast<unsigned char>(value / 2);
            pixel[2] = static_cast<unsigned char>(255 - value);
        }
    }
    image.SetOption(wxIMAGE_OPTION_QUALITY, 90);
    const wxString path = folder + "/" + name;
    image.SaveFile(path, type);
    return path;
}

void Open(benchmark::State& state, const wxString& path)
{
    wxLogNull quiet;
    for (auto _ : state) {
        wxImage image;
        if (!LoadImageFile(image, path)) {
            state.SkipWithError("not loaded");
            break;
        }
        benchmark::DoNotOptimize(image.GetData());
    }
}

// The user takes far longer to pick a file than a decoder to load: the
// time counted is from the file's hand-over on.
void OpenWithStandby(benchmark::State& state, const wxString& path)
{
    wxLogNull quiet;
    for (auto _ : state) {
        ImageDecoderStandby decoder;
        if (!decoder.WaitUntilReady()) {
            state.SkipWithError("no decoder ready");
            break;
        }
        wxImage image;
        const auto start = std::chrono::steady_clock::now();
        const bool loaded = LoadImageFile(image, path);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        if (!loaded) {
            state.SkipWithError("not loaded");
            break;
        }
        benchmark::DoNotOptimize(image.GetData());
    }
}

// Opens the file once in a process of its own, which then tells its peak
// memory, and its children's: the decoder's.
void PeakMemory(benchmark::State& state, const wxString& path)
{
    for (auto _ : state) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        const auto start = std::chrono::steady_clock::now();
        const pid_t reader = fork();
        if (reader == 0) {
            close(pipeFds[0]);
            alarm(kPatienceSeconds);
            wxLogNull quiet;
            wxImage image;
            LoadImageFile(image, path);
            rusage self, children;
            getrusage(RUSAGE_SELF, &self);
            getrusage(RUSAGE_CHILDREN, &children);
            const long peaks[2] = {self.ru_maxrss, children.ru_maxrss};
            _exit(write(pipeFds[1], peaks, sizeof peaks) == sizeof peaks ? 0 : 1);
        }
        close(pipeFds[1]);
        long peaks[2] = {0, 0};
        const bool told = read(pipeFds[0], peaks, sizeof peaks) == sizeof peaks;
        close(pipeFds[0]);
        int status = 0;
        rusage usage{};
        wait4(reader, &status, 0, &usage);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        // A reader that did not live to tell has its peak from the kernel.
        if (!told)
            peaks[0] = usage.ru_maxrss;
        state.counters["reader_MiB"] = peaks[0] / 1024.0;
        state.counters["decoder_MiB"] = peaks[1] / 1024.0;
        state.counters["together_MiB"] = (peaks[0] + peaks[1]) / 1024.0;
        state.counters["seconds"] = took.count();
        if (WIFSIGNALED(status))
            state.SetLabel(WTERMSIG(status) == SIGALRM ? "reader still busy, stopped"
                                                       : std::string("reader killed by ") +
                                                             strsignal(WTERMSIG(status)));
    }
}

std::string PngChunk(const char* type, const std::string& data)
{
    std::string chunk = Number(data.size(), 4, true) + type + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data() + 4), chunk.size() - 4);
    return chunk + Number(crc, 4, true);
}

// A grey PNG whose rows are all the same row of noise: small as a file,
// a full-size picture to scan.
std::string NoisePng(uint32_t width, uint32_t height)
{
    std::string row(width + 1, '\0'); // filter 0, then the pixels
    std::mt19937 random(16384);
    for (uint32_t x = 1; x <= width; ++x)
        row[x] = static_cast<char>(random());
    z_stream stream{};
    deflateInit(&stream, Z_BEST_COMPRESSION);
    std::string data;
    char buffer[65536];
    for (uint32_t y = 0; y <= height; ++y) {
        const bool last = y == height;
        stream.next_in = reinterpret_cast<Bytef*>(last ? nullptr : &row[0]);
        stream.avail_in = last ? 0 : static_cast<uInt>(row.size());
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            data.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    const std::string header = Number(width, 4, true) + Number(height, 4, true) +
                               std::string("\x08\x00\x00\x00\x00", 5); // 8-bit grey
    return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", header) +
           PngChunk("IDAT", data) + PngChunk("IEND", "");
}

// What File/Open does off the window's thread: the decoding, then the scan
// with all types, stopped at the decoder's deadline counted from the start.
struct Opened {
    bool loaded = false;
    bool cutOff = false;
    double decodeSeconds = 0;
    double scanSeconds = 0;
};

Opened OpenAndScan(const wxString& path, barcode::Scanner& scanner)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(decoder_reply::kDeadlineSeconds);
    Opened opened;
    DecodedImageFile decoded = DecodeImageFileApart(path, nullptr, -1);
    const Clock::time_point decodedAt = Clock::now();
    opened.decodeSeconds = std::chrono::duration<double>(decodedAt - start).count();
    opened.loaded = decoded.loaded;
    if (decoded.loaded) {
        const wxImage& picture = decoded.image;
        const barcode::Image image = {picture.GetData(),
                                      static_cast<uint32_t>(picture.GetWidth()),
                                      static_cast<uint32_t>(picture.GetHeight()),
                                      picture.GetWidth(), barcode::PIXEL_RGB24};
        scanner.Scan(&image, [&] { return Clock::now() >= end; }, opened.cutOff);
        opened.scanSeconds = std::chrono::duration<double>(Clock::now() - decodedAt).count();
    }
    return opened;
}

void WholeOpen(benchmark::State& state, const wxString& path)
{
    for (auto _ : state) {
        barcode::Scanner scanner;
        scanner.SetTypes(31);
        const Opened opened = OpenAndScan(path, scanner);
        state.counters["decode_s"] = opened.decodeSeconds;
        state.counters["scan_s"] = opened.scanSeconds;
        state.SetLabel(!opened.loaded ? "not loaded" : opened.cutOff ? "scan cut off" : "scanned");
    }
}

long StatusKiB(const char* key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key) + 1);
    }
    return -1;
}

// In a process of its own, as a fresh reader: the files in turn through
// one scanner, as the window's, then the process's memory.
void MemoryAfter(benchmark::State& state, const std::vector<wxString>& paths)
{
    for (auto _ : state) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        const pid_t reader = fork();
        if (reader == 0) {
            close(pipeFds[0]);
            barcode::Scanner scanner;
            long told[3] = {0, 0, 0};
            for (const wxString& path : paths)
                told[2] += OpenAndScan(path, scanner).loaded;
            told[0] = StatusKiB("VmRSS:");
            told[1] = StatusKiB("VmHWM:");
            _exit(write(pipeFds[1], told, sizeof told) == sizeof told ? 0 : 1);
        }
        close(pipeFds[1]);
        long told[3] = {0, 0, 0};
        const bool read_ = read(pipeFds[0], told, sizeof told) == sizeof told;
        close(pipeFds[0]);
        waitpid(reader, nullptr, 0);
        if (!read_) {
            state.SkipWithError("the reader died");
            break;
        }
        state.counters["reader_now_MiB"] = told[0] / 1024.0;
        state.counters["reader_peak_MiB"] = told[1] / 1024.0;
        state.counters["files_loaded"] = static_cast<double>(told[2]);
    }
}

} // namespace

int main(int argc, char** argv)
{
    wxInitializer toolkit;
    wxInitAllImageHandlers();
    SetImageDecoder(MORVELIX_IMAGE_DECODER);
    char pattern[] = P_tmpdir "/morvelix-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const wxString folder = pattern;

    const struct {
        const char* name;
        int width;
        int height;
        wxBitmapType type;
    } pictures[] = {
        {"png_640x480.png", 640, 480, wxBITMAP_TYPE_PNG},
        {"jpeg_4000x3000.jpg", 4000, 3000, wxBITMAP_TYPE_JPEG},
        {"jpeg_8000x6000.jpg", 8000, 6000, wxBITMAP_TYPE_JPEG},
    };
    for (const auto& picture : pictures) {
        const wxString path =
            Picture(folder, picture.name, picture.width, picture.height, picture.type);
        benchmark::RegisterBenchmark((std::string("Open/") + picture.name).c_str(), Open, path)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("OpenWithStandby/") + picture.name).c_str(),
                                     OpenWithStandby, path)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    for (const HostileFile& file : HostileFiles()) {
        const wxString path = folder + "/" + file.name;
        std::ofstream(path.ToStdString(), std::ios::binary) << file.bytes;
        benchmark::RegisterBenchmark((std::string("PeakMemory/") + file.name).c_str(), PeakMemory,
                                     path)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }

    const wxString noise = folder + "/noise_16384x16384.png";
    std::ofstream(noise.ToStdString(), std::ios::binary) << NoisePng(16384, 16384);
    benchmark::RegisterBenchmark("WholeOpen/noise_16384x16384.png", WholeOpen, noise)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    const wxString longest = folder + "/longest_134217728x1.tif";
    std::ofstream(longest.ToStdString(), std::ios::binary) << TiffOf(134217728, 1);
    const wxString small = folder + "/png_640x480.png";
    benchmark::RegisterBenchmark("MemoryAfter/longest_134217728x1.tif+png_640x480.png",
                                 MemoryAfter, std::vector<wxString>{longest, small})
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    wxFileName::Rmdir(folder, wxPATH_RMDIR_RECURSIVE);
    return 0;
}
