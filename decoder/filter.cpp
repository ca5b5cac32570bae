// The pixel-line filter. A line of grey pixels becomes the widths of its
// alternating dark and light runs: find the edges, drop those that are weak
// next to the last strong one, force dark and light to alternate, and share
// the pixels inside a soft edge between the two runs it separates.
#include "filter.h"

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace {

constexpr unsigned InitialCapacity = 1280; // pixels: the widest camera frame

// Neighbouring pixels closer than this (grey levels) are the same level.
constexpr int NoiseFloor = 5;
// An edge must change the grey level by more than this to count at all.
constexpr int MinEdgeAmplitude = 11;
// An edge weaker than this share of the last kept edge is dropped; the share
// depends on whether that edge was falling (into a bar) or rising.
constexpr double KeepAfterFalling = 0.37;
constexpr double KeepAfterRising = 0.31;
// Fewer accepted edges than this cannot hold even one bar between spaces.
constexpr int MinAcceptedEdges = 4;

// Share of an edge's amplitude per tenth of a pixel, when a pixel inside the
// edge is split between the two runs.
constexpr float SplitSlope = 0.41f;

constexpr int TenthsPerPixel = 10;
constexpr int MaxWidth = 32767; // tenths: the widest run a 16-bit width holds

inline bool IsFalling(int amplitude)
{
    return amplitude > 0;
}

// Widths are worked out in int and saturate instead of wrapping when a run
// is longer than a 16-bit width can hold.
inline int16_t StoreWidth(int tenths)
{
    if (tenths > MaxWidth)
        return MaxWidth;
    if (tenths < 0)
        return 0;
    return static_cast<int16_t>(tenths);
}

} // namespace

// Where a pixel inside an edge stops belonging to the run before it and
// starts belonging to the run after it, as fractions of the edge amplitude.
// Rows: amplitude up to 64, 65 to 128, above 128. Columns: the edge's bright
// end at 220 and above, 128 to 219, below 128.
const float GenericFilter::EdgeUpperFractions[9] = {
    0.25f, 0.34f, 0.40f, // weak edges
    0.35f, 0.34f, 0.40f, // medium edges
    0.55f, 0.34f, 0.34f, // strong edges
};
const float GenericFilter::EdgeLowerFractions[9] = {
    0.25f, 0.20f, 0.15f, // weak edges
    0.25f, 0.20f, 0.20f, // medium edges
    0.15f, 0.24f, 0.20f, // strong edges
};

GenericFilter::GenericFilter()
    : m_runLine(nullptr)
    , m_edges(nullptr)
    , m_diffs(nullptr)
    , m_capacity(0)
{
    auto runLine = std::make_unique<barcode::RunLine>();
    auto widths = std::make_unique<int16_t[]>(InitialCapacity);
    auto edges = std::make_unique<Edge[]>(InitialCapacity);
    auto diffs = std::make_unique<int16_t[]>(InitialCapacity);
    runLine->count = 0;
    runLine->widths = widths.release();
    m_runLine = runLine.release();
    m_edges = edges.release();
    m_diffs = diffs.release();
    m_capacity = InitialCapacity;
}

GenericFilter::~GenericFilter()
{
    delete[] m_runLine->widths;
    delete m_runLine;
    delete[] m_edges;
    delete[] m_diffs;
}

barcode::RunLine* GenericFilter::Process(const uint8_t* pixels, int count)
{
    barcode::RunLine* out = m_runLine;
    out->count = 0;
    // Fewer than three pixels hold no edge between two runs.
    if (pixels == nullptr || count < 3)
        return out;
    const int n = count;
    const uint8_t* p = pixels;

    if (static_cast<unsigned>(n) > m_capacity) {
        // Nothing in the buffers outlives one call, so nothing is copied.
        delete[] m_edges;
        delete[] out->widths;
        delete[] m_diffs;
        m_edges = nullptr;
        out->widths = nullptr;
        m_diffs = nullptr;
        m_capacity = 0;
        m_edges = new Edge[static_cast<std::size_t>(n)];
        out->widths = new int16_t[static_cast<std::size_t>(n)];
        m_diffs = new int16_t[static_cast<std::size_t>(n)];
        m_capacity = static_cast<unsigned>(n);
    }

    int16_t* d = m_diffs;
    for (int i = 0; i + 1 < n; ++i) {
        const int diff = p[i] - p[i + 1];
        d[i] = static_cast<int16_t>(std::abs(diff) < NoiseFloor ? 0 : diff);
    }

    // Runs of same-signed differences form one edge; a flat pixel pair ends
    // it. Edge 0 stands for the start of the line, whatever d[0] is.
    Edge* edges = m_edges;
    int edgeCount = 0;
    edges[edgeCount++] = {0, 1, d[0]};
    for (int k = 1; k + 1 < n; ++k) {
        if ((d[k] > 0 && d[k - 1] > 0) || (d[k] < 0 && d[k - 1] < 0)) {
            Edge& last = edges[edgeCount - 1];
            last.end = k + 1;
            last.amplitude = p[last.start] - p[last.end];
        } else if (d[k] != 0) {
            edges[edgeCount++] = {k, k + 1, d[k]};
        }
    }

    // The last edge closes the list whatever its strength; the ones between
    // the first and the last are filtered by strength and then forced to
    // alternate. Accepted edges are packed into edges[1...]: a write never
    // overtakes the read, and the closing edge lies beyond both.
    const Edge closing = edges[edgeCount - 1];
    const int start = edges[0].amplitude;
    int reference = start;
    int lastAccepted = start;
    bool firstPassed = true;
    int accepted = 0;
    for (int k = 1; k < edgeCount - 1; ++k) {
        const Edge edge = edges[k];
        const int strength = std::abs(edge.amplitude);
        const double share = IsFalling(reference) ? KeepAfterFalling : KeepAfterRising;
        const int threshold = static_cast<int>(std::abs(reference) * share);
        if (strength < threshold || strength <= MinEdgeAmplitude)
            continue;
        reference = edge.amplitude;

        bool accept;
        if (firstPassed) {
            firstPassed = false;
            const bool stronger = IsFalling(start) ? edge.amplitude > start : edge.amplitude < start;
            accept = IsFalling(edge.amplitude) != IsFalling(start) || stronger;
        } else {
            accept = IsFalling(edge.amplitude) != IsFalling(lastAccepted);
        }
        if (accept) {
            lastAccepted = edge.amplitude;
            edges[1 + accepted] = edge;
            ++accepted;
        }
    }
    if (accepted < MinAcceptedEdges)
        return out;
    edges[1 + accepted] = closing;

    int16_t* widths = out->widths;
    int index = 0;
    // A line that begins light gets an empty dark run first.
    if (IsFalling(edges[1].amplitude))
        widths[index++] = 0;

    int prevEnd = 0;
    int carry = 0;
    for (int k = 1; k <= accepted + 1; ++k) {
        const Edge& edge = edges[k];
        // Pixels from the last edge's end to this edge's start are whole.
        int current = carry + TenthsPerPixel * (edge.start - prevEnd + 1);
        carry = 0;

        if (edge.end - edge.start > 1) {
            const int amplitude = std::abs(edge.amplitude);
            const int ampClass = amplitude <= 64 ? 0 : (amplitude <= 128 ? 1 : 2);
            const bool falling = IsFalling(edge.amplitude);
            const int bright = falling ? p[edge.start] : p[edge.end];
            const int greyClass = bright >= 220 ? 0 : (bright >= 128 ? 1 : 2);
            const double upper = EdgeUpperFractions[3 * ampClass + greyClass];
            const double lower = EdgeLowerFractions[3 * ampClass + greyClass];
            // The two tables swap roles between falling and rising edges.
            const int lo = static_cast<int>(amplitude * (falling ? lower : upper));
            const int hi = static_cast<int>(amplitude * (1.0 - (falling ? upper : lower)));
            const float scaled = static_cast<float>(amplitude * static_cast<double>(SplitSlope));
            const float step = static_cast<float>(scaled / 10.0);

            for (int q = edge.start + 1; q < edge.end; ++q) {
                const int diff = std::abs(p[edge.start] - p[q]);
                if (diff < lo) {
                    current += TenthsPerPixel; // still the run before the edge
                } else if (diff > hi || step <= 0.0f) {
                    carry += TenthsPerPixel; // already the run after it
                } else {
                    const int f = static_cast<int>((diff - lo) / static_cast<double>(step));
                    carry += f;
                    current += TenthsPerPixel - f;
                }
            }
        }
        widths[index++] = StoreWidth(current);
        prevEnd = edge.end;
    }
    // One pixel more than remain after the closing edge, so that the widths
    // always add up to ten times (n + 1).
    widths[index++] = StoreWidth(TenthsPerPixel * (n - prevEnd + 1) + carry);
    out->count = index;
    return out;
}
