// Scan-line geometry: directions, the lines of one direction and the
// reusable buffer of grey pixels sampled along one line.
#pragma once

#include <cstdint>
#include <vector>

namespace barcode {

// One scan direction. Lines that are not mirrored run from lower left to
// upper right (x grows, y shrinks); mirrored ones from upper left to lower
// right. Every line is sampled with x growing, vertical lines downwards.
struct ScanDirection {
    int angleIndex; // into AngleTable: 0 horizontal, 6 vertical, 1 to 5 angled
    int mirrored;   // 0 or 1
};

// The trigonometry of one angle, as fixed decimal values (not the exact
// ones). Entries 0 and 6 stand for the horizontal and vertical cases.
struct AngleEntry {
    int degrees;
    float tan;
    float cot;
    float cos;
    float sin;
};

extern const AngleEntry AngleTable[7];
extern const ScanDirection DirectionTable[12];

// One line: the start pixel (always inside the image), the end point (may be
// one past the last column or row, never sampled) and its length in pixels.
struct ScanLine {
    int x0;
    int y0;
    int x1;
    int y1;
    int length;
};

// The lines of one direction, built for one image size and spacing.
struct ScanLineSet {
    std::vector<ScanLine> m_lines;
    int m_cursor = 0;  // next line to sample
    int m_height = 0;  // image height the lines were built for
    int m_width = 0;   // image width the lines were built for
    int m_spacing = 0; // spacing they were built with
    int m_count = 0;   // number of lines
};

// The grey values of the current line. Grown, never shrunk.
struct PixelLine {
    PixelLine() = default;
    ~PixelLine();
    PixelLine(const PixelLine&) = delete;
    PixelLine& operator=(const PixelLine&) = delete;

    uint8_t* m_data = nullptr;
    unsigned m_capacity = 0; // bytes allocated
    int m_length = 0;        // grey values of the current line
};

} // namespace barcode
