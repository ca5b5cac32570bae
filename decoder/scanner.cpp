// The scan loop: lines of every active direction in turn, each one filtered
// into run widths and shown to every enabled decoder, until one of them
// accepts a value.
#include "scanner.h"

#include <climits>
#include <cstdint>
#include <vector>

namespace barcode {

namespace {

// Direction-table indices of each mode, in slot order. Slot 0 is the
// horizontal direction in both, so a line set always serves one direction.
constexpr int OmniDirections[] = {0, 6, 2, 4, 8, 10}; // 0°, 90°, 30°, 60°, 150°, 120°
constexpr int HorizontalDirections[] = {0};

// Decoder creation order of SetTypes, which is also the order in which the
// decoders see a line (the last one to accept a value wins).
constexpr int TypeOrder[] = {TYPE_EAN13, TYPE_EAN8, TYPE_UPCE, TYPE_CODE39, TYPE_CODE128};

// An image record that no line can be laid over safely: no pixels behind a
// non-empty size, rows shorter than the image is wide, or a size beyond what
// the line coordinates (plain ints) can address.
bool IsScannable(const Image& image)
{
    if (image.width == 0 || image.height == 0)
        return false;
    if (image.data == nullptr)
        return false;
    if (image.width > static_cast<uint32_t>(INT_MAX) || image.height > static_cast<uint32_t>(INT_MAX))
        return false;
    return static_cast<int64_t>(image.stride) >= static_cast<int64_t>(image.width);
}

} // namespace

Scanner::Scanner()
    : m_image(nullptr)
    , m_spacing(3)
    , m_directionCount(0)
    , m_directions()
    , m_directionIndex(0)
{
    SetMode(true);
    m_decoderSet.SetTypes({TYPE_EAN13, TYPE_EAN8, TYPE_UPCE, TYPE_CODE39});
}

// Members go in reverse order: the decoders, the pixel line, the filter and
// its buffers, then the line sets.
Scanner::~Scanner() = default;

void Scanner::SetMode(bool omniDirectional)
{
    const int* list = omniDirectional ? OmniDirections : HorizontalDirections;
    const unsigned count = omniDirectional ? 6u : 1u;
    for (unsigned k = 0; k < count; ++k)
        m_directions[k] = DirectionTable[list[k]];
    m_directionCount = count;
    if (m_image != nullptr)
        BuildLines();
}

void Scanner::SetTypes(int mask)
{
    std::vector<int> types;
    for (int type : TypeOrder) {
        if (mask & type)
            types.push_back(type);
    }
    m_decoderSet.SetTypes(std::move(types));
}

Result Scanner::Scan(const Image* image)
{
    bool stopped = false;
    return Scan(image, nullptr, stopped);
}

Result Scanner::Scan(const Image* image, const std::function<bool()>& stop, bool& stopped)
{
    Result result;
    stopped = false;
    if (image == nullptr || !IsScannable(*image))
        return result;

    m_image = image;
    BuildLines();
    m_decoderSet.Reset();
    while (!(stop && (stopped = stop())) && NextLine(m_pixelLine)) {
        const RunLine* runs = m_filter.Process(m_pixelLine.m_data, m_pixelLine.m_length);
        if (m_decoderSet.Decode(*runs, result))
            break;
    }
    m_image = nullptr;
    // What the lines so far gave counts for nothing: the picture was not
    // read to the end.
    return stopped ? Result() : result;
}

} // namespace barcode
