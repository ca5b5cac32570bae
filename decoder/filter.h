// The pixel-line filter: one line of grey pixels in, the widths of its dark
// and light runs out.
#pragma once

#include <cstdint>

#include "run_line.h"

class IFilter {
public:
    virtual ~IFilter() = default;
    // The returned run line belongs to the filter and stays valid until the
    // next Process.
    virtual barcode::RunLine* Process(const uint8_t* pixels, int count) = 0;
};

class GenericFilter : public IFilter {
public:
    // One edge between a dark and a light run: it spans the pixels start to
    // end; the pixels strictly between them are its inside pixels.
    struct Edge {
        int start;
        int end;
        int amplitude; // > 0 falling (bright to dark), <= 0 rising
    };

    // Indexed by 3 * amplitude class + grey class.
    static const float EdgeUpperFractions[9];
    static const float EdgeLowerFractions[9];

    GenericFilter();
    ~GenericFilter() override;
    GenericFilter(const GenericFilter&) = delete;
    GenericFilter& operator=(const GenericFilter&) = delete;

    barcode::RunLine* Process(const uint8_t* pixels, int count) override;

    barcode::RunLine* m_runLine; // the output
    Edge* m_edges;               // work buffer
    int16_t* m_diffs;            // pixel differences
    unsigned m_capacity;         // pixels the buffers are sized for
};
