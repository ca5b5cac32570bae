// The live scanning loop of the main window with the virtual camera: how
// many frames per second its step can take and the real timer loop does
// take, at 640 × 480 and 1280 × 960, with a barcode in view and without,
// and the time from the arrival of the first frame that shows a barcode to
// the accepted reading.
//
// It opens the real window, so it needs an X display:
//   xvfb-run -a build/release/bench/live_bench
#include <benchmark/benchmark.h>
#include <linux/videodev2.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/grid.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include "my_frame.h"
#include "virtual_camera.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string CorpusImage(const char* name)
{
    return std::string(MORVELIX_CORPUS_DIR) + "/images/" + name + ".png";
}

// An EAN-13 symbol at 3 pixels per module, and printed text without a barcode.
constexpr const char* kBarcodeImage = "ean13_clean_v1";
constexpr const char* kEmptyImage = "neg_text";

// The virtual camera, noting when the stream hands out a chosen frame.
class TimedCamera final : public VideoKernel {
public:
    TimedCamera(const std::string& source, uint32_t framesPerImage, uint32_t framesPerSecond)
        : m_camera(source, framesPerImage, framesPerSecond)
    {
    }

    // Notes the moment the frame with this sequence number is taken.
    void Watch(uint32_t sequence)
    {
        m_watched = sequence;
        m_arrived = false;
    }
    bool Arrived() const { return m_arrived; }
    Clock::time_point ArrivalTime() const { return m_arrival; }

    std::vector<std::string> ListNodes() override { return m_camera.ListNodes(); }
    int Open(const char* path, int flags) override { return m_camera.Open(path, flags); }
    int Close(int fd) override { return m_camera.Close(fd); }
    int Ioctl(int fd, unsigned long request, void* argument) override
    {
        const int result = m_camera.Ioctl(fd, request, argument);
        if (request == VIDIOC_DQBUF && result == 0 && !m_arrived &&
            static_cast<v4l2_buffer*>(argument)->sequence == m_watched) {
            m_arrival = Clock::now();
            m_arrived = true;
        }
        return result;
    }
    void* Mmap(size_t length, int protection, int flags, int fd, off_t offset) override
    {
        return m_camera.Mmap(length, protection, flags, fd, offset);
    }
    int Munmap(void* address, size_t length) override { return m_camera.Munmap(address, length); }
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override { return m_camera.Poll(fds, count, timeoutMs); }
    bool OffersControlPanel() const override { return false; }

private:
    VirtualCamera m_camera;
    std::atomic<uint32_t> m_watched{UINT32_MAX};
    std::atomic<bool> m_arrived{false};
    Clock::time_point m_arrival; // written before m_arrived is set
};

// The main window on a camera of its own, set to a resolution; no beep.
class LiveWindow {
public:
    LiveWindow(const std::string& source, uint32_t framesPerImage, int resolution,
               uint32_t framesPerSecond = VirtualCamera::kFramesPerSecond)
        : m_camera(source, framesPerImage, framesPerSecond)
    {
        m_previous = SetVideoKernelForTesting(&m_camera);
        frame = new MyFrame1(wxEmptyString, wxSize(838, 676));
        frame->Show(true);
        frame->m_beep = 0;
        frame->m_resolution = resolution;
        RunFor(std::chrono::milliseconds(200));
    }
    ~LiveWindow()
    {
        frame->Destroy();
        RunFor(std::chrono::milliseconds(100));
        SetVideoKernelForTesting(m_previous);
    }

    // Runs the toolkit's event loop, and with it the scan timer, for a while
    // or until Stop.
    void RunFor(std::chrono::milliseconds time)
    {
        wxGUIEventLoop loop;
        m_loop = &loop;
        wxTimer end;
        end.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { loop.Exit(); });
        end.StartOnce(static_cast<int>(time.count()));
        loop.Run();
        m_loop = nullptr;
    }
    void Stop()
    {
        if (m_loop)
            m_loop->Exit();
    }

    // Waits until the camera has a frame the loop has not had yet.
    bool WaitForNewFrame()
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
        while (!frame->m_capture.HasNewFrame(frame->m_camera)) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::yield();
        }
        return true;
    }

    // One step as the timer's frame event runs it.
    void Step()
    {
        frame->m_timer->Stop();
        wxCommandEvent event(wxEVT_PROCESS_FRAME, 0);
        frame->ProcessWindowEvent(event);
    }
    void ClearHistory()
    {
        wxCommandEvent event(wxEVT_COMMAND_MENU_SELECTED, ID_CLEAR);
        frame->ProcessWindowEvent(event);
    }
    void Command(int id)
    {
        wxCommandEvent event(wxEVT_COMMAND_MENU_SELECTED, id);
        frame->ProcessWindowEvent(event);
    }

    TimedCamera m_camera;
    MyFrame1* frame;

private:
    VideoKernel* m_previous;
    wxGUIEventLoop* m_loop = nullptr;
};

int Resolution(int64_t width)
{
    return width == 1280 ? 2 : 0;
}

const char* ImageOf(int64_t withBarcode)
{
    return withBarcode ? kBarcodeImage : kEmptyImage;
}

// The step alone on a camera that sends frames as fast as it can make them,
// each step on a new frame (the wait for it is not timed): the frames per
// second the loop could take. With a barcode every second step accepts it
// and adds a history row.
void BM_FrameStep(benchmark::State& state)
{
    LiveWindow live(CorpusImage(ImageOf(state.range(1))), 30, Resolution(state.range(0)),
                    VirtualCamera::kMaxFramesPerSecond);
    live.Command(ID_PLAY);
    if (live.frame->m_state != STATE_PLAYING) {
        state.SkipWithError("the virtual camera did not start");
        return;
    }
    for (int i = 0; i < 20; ++i)
        live.Step();
    live.ClearHistory();
    int64_t steps = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (!live.WaitForNewFrame()) {
            state.SkipWithError("the camera sends no frames");
            break;
        }
        state.ResumeTiming();
        live.Step();
        if (++steps % 1000 == 0) {
            state.PauseTiming();
            live.ClearHistory();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(steps);
    live.Command(ID_PAUSE);
    live.RunFor(std::chrono::milliseconds(50));
}

// The real loop, driven by its timer, for two seconds, on a camera that
// sends frames as fast as it can make them: the steps per second the loop
// runs, the frames it scans per second, and the readings it accepts per
// second. A real camera sends 30 frames per second or fewer.
void BM_TimerLoop(benchmark::State& state)
{
    int64_t steps = 0;
    int64_t scanned = 0;
    LiveWindow live(CorpusImage(ImageOf(state.range(1))), 30, Resolution(state.range(0)),
                    VirtualCamera::kMaxFramesPerSecond);
    live.frame->Bind(wxEventTypeTag<wxCommandEvent>(wxEVT_PROCESS_FRAME), [&](wxCommandEvent& event) {
        ++steps;
        if (live.frame->m_capture.HasNewFrame(live.frame->m_camera))
            ++scanned;
        event.Skip();
    });
    int64_t frames = 0, scannedFrames = 0, accepted = 0;
    double seconds = 0;
    for (auto _ : state) {
        live.ClearHistory();
        steps = 0;
        scanned = 0;
        const Clock::time_point start = Clock::now();
        live.Command(ID_PLAY);
        live.RunFor(std::chrono::milliseconds(2000));
        live.Command(ID_PAUSE);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
        frames += steps;
        scannedFrames += scanned;
        accepted += live.frame->m_grid->GetNumberRows() - 1;
        live.RunFor(std::chrono::milliseconds(50));
    }
    state.counters["steps_per_second"] = static_cast<double>(frames) / seconds;
    state.counters["frames_per_second"] = static_cast<double>(scannedFrames) / seconds;
    state.counters["accepted_per_second"] = static_cast<double>(accepted) / seconds;
}

// From the moment the stream hands out the first frame that shows a
// barcode to the moment its reading is accepted (the history row).
void BM_ArrivalToAccepted(benchmark::State& state)
{
    // Text for the first half second of each stream, then the barcode.
    constexpr uint32_t kHold = 15;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("morvelix-live-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink(CorpusImage(kEmptyImage), folder / "1.png");
    std::filesystem::create_symlink(CorpusImage(kBarcodeImage), folder / "2.png");
    {
        Clock::time_point accepted;
        LiveWindow live(folder.string(), kHold, Resolution(state.range(0)));
        live.frame->m_text->Bind(wxEVT_TEXT, [&](wxCommandEvent& event) {
            accepted = Clock::now();
            live.Stop();
            event.Skip();
        });
        double worst = 0;
        for (auto _ : state) {
            live.m_camera.Watch(kHold);
            accepted = Clock::time_point();
            live.Command(ID_PLAY);
            live.RunFor(std::chrono::milliseconds(5000));
            live.Command(ID_PAUSE);
            if (!live.m_camera.Arrived() || accepted == Clock::time_point()) {
                state.SkipWithError("the barcode was not read");
                break;
            }
            const double latency = std::chrono::duration<double>(accepted - live.m_camera.ArrivalTime()).count();
            state.SetIterationTime(latency);
            worst = std::max(worst, latency);
            live.RunFor(std::chrono::milliseconds(50));
        }
        state.counters["worst_ms"] = worst * 1000;
    }
    std::filesystem::remove_all(folder);
}

void Sizes(benchmark::internal::Benchmark* benchmark)
{
    benchmark->ArgNames({"width", "barcode"});
    for (int64_t width : {640, 1280}) {
        for (int64_t barcode : {0, 1})
            benchmark->Args({width, barcode});
    }
}

BENCHMARK(BM_FrameStep)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimerLoop)->Apply(Sizes)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrivalToAccepted)
    ->ArgName("width")
    ->Arg(640)
    ->Arg(1280)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // The window reads and writes its settings in a home of its own.
    std::string home = std::filesystem::temp_directory_path() / "morvelix-bench-home-XXXXXX";
    if (!mkdtemp(home.data()))
        return 1;
    setenv("HOME", home.c_str(), 1);

    benchmark::Initialize(&argc, argv);
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "No display: run under xvfb-run.\n");
        return 1;
    }
    wxInitAllImageHandlers();
    delete wxLog::SetActiveTarget(new wxLogStderr);

    // The capture library writes its diagnostic lines to standard output;
    // the report goes to the original standard output alone.
    std::fflush(stdout);
    const int report = dup(STDOUT_FILENO);
    std::freopen("/dev/null", "w", stdout);
    std::ofstream out("/proc/self/fd/" + std::to_string(report));
    benchmark::ConsoleReporter reporter(isatty(report) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                       : benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(&out);
    reporter.SetErrorStream(&std::cerr);
    {
        wxGUIEventLoop loop;
        wxEventLoopActivator active(&loop);
        benchmark::RunSpecifiedBenchmarks(&reporter);
    }
    out.flush();
    benchmark::Shutdown();

    wxTheApp->OnExit();
    wxEntryCleanup();
    std::filesystem::remove_all(home);
    return 0;
}
