// Scan-line geometry and pixel sampling.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "scanner.h"

namespace barcode {

// Found by argument-dependent lookup, so that failures print the line.
static std::ostream& operator<<(std::ostream& out, const ScanLine& l)
{
    return out << "{" << l.x0 << ", " << l.y0 << ", " << l.x1 << ", " << l.y1 << ", " << l.length << "}";
}

} // namespace barcode

namespace {

struct Line {
    int x0, y0, x1, y1, length;
};

bool operator==(const barcode::ScanLine& a, const Line& b)
{
    return a.x0 == b.x0 && a.y0 == b.y0 && a.x1 == b.x1 && a.y1 == b.y1 && a.length == b.length;
}

// Builds the lines of the scanner's active directions for an image size.
void Build(barcode::Scanner& scanner, barcode::Image& image, uint32_t width, uint32_t height)
{
    image = {nullptr, width, height, static_cast<int32_t>(width), barcode::PIXEL_GREY8};
    scanner.m_image = &image;
    scanner.BuildLines();
    scanner.m_image = nullptr;
}

std::vector<int> Counts(const barcode::Scanner& scanner)
{
    std::vector<int> counts;
    for (unsigned k = 0; k < scanner.m_directionCount; ++k)
        counts.push_back(scanner.m_lineSets[k].m_count);
    return counts;
}

TEST(ScanLines, CountsPerDirection)
{
    struct Case {
        uint32_t width, height;
        std::vector<int> counts; // 0°, 90°, 30°, 60°, 150°, 120°
    };
    const Case cases[] = {
        {640, 480, {159, 212, 194, 221, 194, 221}},
        {320, 240, {79, 105, 61, 74, 61, 74}},
        {200, 150, {49, 65, 0, 0, 0, 0}},
        {0, 0, {0, 0, 0, 0, 0, 0}},
        {640, 2, {0, 212, 0, 0, 0, 0}},
        {640, 5, {0, 212, 0, 0, 0, 0}},
        {640, 6, {1, 212, 0, 0, 0, 0}},
        {2, 480, {159, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        barcode::Scanner scanner;
        barcode::Image image;
        Build(scanner, image, c.width, c.height);
        EXPECT_EQ(Counts(scanner), c.counts) << c.width << " x " << c.height;
        for (unsigned k = 0; k < scanner.m_directionCount; ++k)
            EXPECT_EQ(scanner.m_lineSets[k].m_lines.size(), static_cast<std::size_t>(scanner.m_lineSets[k].m_count));
    }
}

TEST(ScanLines, FirstAndLastLinesOf640x480)
{
    barcode::Scanner scanner;
    barcode::Image image;
    Build(scanner, image, 640, 480);
    const auto& sets = scanner.m_lineSets;
    EXPECT_EQ(sets[0].m_lines.front(), (Line{0, 0, 640, 0, 640}));
    EXPECT_EQ(sets[0].m_lines.back(), (Line{0, 474, 640, 474, 640}));
    EXPECT_EQ(sets[1].m_lines.front(), (Line{0, 0, 0, 480, 480}));
    EXPECT_EQ(sets[1].m_lines.back(), (Line{633, 0, 633, 480, 480}));
    EXPECT_EQ(sets[2].m_lines.front(), (Line{0, 115, 199, 0, 230})); // 30°
    EXPECT_EQ(sets[3].m_lines.front(), (Line{0, 200, 115, 0, 230})); // 60°
    EXPECT_EQ(sets[4].m_lines.front(), (Line{440, 0, 640, 115, 230})); // 30° mirrored
    EXPECT_EQ(sets[4].m_lines.back(), (Line{1, 357, 214, 480, 246}));

    // Every line starts inside the image and ends on its border or inside.
    for (unsigned k = 0; k < scanner.m_directionCount; ++k) {
        for (const barcode::ScanLine& l : sets[k].m_lines) {
            EXPECT_TRUE(l.x0 >= 0 && l.x0 < 640 && l.y0 >= 0 && l.y0 < 480) << "slot " << k << " " << l;
            EXPECT_TRUE(l.x1 >= 0 && l.x1 <= 640 && l.y1 >= 0 && l.y1 <= 480) << "slot " << k << " " << l;
            EXPECT_GE(l.length, k < 2 ? 1 : 100);
        }
    }
}

TEST(ScanLines, LinesAreKeptForTheSameSizeAndCursorsReset)
{
    barcode::Scanner scanner;
    barcode::Image image;
    Build(scanner, image, 640, 480);
    const barcode::ScanLine* first = scanner.m_lineSets[2].m_lines.data();
    scanner.m_lineSets[0].m_cursor = 17;
    scanner.m_directionIndex = 3;
    Build(scanner, image, 640, 480);
    EXPECT_EQ(scanner.m_lineSets[2].m_lines.data(), first);
    EXPECT_EQ(scanner.m_lineSets[0].m_cursor, 0);
    EXPECT_EQ(scanner.m_directionIndex, 0u);
    Build(scanner, image, 320, 240);
    EXPECT_EQ(Counts(scanner), (std::vector<int>{79, 105, 61, 74, 61, 74}));
}

TEST(ScanLines, HorizontalModeKeepsOnlySlotZero)
{
    barcode::Scanner scanner;
    scanner.SetMode(false);
    EXPECT_EQ(scanner.m_directionCount, 1u);
    EXPECT_EQ(scanner.m_directions[0].angleIndex, 0);
    barcode::Image image;
    Build(scanner, image, 640, 480);
    EXPECT_EQ(Counts(scanner), (std::vector<int>{159}));
    scanner.SetMode(true);
    const int expected[6][2] = {{0, 0}, {6, 0}, {2, 0}, {4, 0}, {2, 1}, {4, 1}};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(scanner.m_directions[k].angleIndex, expected[k][0]);
        EXPECT_EQ(scanner.m_directions[k].mirrored, expected[k][1]);
    }
}

// Two grey images of one size: one holds x, the other y, in every pixel.
struct CoordinateImages {
    CoordinateImages(int width, int height, int stride)
        : xs(static_cast<std::size_t>(stride) * height, 0xEE), ys(xs)
    {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                xs[static_cast<std::size_t>(y) * stride + x] = static_cast<uint8_t>(x);
                ys[static_cast<std::size_t>(y) * stride + x] = static_cast<uint8_t>(y);
            }
        }
        xImage = {xs.data(), static_cast<uint32_t>(width), static_cast<uint32_t>(height), stride, barcode::PIXEL_GREY8};
        yImage = xImage;
        yImage.data = ys.data();
    }
    std::vector<uint8_t> xs;
    std::vector<uint8_t> ys;
    barcode::Image xImage;
    barcode::Image yImage;
};

std::vector<uint8_t> SampledLine(barcode::Scanner& scanner, const barcode::Image& image, const barcode::ScanLine& l)
{
    scanner.m_image = &image;
    barcode::PixelLine line;
    scanner.SampleLineGrey8(l.x0, l.y0, l.x1, l.y1, line);
    scanner.m_image = nullptr;
    return std::vector<uint8_t>(line.m_data, line.m_data + line.m_length);
}

TEST(ScanLines, SampledCoordinatesFollowTheLine)
{
    // Below 256 in both directions, so the grey values are the coordinates.
    const int width = 250;
    const int height = 240;
    CoordinateImages images(width, height, 256);
    barcode::Scanner scanner;
    barcode::Image size;
    Build(scanner, size, width, height);

    int checked = 0;
    for (unsigned k = 0; k < scanner.m_directionCount; ++k) {
        for (const barcode::ScanLine& l : scanner.m_lineSets[k].m_lines) {
            const std::vector<uint8_t> xs = SampledLine(scanner, images.xImage, l);
            const std::vector<uint8_t> ys = SampledLine(scanner, images.yImage, l);
            const int dx = l.x1 - l.x0;
            const int dy = l.y1 - l.y0;
            const int n = std::max(std::abs(dx), std::abs(dy));
            ASSERT_EQ(static_cast<int>(xs.size()), n) << l;
            ASSERT_EQ(xs[0], l.x0);
            ASSERT_EQ(ys[0], l.y0);
            if (dx == 0 || dy == 0) {
                // Straight lines take every pixel up to the end point.
                for (int i = 0; i < n; ++i) {
                    ASSERT_EQ(xs[i], l.x0 + (dx == 0 ? 0 : i)) << l;
                    ASSERT_EQ(ys[i], l.y0 + (dy == 0 ? 0 : i)) << l;
                }
                ++checked;
                continue;
            }
            // Diagonal lines: the first pixel twice, then one step per pixel
            // along the longer axis, never back, ending two short of the end.
            ASSERT_EQ(xs[1], xs[0]) << l;
            ASSERT_EQ(ys[1], ys[0]) << l;
            const int sy = dy > 0 ? 1 : -1;
            for (int i = 2; i < n; ++i) {
                const int stepX = xs[i] - xs[i - 1];
                const int stepY = (ys[i] - ys[i - 1]) * sy;
                ASSERT_TRUE(stepX == 0 || stepX == 1) << l << " pixel " << i;
                ASSERT_TRUE(stepY == 0 || stepY == 1) << l << " pixel " << i;
                ASSERT_EQ(std::abs(dx) >= std::abs(dy) ? stepX : stepY, 1) << l << " pixel " << i;
            }
            if (std::abs(dx) >= std::abs(dy))
                ASSERT_EQ(xs[n - 1], l.x1 - 2) << l;
            else
                ASSERT_EQ(ys[n - 1], l.y1 - 2 * sy) << l;
            ++checked;
        }
    }
    EXPECT_GT(checked, 300);
}

TEST(ScanLines, GreyValuesPerPixelFormat)
{
    // Two rows of three pixels, rows five pixels apart.
    const int stride = 5;
    std::vector<uint8_t> rgb(static_cast<std::size_t>(stride) * 2 * 3, 0x77);
    std::vector<uint8_t> xrgb(static_cast<std::size_t>(stride) * 2 * 4, 0x77);
    const uint8_t colours[3][3] = {{255, 255, 255}, {0, 0, 0}, {200, 100, 40}};
    for (int x = 0; x < 3; ++x) {
        for (int c = 0; c < 3; ++c) {
            rgb[static_cast<std::size_t>(stride + x) * 3 + c] = colours[x][c];
            xrgb[static_cast<std::size_t>(stride + x) * 4 + 1 + c] = colours[x][c];
        }
        xrgb[static_cast<std::size_t>(stride + x) * 4] = 0xFF; // never read
    }
    barcode::Scanner scanner;
    barcode::PixelLine line;
    const barcode::Image rgbImage = {rgb.data(), 3, 2, stride, barcode::PIXEL_RGB24};
    scanner.m_image = &rgbImage;
    scanner.SampleLineRGB24(0, 1, 3, 1, line);
    ASSERT_EQ(line.m_length, 3);
    EXPECT_EQ(line.m_data[0], 253);
    EXPECT_EQ(line.m_data[1], 0);
    EXPECT_EQ(line.m_data[2], 135);

    const barcode::Image xrgbImage = {xrgb.data(), 3, 2, stride, barcode::PIXEL_XRGB32};
    scanner.m_image = &xrgbImage;
    scanner.SampleLineXRGB32(0, 1, 3, 1, line);
    ASSERT_EQ(line.m_length, 3);
    EXPECT_EQ(line.m_data[0], 253);
    EXPECT_EQ(line.m_data[1], 0);
    EXPECT_EQ(line.m_data[2], 135);
    scanner.m_image = nullptr;
}

TEST(ScanLines, NextLineVisitsDirectionsInSlotOrderAndKeepsTheLargestBuffer)
{
    std::vector<uint8_t> pixels(1280 * 960, 128);
    const barcode::Image large = {pixels.data(), 1280, 960, 1280, barcode::PIXEL_GREY8};
    const barcode::Image small = {pixels.data(), 640, 480, 640, barcode::PIXEL_GREY8};
    barcode::Scanner scanner;

    scanner.m_image = &large;
    scanner.BuildLines();
    barcode::PixelLine line;
    ASSERT_TRUE(scanner.NextLine(line));
    EXPECT_EQ(line.m_length, 1280);
    EXPECT_EQ(line.m_capacity, 1280u);

    scanner.m_image = &small;
    scanner.BuildLines();
    std::vector<int> lengths;
    int lines = 0;
    while (scanner.NextLine(line)) {
        if (lines == 0 || lines == 159)
            lengths.push_back(line.m_length);
        ++lines;
    }
    scanner.m_image = nullptr;
    EXPECT_EQ(lines, 159 + 212 + 194 + 221 + 194 + 221);
    EXPECT_EQ(lengths, (std::vector<int>{640, 480})); // the first horizontal, then the first vertical
    EXPECT_EQ(line.m_capacity, 1280u);
    EXPECT_FALSE(scanner.NextLine(line)); // no image attached
}

TEST(ScanLines, EveryLineStaysInsideImagesOfManySizes)
{
    // Exact-size pixel buffers: a sample outside the image is an
    // out-of-bounds read.
    std::mt19937 random(7);
    barcode::Scanner scanner;
    for (int trial = 0; trial < 60; ++trial) {
        const int width = std::uniform_int_distribution<int>(1, 700)(random);
        const int height = std::uniform_int_distribution<int>(1, 500)(random);
        const int format = trial % 3;
        const int bytes = format == barcode::PIXEL_RGB24 ? 3 : (format == barcode::PIXEL_XRGB32 ? 4 : 1);
        std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * bytes);
        for (auto& p : pixels)
            p = static_cast<uint8_t>(random());
        const barcode::Image image = {pixels.data(), static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                      width, format};
        const barcode::Result result = scanner.Scan(&image);
        EXPECT_EQ(result.type, barcode::TYPE_NONE) << width << " x " << height;
    }
}

} // namespace
