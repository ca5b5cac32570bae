// Opening image files with LoadImageFile: the time it takes for a 640 × 480
// PNG, a 4000 × 3000 JPEG and an 8000 × 6000 JPEG, with a decoder started
// for the file (Open) and with one that File/Open started ahead and that is
// ready when the file comes (OpenWithStandby); and for each hostile file of
// the image tests, the peak memory of the reader and of its decoder, and
// how the opening ended.
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

#include "image_files.h"
#include "image_loading.h"

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

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    wxFileName::Rmdir(folder, wxPATH_RMDIR_RECURSIVE);
    return 0;
}
