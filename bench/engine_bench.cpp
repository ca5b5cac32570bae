// Time per frame of Scanner::Scan on camera-sized RGB24 frames, with and
// without a barcode, omni-directional and horizontal only. A counting
// operator new shows that a scan in steady state allocates nothing (apart
// from the vote entry of a value read, which the EAN/UPC decoders keep per
// scan).
#include <benchmark/benchmark.h>

#include <stb_image.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ean13.h"
#include "scanner.h"

namespace {

std::size_t g_allocations = 0;

} // namespace

// Every operator new below takes its memory from malloc, so free is the
// matching release; the compiler cannot see that the pair is replaced.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size)
{
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

const char* const Value = "5901234123457";

// The module runs of an EAN-13 symbol, found through the engine's own
// decoding tables (the code of digit d in a set is the entry that holds d).
std::vector<int> Ean13Runs(const std::string& digits)
{
    auto codeOf = [](int set, int digit) {
        for (int code = 0; code < barcode::EanCodeCount; ++code) {
            if (barcode::EanDigitTables[set][code] == digit)
                return code;
        }
        return 0;
    };
    int parity = 0;
    for (int mask = 0; mask < 64; ++mask) {
        if (barcode::Ean13ParityTable[mask] == digits[0] - '0')
            parity = mask;
    }
    std::string modules = "101";
    auto append = [&modules](int code) {
        for (int bit = 6; bit >= 0; --bit)
            modules += (code >> bit) & 1 ? '1' : '0';
    };
    for (int k = 0; k < 6; ++k)
        append(codeOf((parity >> k) & 1 ? barcode::EAN_SET_L : barcode::EAN_SET_G, digits[1 + k] - '0'));
    modules += "01010";
    for (int k = 0; k < 6; ++k)
        append(codeOf(barcode::EAN_SET_R, digits[7 + k] - '0'));
    modules += "101";

    std::vector<int> runs;
    for (std::size_t k = 0; k < modules.size(); ++k) {
        if (k > 0 && modules[k] == modules[k - 1])
            ++runs.back();
        else
            runs.push_back(1);
    }
    return runs;
}

constexpr int AllTypes =
    barcode::TYPE_EAN8 | barcode::TYPE_EAN13 | barcode::TYPE_UPCE | barcode::TYPE_CODE39 | barcode::TYPE_CODE128;

// A frame with some texture: soft shading, sensor noise of a few grey
// levels and a scatter of dark and light patches, optionally with an EAN-13
// in the middle.
std::vector<uint8_t> MakeFrame(int width, int height, bool withBarcode)
{
    std::mt19937 random(42);
    std::vector<uint8_t> grey(static_cast<std::size_t>(width) * height);
    std::uniform_int_distribution<int> noise(-3, 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double shade = 130.0 + 50.0 * std::sin(x / 97.0) * std::cos(y / 71.0);
            grey[static_cast<std::size_t>(y) * width + x] = static_cast<uint8_t>(shade + noise(random));
        }
    }
    std::uniform_int_distribution<int> px(0, width - 1);
    std::uniform_int_distribution<int> py(0, height - 1);
    std::uniform_int_distribution<int> size(5, width / 8);
    std::uniform_int_distribution<int> level(20, 230);
    for (int patch = 0; patch < 40; ++patch) {
        const int x0 = px(random);
        const int y0 = py(random);
        const int w = size(random);
        const int h = size(random);
        const uint8_t v = static_cast<uint8_t>(level(random));
        for (int y = y0; y < std::min(height, y0 + h); ++y) {
            for (int x = x0; x < std::min(width, x0 + w); ++x)
                grey[static_cast<std::size_t>(y) * width + x] = v;
        }
    }
    if (withBarcode) {
        const int moduleWidth = width / 213; // 3 pixels at 640, 6 at 1280
        const int symbolWidth = (95 + 20) * moduleWidth;
        const int left = (width - symbolWidth) / 2;
        const int top = height / 3;
        for (int y = top; y < top + height / 4; ++y) {
            for (int x = left; x < left + symbolWidth; ++x)
                grey[static_cast<std::size_t>(y) * width + x] = 215;
        }
        int x = left + 10 * moduleWidth;
        bool dark = true;
        for (int run : Ean13Runs(Value)) {
            for (int k = 0; k < run * moduleWidth; ++k, ++x) {
                if (!dark)
                    continue;
                for (int y = top; y < top + height / 4; ++y)
                    grey[static_cast<std::size_t>(y) * width + x] = 25;
            }
            dark = !dark;
        }
    }
    std::vector<uint8_t> rgb(grey.size() * 3);
    for (std::size_t k = 0; k < grey.size(); ++k)
        rgb[3 * k] = rgb[3 * k + 1] = rgb[3 * k + 2] = grey[k];
    return rgb;
}

void ScanFrame(benchmark::State& state, int width, int height, bool omni, bool withBarcode)
{
    const std::vector<uint8_t> pixels = MakeFrame(width, height, withBarcode);
    const barcode::Image image = {pixels.data(), static_cast<uint32_t>(width), static_cast<uint32_t>(height), width,
                                  barcode::PIXEL_RGB24};
    barcode::Scanner scanner;
    scanner.SetTypes(AllTypes);
    scanner.SetMode(omni);

    // The first scan of a size builds the lines and grows the buffers.
    const barcode::Result first = scanner.Scan(&image);
    if (withBarcode ? first.value != Value : first.type != barcode::TYPE_NONE) {
        state.SkipWithError(("unexpected result: " + first.value).c_str());
        return;
    }

    const std::size_t before = g_allocations;
    for (auto _ : state) {
        barcode::Result result = scanner.Scan(&image);
        benchmark::DoNotOptimize(result);
    }
    state.counters["allocs/scan"] =
        benchmark::Counter(static_cast<double>(g_allocations - before) / static_cast<double>(state.iterations()));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The first "clean" image of each symbology in the corpus: a camera-sized
// frame holding one upright symbol.
struct CorpusFrame {
    std::string symbology;
    std::string file;
    int type;
};

std::vector<CorpusFrame> CleanCorpusFrames()
{
    std::vector<CorpusFrame> frames;
    std::ifstream manifest(std::string(MORVELIX_CORPUS_DIR) + "/manifest.tsv");
    std::string line;
    std::getline(manifest, line); // header
    while (std::getline(manifest, line)) {
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, '\t');)
            cells.push_back(cell);
        if (cells.size() < 5 || cells[4] != "clean")
            continue;
        bool seen = false;
        for (const CorpusFrame& frame : frames)
            seen = seen || frame.symbology == cells[1];
        if (!seen)
            frames.push_back({cells[1], cells[0], std::stoi(cells[3])});
    }
    return frames;
}

void ScanCorpusFrame(benchmark::State& state, const CorpusFrame& frame)
{
    int width = 0;
    int height = 0;
    int channels = 0;
    const std::string path = std::string(MORVELIX_CORPUS_DIR) + "/" + frame.file;
    uint8_t* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
    if (pixels == nullptr) {
        state.SkipWithError(("cannot load " + path).c_str());
        return;
    }
    const barcode::Image image = {pixels, static_cast<uint32_t>(width), static_cast<uint32_t>(height), width,
                                  barcode::PIXEL_RGB24};
    barcode::Scanner scanner;
    scanner.SetTypes(AllTypes);
    if (scanner.Scan(&image).type != frame.type) {
        stbi_image_free(pixels);
        state.SkipWithError(("not read: " + frame.file).c_str());
        return;
    }
    for (auto _ : state) {
        barcode::Result result = scanner.Scan(&image);
        benchmark::DoNotOptimize(result);
    }
    state.SetLabel(frame.file + " " + std::to_string(width) + "x" + std::to_string(height));
    stbi_image_free(pixels);
}

void Register()
{
    for (const CorpusFrame& frame : CleanCorpusFrames()) {
        benchmark::RegisterBenchmark(("Scan/corpus/" + frame.symbology).c_str(), [frame](benchmark::State& state) {
            ScanCorpusFrame(state, frame);
        })->Unit(benchmark::kMillisecond);
    }

    const struct {
        int width;
        int height;
    } sizes[] = {{640, 480}, {1280, 960}};
    for (const auto& size : sizes) {
        for (bool omni : {true, false}) {
            for (bool withBarcode : {false, true}) {
                const std::string name = "Scan/" + std::to_string(size.width) + "x" + std::to_string(size.height) +
                                         (omni ? "/omni" : "/horizontal") + (withBarcode ? "/barcode" : "/none");
                const int w = size.width;
                const int h = size.height;
                benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
                    ScanFrame(state, w, h, omni, withBarcode);
                })->Unit(benchmark::kMillisecond);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    Register();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
