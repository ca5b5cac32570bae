// Scan-line geometry and pixel sampling: the parallel lines of each active
// direction, built once per image size, and the grey values under one line.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "scanner.h"

namespace barcode {

// Fixed decimal values rather than the exact trigonometry: the line ends and
// lengths below are defined by them. 15° and 75° are cut to three decimals.
const AngleEntry AngleTable[7] = {
    //  degrees  tan     cot     cos     sin
    {0, 0.0f, 0.0f, 0.0f, 0.0f},          // horizontal: no table values used
    {15, 0.268f, 3.732f, 0.965f, 0.258f},
    {30, 0.577f, 1.732f, 0.866f, 0.5f},
    {45, 1.0f, 1.0f, 0.707f, 0.707f},
    {60, 1.732f, 0.577f, 0.5f, 0.866f},
    {75, 3.732f, 0.268f, 0.258f, 0.965f},
    {0, 0.0f, 0.0f, 0.0f, 0.0f},          // vertical: no table values used
};

// Index k < 7 is angle k going up to the right; k >= 7 is angle k - 6
// mirrored, going down to the right.
const ScanDirection DirectionTable[12] = {
    {0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0},
    {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1},
};

namespace {

constexpr int HorizontalAngle = 0;
constexpr int VerticalAngle = 6;

// Angled lines shorter than this are dropped; the first of them starts where
// a line from the image's edge reaches this length.
constexpr double MinLineLength = 100.0; // pixels

// Integer part of a non-negative double, as the geometry needs it.
inline int Cut(double value)
{
    return static_cast<int>(value);
}

// Grows the line buffer to exactly n bytes when it is smaller. Nothing is
// copied: every sampling overwrites the whole line.
void Reserve(PixelLine& line, int n)
{
    if (line.m_capacity >= static_cast<unsigned>(n))
        return;
    delete[] line.m_data;
    line.m_data = nullptr;
    line.m_capacity = 0;
    line.m_data = new uint8_t[static_cast<std::size_t>(n)];
    line.m_capacity = static_cast<unsigned>(n);
}

// Walks the pixels of one line and writes grey(pixel) for each. Byte offsets
// are kept in size_t: y * stride * bytesPerPixel overflows an int long before
// an image is too large to hold in memory.
template <std::size_t BytesPerPixel, typename Grey>
void Sample(const Image& image, int x0, int y0, int x1, int y1, PixelLine& line, Grey grey)
{
    const int dx = x1 - x0;
    const int dy = y1 - y0;
    const int adx = std::abs(dx);
    const int ady = std::abs(dy);
    int n;
    if (dx == 0)
        n = ady;
    else if (dy == 0)
        n = adx;
    else
        n = adx > ady ? adx : ady;

    Reserve(line, n);
    line.m_length = n;
    if (n == 0)
        return;

    const uint8_t* data = image.data;
    uint8_t* out = line.m_data;
    const std::size_t rowBytes = static_cast<std::size_t>(image.stride) * BytesPerPixel;
    std::size_t offset = (static_cast<std::size_t>(y0) * static_cast<std::size_t>(image.stride) +
                          static_cast<std::size_t>(x0)) * BytesPerPixel;

    if (dx == 0) {
        // Vertical lines are always sampled downwards.
        for (int i = 0; i < n; ++i, offset += rowBytes)
            out[i] = grey(data + offset);
        return;
    }
    if (dy == 0) {
        for (int i = 0; i < n; ++i, offset += BytesPerPixel)
            out[i] = grey(data + offset);
        return;
    }

    // Whole-number stepping along the longer axis. The strict comparison
    // keeps both coordinates still on the first step, so the first pixel is
    // taken twice and the walk ends two pixels short of the end point.
    const bool down = dy > 0;
    int ex = 0;
    int ey = 0;
    out[0] = grey(data + offset);
    for (int i = 1; i < n; ++i) {
        ex += adx;
        ey += ady;
        if (ex > n) {
            ex -= n;
            offset += BytesPerPixel;
        }
        if (ey > n) {
            ey -= n;
            if (down)
                offset += rowBytes;
            else
                offset -= rowBytes;
        }
        out[i] = grey(data + offset);
    }
}

// Every term is shifted before the sum, so the grey value fits in 8 bits
// (253 at most).
inline uint8_t GreyRGB(const uint8_t* p)
{
    return static_cast<uint8_t>((p[0] >> 1) + (p[1] >> 2) + (p[2] >> 2));
}

} // namespace

PixelLine::~PixelLine()
{
    delete[] m_data;
}

void Scanner::BuildLines()
{
    m_directionIndex = 0;
    const int width = static_cast<int>(m_image->width);
    const int height = static_cast<int>(m_image->height);
    const int s = m_spacing;

    for (unsigned k = 0; k < m_directionCount; ++k) {
        ScanLineSet& set = m_lineSets[k];
        const ScanDirection& direction = m_directions[k];
        set.m_cursor = 0;
        if (set.m_height == height && set.m_width == width && set.m_spacing == s)
            continue;

        set.m_height = height;
        set.m_width = width;
        set.m_spacing = s;
        set.m_lines.clear();
        set.m_count = 0;
        if (s <= 0)
            continue;

        if (direction.angleIndex == HorizontalAngle) {
            if (height / s != 0) {
                const int count = height / s - 1;
                set.m_lines.reserve(static_cast<std::size_t>(count));
                for (int i = 0; i < count; ++i)
                    set.m_lines.push_back({0, s * i, width, s * i, width});
            }
        } else if (direction.angleIndex == VerticalAngle) {
            if (width / s != 0) {
                const int count = width / s - 1;
                set.m_lines.reserve(static_cast<std::size_t>(count));
                for (int i = 0; i < count; ++i)
                    set.m_lines.push_back({s * i, 0, s * i, height, height});
            }
        } else {
            const AngleEntry& angle = AngleTable[direction.angleIndex];
            // Spacing of the line starts along each edge, and how far from
            // the corner the first start lies, in whole pixels.
            const int stepX = Cut(s / static_cast<double>(angle.sin));
            const int stepY = Cut(s / static_cast<double>(angle.cos));
            const int minX = Cut(MinLineLength / angle.sin);
            const int minY = Cut(MinLineLength / angle.cos);

            int candidates = 0;
            if (height > minY && width > minX && stepX > 0 && stepY > 0)
                candidates = (width - minX) / stepX + (height - minY) / stepY;
            set.m_lines.reserve(static_cast<std::size_t>(candidates));

            for (int i = 0; i < candidates; ++i) {
                const int t = minY + i * stepY;
                const int u = i * stepX;
                int x0;
                int y0;
                if (direction.mirrored == 0) {
                    if (t < height) {
                        x0 = 0; // left edge, moving down
                        y0 = t;
                    } else {
                        x0 = ((t - height) / stepY) * stepX; // bottom row, moving right
                        y0 = height - 1;
                    }
                } else {
                    const int r = width - u - minX;
                    if (r >= 0) {
                        x0 = r; // top edge, moving left
                        y0 = 0;
                    } else {
                        x0 = 1; // left edge, moving down
                        y0 = ((u + minX - width) / stepX) * stepY;
                    }
                }
                int x1 = 0;
                int y1 = 0;
                const int length = ClipLine(direction.angleIndex, direction.mirrored, x0, y0, x1, y1);
                if (length >= static_cast<int>(MinLineLength))
                    set.m_lines.push_back({x0, y0, x1, y1, length});
            }
        }
        set.m_count = static_cast<int>(set.m_lines.size());
    }
}

int Scanner::ClipLine(int angleIndex, int mirrored, int x0, int y0, int& x1, int& y1)
{
    x1 = x0;
    y1 = y0;
    if (m_image == nullptr || angleIndex <= HorizontalAngle || angleIndex >= VerticalAngle)
        return 0;

    const AngleEntry& angle = AngleTable[angleIndex];
    const double sinA = angle.sin;
    const double cosA = angle.cos;
    const int width = static_cast<int>(m_image->width);
    const int height = static_cast<int>(m_image->height);
    const double toRight = static_cast<unsigned>(width - x0) / cosA;

    if (mirrored == 0) {
        const double toTop = static_cast<unsigned>(y0) / sinA;
        if (toTop < toRight) {
            x1 = x0 + Cut(static_cast<float>(toTop * cosA));
            y1 = 0;
            return Cut(toTop);
        }
        x1 = width;
        y1 = y0 - Cut(static_cast<float>(toRight * sinA));
        return Cut(toRight);
    }

    const double toBottom = static_cast<unsigned>(height - y0) / sinA;
    if (toRight < toBottom) {
        x1 = width;
        y1 = y0 + Cut(toRight * sinA);
        return Cut(toRight);
    }
    x1 = x0 + Cut(toBottom * cosA);
    y1 = height;
    return Cut(toBottom);
}

void Scanner::SampleLineRGB24(int x0, int y0, int x1, int y1, PixelLine& line)
{
    Sample<3>(*m_image, x0, y0, x1, y1, line, [](const uint8_t* p) { return GreyRGB(p); });
}

void Scanner::SampleLineXRGB32(int x0, int y0, int x1, int y1, PixelLine& line)
{
    // The first byte of each pixel is padding and is never read.
    Sample<4>(*m_image, x0, y0, x1, y1, line, [](const uint8_t* p) { return GreyRGB(p + 1); });
}

void Scanner::SampleLineGrey8(int x0, int y0, int x1, int y1, PixelLine& line)
{
    if (y1 == y0 && x1 > x0) {
        // A horizontal grey line is one block of the row.
        const int n = x1 - x0;
        Reserve(line, n);
        line.m_length = n;
        const std::size_t offset =
            static_cast<std::size_t>(y0) * static_cast<std::size_t>(m_image->stride) + static_cast<std::size_t>(x0);
        std::memcpy(line.m_data, m_image->data + offset, static_cast<std::size_t>(n));
        return;
    }
    Sample<1>(*m_image, x0, y0, x1, y1, line, [](const uint8_t* p) { return *p; });
}

bool Scanner::NextLine(PixelLine& line)
{
    if (m_image == nullptr)
        return false;
    while (m_directionIndex < m_directionCount) {
        ScanLineSet& set = m_lineSets[m_directionIndex];
        if (set.m_cursor < set.m_count) {
            const ScanLine& l = set.m_lines[static_cast<std::size_t>(set.m_cursor)];
            ++set.m_cursor;
            switch (m_image->format) {
            case PIXEL_RGB24:
                SampleLineRGB24(l.x0, l.y0, l.x1, l.y1, line);
                break;
            case PIXEL_XRGB32:
                SampleLineXRGB32(l.x0, l.y0, l.x1, l.y1, line);
                break;
            default:
                SampleLineGrey8(l.x0, l.y0, l.x1, l.y1, line);
                break;
            }
            return true;
        }
        ++m_directionIndex;
    }
    return false;
}

} // namespace barcode
