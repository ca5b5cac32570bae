// The scanner: types and modes, the scan loop, the two-line vote across scan
// lines and images that cannot be scanned.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "ean_encoder.h"
#include "scanner.h"

namespace {

// A light grey image with dark bars drawn on it.
struct GreyImage {
    GreyImage(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, 200) {}

    // The symbol's bars run top to bottom (read by horizontal lines), or left
    // to right when turned, from (x, y) over extent pixels.
    void Draw(const std::vector<int>& modules, int x, int y, int extent, int pixelsPerModule, bool turned = false)
    {
        int position = turned ? y : x;
        for (std::size_t k = 0; k < modules.size(); ++k) {
            const int size = modules[k] * pixelsPerModule;
            if (k % 2 == 0) {
                for (int a = position; a < position + size; ++a) {
                    for (int b = 0; b < extent; ++b) {
                        const int px = turned ? x + b : a;
                        const int py = turned ? a : y + b;
                        pixels[static_cast<std::size_t>(py) * width + px] = 30;
                    }
                }
            }
            position += size;
        }
    }

    barcode::Image Record()
    {
        return {pixels.data(), static_cast<uint32_t>(width), static_cast<uint32_t>(height), width,
                barcode::PIXEL_GREY8};
    }

    int width;
    int height;
    std::vector<uint8_t> pixels;
};

const std::vector<int> Symbol = testing_runs::Ean13Modules("5901234123457");

GreyImage ImageWithSymbol(int symbolHeight = 100, int top = 150)
{
    GreyImage image(640, 480);
    image.Draw(Symbol, 150, top, symbolHeight, 3);
    return image;
}

TEST(Scanner, Defaults)
{
    barcode::Scanner scanner;
    EXPECT_EQ(scanner.m_decoderSet.GetTypes(), 15);
    EXPECT_EQ(scanner.m_directionCount, 6u);
    EXPECT_EQ(scanner.m_spacing, 3);
    EXPECT_EQ(scanner.m_image, nullptr);
}

TEST(Scanner, SetTypesCreatesInFixedOrderAndIgnoresOtherBits)
{
    struct Case {
        int mask;
        std::vector<int> types;
    };
    const Case cases[] = {
        {31, {2, 1, 4, 8, 16}},
        {0, {}},
        {64, {}},
        {17, {1, 16}},
        {2 | 128 | 256, {2}},
    };
    barcode::Scanner scanner;
    for (const Case& c : cases) {
        scanner.SetTypes(c.mask);
        EXPECT_EQ(scanner.m_decoderSet.m_types, c.types) << c.mask;
        EXPECT_EQ(scanner.m_decoderSet.GetTypes(), c.mask & 31) << c.mask;
    }
}

TEST(Scanner, ReadsASymbolInEveryPixelFormat)
{
    GreyImage grey = ImageWithSymbol();
    const int stride = grey.width + 7;
    std::vector<uint8_t> rgb(static_cast<std::size_t>(stride) * grey.height * 3, 0);
    std::vector<uint8_t> xrgb(static_cast<std::size_t>(stride) * grey.height * 4, 0);
    std::vector<uint8_t> wideGrey(static_cast<std::size_t>(stride) * grey.height, 0);
    for (int y = 0; y < grey.height; ++y) {
        for (int x = 0; x < grey.width; ++x) {
            const uint8_t v = grey.pixels[static_cast<std::size_t>(y) * grey.width + x];
            const std::size_t p = static_cast<std::size_t>(y) * stride + x;
            wideGrey[p] = v;
            for (int c = 0; c < 3; ++c) {
                rgb[p * 3 + c] = v;
                xrgb[p * 4 + 1 + c] = v;
            }
        }
    }
    const barcode::Image images[] = {
        grey.Record(),
        {wideGrey.data(), 640, 480, stride, barcode::PIXEL_GREY8},
        {wideGrey.data(), 640, 480, stride, 77}, // unknown formats are grey
        {rgb.data(), 640, 480, stride, barcode::PIXEL_RGB24},
        {xrgb.data(), 640, 480, stride, barcode::PIXEL_XRGB32},
    };
    barcode::Scanner scanner;
    for (const barcode::Image& image : images) {
        const barcode::Result result = scanner.Scan(&image);
        EXPECT_EQ(result.value, "5901234123457") << "format " << image.format;
        EXPECT_EQ(result.type, barcode::TYPE_EAN13);
        EXPECT_EQ(scanner.m_image, nullptr);
    }
}

TEST(Scanner, ASymbolCrossedByOneLineIsNotReported)
{
    barcode::Scanner scanner;
    GreyImage one = ImageWithSymbol(1, 3); // only the line at y = 3 crosses it
    const barcode::Image oneRecord = one.Record();
    EXPECT_EQ(scanner.Scan(&oneRecord).type, barcode::TYPE_NONE);

    GreyImage two = ImageWithSymbol(4, 3); // the lines at y = 3 and y = 6
    const barcode::Image twoRecord = two.Record();
    const barcode::Result result = scanner.Scan(&twoRecord);
    EXPECT_EQ(result.value, "5901234123457");

    // Votes do not carry over from one scan to the next.
    EXPECT_EQ(scanner.Scan(&oneRecord).type, barcode::TYPE_NONE);
}

TEST(Scanner, HorizontalModeMissesATurnedSymbol)
{
    GreyImage image(640, 480);
    image.Draw(Symbol, 200, 60, 120, 3, true);
    const barcode::Image record = image.Record();
    barcode::Scanner scanner;
    scanner.SetMode(false);
    EXPECT_EQ(scanner.Scan(&record).type, barcode::TYPE_NONE);
    scanner.SetMode(true);
    EXPECT_EQ(scanner.Scan(&record).value, "5901234123457");
}

TEST(Scanner, NoDecodersFindNothing)
{
    GreyImage image = ImageWithSymbol();
    const barcode::Image record = image.Record();
    barcode::Scanner scanner;
    scanner.SetTypes(0);
    const barcode::Result result = scanner.Scan(&record);
    EXPECT_EQ(result.type, barcode::TYPE_NONE);
    EXPECT_TRUE(result.value.empty());
}

TEST(Scanner, ImagesThatCannotBeScannedFindNothingAndLeaveTheScannerUsable)
{
    std::vector<uint8_t> pixels(640 * 480, 200);
    const barcode::Image cases[] = {
        {nullptr, 0, 0, 0, barcode::PIXEL_RGB24},          // a file that failed to load
        {pixels.data(), 640, 2, 640, barcode::PIXEL_GREY8}, // too low for a horizontal line
        {pixels.data(), 640, 5, 640, barcode::PIXEL_GREY8},
        {nullptr, 640, 480, 640, barcode::PIXEL_RGB24},   // no pixels behind a size
        {pixels.data(), 640, 480, 639, barcode::PIXEL_GREY8}, // rows shorter than the width
        {pixels.data(), 640, 480, -640, barcode::PIXEL_GREY8},
        {pixels.data(), 0x80000000u, 1, 0x7FFFFFFF, barcode::PIXEL_GREY8}, // wider than any line can reach
    };
    barcode::Scanner scanner;
    GreyImage good = ImageWithSymbol();
    const barcode::Image goodRecord = good.Record();
    for (const barcode::Image& image : cases) {
        const barcode::Result result = scanner.Scan(&image);
        EXPECT_EQ(result.type, barcode::TYPE_NONE) << image.width << " x " << image.height;
        EXPECT_TRUE(result.value.empty());
        EXPECT_EQ(scanner.m_image, nullptr);
        EXPECT_EQ(scanner.Scan(&goodRecord).value, "5901234123457");
    }
    EXPECT_EQ(scanner.Scan(nullptr).type, barcode::TYPE_NONE);

    // A scan stopped by its caller before a line finds nothing, whatever
    // the lines before gave; one not stopped reads as a plain scan.
    int allowed = 0; // lines before the stop
    int asked = 0;
    const std::function<bool()> stop = [&] { return asked++ >= allowed; };
    for (const int lines : {0, 1, 2, 1000000}) {
        allowed = lines;
        asked = 0;
        bool stopped = false;
        const barcode::Result result = scanner.Scan(&goodRecord, stop, stopped);
        EXPECT_EQ(stopped, lines < 1000000) << lines;
        EXPECT_EQ(result.type, stopped ? barcode::TYPE_NONE : barcode::TYPE_EAN13) << lines;
        EXPECT_EQ(result.value, stopped ? "" : "5901234123457") << lines;
        if (stopped) {
            EXPECT_EQ(asked, lines + 1) << "asked before each line";
        }
        EXPECT_EQ(scanner.m_image, nullptr);
        EXPECT_EQ(scanner.Scan(&goodRecord).value, "5901234123457");
    }
}

} // namespace
