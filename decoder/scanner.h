// The scanning object: lays scan lines over an image, turns each line into
// run widths and lets the enabled decoders look at them.
#pragma once

#include <functional>

#include "barcode.h"
#include "decoder_set.h"
#include "filter.h"
#include "scan_lines.h"

namespace barcode {

class Scanner {
public:
    Scanner();
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // true: six directions; false: horizontal lines only.
    void SetMode(bool omniDirectional);
    // Enables the decoders whose type bits are set in mask (bits 2, 1, 4, 8,
    // 16, created in that order); other bits are ignored.
    void SetTypes(int mask);
    // Scans the image; the first line on which a decoder accepts a value ends
    // the scan. Nothing found gives an empty value with TYPE_NONE.
    Result Scan(const Image* image);
    // As Scan, but asks `stop` before each line; once it says yes, the scan
    // ends with nothing found and `stopped` set. Lets a caller on another
    // thread bound the time a large picture takes.
    Result Scan(const Image* image, const std::function<bool()>& stop, bool& stopped);

    // Line geometry and sampling (scan_lines.cpp).
    void BuildLines();
    int ClipLine(int angleIndex, int mirrored, int x0, int y0, int& x1, int& y1);
    bool NextLine(PixelLine& line);
    void SampleLineRGB24(int x0, int y0, int x1, int y1, PixelLine& line);
    void SampleLineXRGB32(int x0, int y0, int x1, int y1, PixelLine& line);
    void SampleLineGrey8(int x0, int y0, int x1, int y1, PixelLine& line);

    const Image* m_image;             // the image of the scan under way, else null
    int m_spacing;                    // pixels between parallel lines: 3
    unsigned m_directionCount;        // active directions: 6 or 1
    ScanDirection m_directions[12];   // the active ones come first
    ScanLineSet m_lineSets[12];       // set k serves direction slot k
    unsigned m_directionIndex;        // slot NextLine takes lines from
    GenericFilter m_filter;
    PixelLine m_pixelLine;
    DecoderSet m_decoderSet;          // the enabled decoders
};

} // namespace barcode
