#include "image_files.h"

#include <zlib.h>

#include <algorithm>
#include <array>

std::string Number(uint64_t value, int bytes, bool bigEndian)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> 8 * (bigEndian ? bytes - 1 - i : i));
    return out;
}
namespace {

std::string DeflatedZeros(size_t count)
{
    uLongf size = compressBound(count);
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size,
              reinterpret_cast<const Bytef*>(std::string(count, '\0').data()), count, 9);
    return out.substr(0, size);
}

// A PNG chunk whose length field may claim more than it holds.
std::string PngChunk(const std::string& type, const std::string& data, uint32_t length)
{
    const std::string both = type + data;
    return Number(length, 4, true) + both +
           Number(crc32(0, reinterpret_cast<const Bytef*>(both.data()), both.size()), 4, true);
}
std::string PngChunk(const std::string& type, const std::string& data)
{
    return PngChunk(type, data, static_cast<uint32_t>(data.size()));
}
const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);
// One bit a pixel.
std::string PngHeader(uint32_t width, uint32_t height)
{
    return PngChunk("IHDR", Number(width, 4, true) + Number(height, 4, true) +
                                std::string("\x01\0\0\0\0", 5));
}

// A JPEG's quantisation table and frame header; a scan header without
// data, and the end.
const std::string kQuantisationTable = std::string("\xff\xdb\0\x43\0", 5) + std::string(64, '\x01');
std::string FrameHeader(uint32_t width, uint32_t height)
{
    return std::string("\xff\xc0\0\x0b\x08", 5) + Number(height, 2, true) +
           Number(width, 2, true) + std::string("\x01\x01\x11\0", 4);
}
const std::string kScanAndEnd("\xff\xda\0\x08\x01\x01\0\0\x3f\0\xff\xd9", 12);

// A TIFF of one directory of single-valued entries (tag, type, value;
// types 3 short, 4 long, 8 signed short, 9 signed long), with `strip`
// after it, whose offset tag 273 gets.
std::string TiffFile(const std::vector<std::array<uint32_t, 3>>& entries, const std::string& strip)
{
    const uint32_t stripOffset = static_cast<uint32_t>(8 + 2 + 12 * entries.size() + 4);
    std::string tiff = "II" + Number(42, 2) + Number(8, 4) + Number(entries.size(), 2);
    for (const auto& e : entries)
        tiff += Number(e[0], 2) + Number(e[1], 2) + Number(1, 4) +
                Number(e[0] == 273 ? stripOffset : e[2], 4);
    return tiff + Number(0, 4) + strip;
}

// Version 5, run-length coded, planes of 8 bits; no data.
std::string PcxFile(uint32_t width, uint32_t height, int planes, uint32_t bytesPerLine)
{
    std::string pcx = std::string("\x0a\x05\x01\x08", 4) + Number(0, 4) + Number(width - 1, 2) +
                      Number(height - 1, 2);
    pcx.resize(65, '\0');
    pcx += static_cast<char>(planes) + Number(bytesPerLine, 2);
    pcx.resize(128, '\0');
    return pcx;
}

// A TGA header: colour map type and image type, the colour map's first
// entry, length and entry bits, the size, bits a pixel; rows top-down.
std::string TgaHeader(int mapType, int imageType, uint32_t firstColour, uint32_t colours,
                      int colourBits, uint32_t width, uint32_t height, int pixelBits)
{
    return std::string(1, '\0') + static_cast<char>(mapType) + static_cast<char>(imageType) +
           Number(firstColour, 2) + Number(colours, 2) + static_cast<char>(colourBits) +
           Number(0, 4) + Number(width, 2) + Number(height, 2) + static_cast<char>(pixelBits) +
           '\x20';
}

// A chunk of an IFF (big-endian) or RIFF file, padded to an even length.
std::string Chunk(const std::string& id, const std::string& data, bool bigEndian)
{
    return id + Number(data.size(), 4, bigEndian) + data + std::string(data.size() % 2, '\0');
}

// A bitmap without its file header: run-length coded, two colours; the
// data ends the picture at once.
std::string DibOf(uint32_t width, uint32_t height)
{
    return Number(40, 4) + Number(width, 4) + Number(height, 4) + Number(1, 2) + Number(8, 2) +
           Number(1, 4) + Number(2, 4) + Number(2835, 4) + Number(2835, 4) + Number(2, 4) +
           Number(0, 4) + std::string("\0\0\0\0\xff\xff\xff\0\0\x01", 10);
}

// An icon file (kind 1) or cursor file (kind 2) of one picture.
std::string IconFile(int kind, const std::string& picture)
{
    return Number(0, 2) + Number(kind, 2) + Number(1, 2) + std::string(4, '\0') + Number(1, 2) +
           Number(8, 2) + Number(picture.size(), 4) + Number(22, 4) + picture;
}

} // namespace

std::string GifOf(uint32_t width, uint32_t height)
{
    // Two colours; a few codes of data.
    const std::string size = Number(width, 2) + Number(height, 2);
    return "GIF89a" + size + std::string("\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0", 14) + size +
           std::string("\0\x02\x02\x4c\x01\0;", 7);
}
std::string PngOf(uint32_t width, uint32_t height)
{
    // Each row its filter byte and zeros.
    return kPngSignature + PngHeader(width, height) +
           PngChunk("IDAT", DeflatedZeros((1 + (width + 7) / 8) * size_t{height})) +
           PngChunk("IEND", "");
}
std::string JpegOf(uint32_t width, uint32_t height)
{
    return "\xff\xd8" + kQuantisationTable + FrameHeader(width, height) + kScanAndEnd;
}
std::string BmpOf(uint32_t width, uint32_t height)
{
    return "BM" + Number(64, 4) + Number(0, 4) + Number(62, 4) + DibOf(width, height);
}
std::string TiffOf(uint32_t width, uint32_t height)
{
    // One bit a pixel in one deflated strip: the sizes, one bit, deflate,
    // black is zero, where the strip is, one sample, all rows in it, its
    // length.
    const std::string strip = DeflatedZeros((width + 7) / 8 * size_t{height});
    return TiffFile({{256, 4, width}, {257, 4, height}, {258, 3, 1}, {259, 3, 8}, {262, 3, 1},
                     {273, 4, 0}, {277, 3, 1}, {278, 4, height},
                     {279, 4, static_cast<uint32_t>(strip.size())}},
                    strip);
}

std::string PnmOf(uint32_t width, uint32_t height)
{
    // Raw RGB; the data ends after a few samples.
    return "P6\n# a comment\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" +
           std::string(12, '\0');
}
std::string PcxOf(uint32_t width, uint32_t height)
{
    return PcxFile(width, height, 3, width);
}
std::string TgaOf(uint32_t width, uint32_t height)
{
    // Uncompressed 24-bit rows; the data ends after a few pixels.
    return TgaHeader(0, 2, 0, 0, 0, width, height, 24) + std::string(12, '\0');
}
std::string IffFile(uint32_t width, uint32_t height, const std::string& colours, int planes,
                    int compression, int transparent, const std::string& body)
{
    auto chunk = [](const std::string& id, const std::string& data) {
        return Chunk(id, data, true);
    };
    const std::string size = Number(width, 2, true) + Number(height, 2, true);
    const std::string bitmapHeader = size + std::string(4, '\0') + static_cast<char>(planes) +
                                     '\0' + static_cast<char>(compression) + '\0' +
                                     Number(transparent, 2, true) + "\x0a\x0b" + size;
    const std::string form = "ILBM" + chunk("BMHD", bitmapHeader) +
                             (colours.empty() ? std::string() : chunk("CMAP", colours)) +
                             chunk("BODY", body);
    return "FORM" + Number(form.size(), 4, true) + form;
}
const std::string kWhiteBlack("\xff\xff\xff\0\0\0", 6);
std::string IffOf(uint32_t width, uint32_t height)
{
    // One plane; four runs of 128 zero bytes.
    std::string runs;
    for (int i = 0; i < 4; ++i)
        runs += std::string("\x81\0", 2);
    return IffFile(width, height, kWhiteBlack, 1, 1, 0, runs);
}
std::string IcoOf(uint32_t width, uint32_t height)
{
    // A bitmap twice as high, with the mask, which is cut off after 4 KB:
    // whole for a small picture.
    const size_t mask = std::min<size_t>((width + 31) / 32 * 4 * size_t{height}, 4096);
    return IconFile(1, DibOf(width, 2 * height) + std::string(mask, '\0'));
}
std::string CurOf(uint32_t width, uint32_t height)
{
    return IconFile(2, PngOf(width, height));
}
std::string AniFile(const std::vector<std::string>& icons, uint32_t steps,
                    const std::vector<uint32_t>& sequence)
{
    auto chunk = [](const std::string& id, const std::string& data) {
        return Chunk(id, data, false);
    };
    // Its size, frames, steps, four fields left 0, the rate, "frames are icons".
    std::string body = "ACON" + chunk("anih", Number(36, 4) + Number(icons.size(), 4) +
                                                  Number(steps, 4) + std::string(16, '\0') +
                                                  Number(10, 4) + Number(1, 4));
    if (!sequence.empty()) {
        std::string seq;
        for (uint32_t icon : sequence)
            seq += Number(icon, 4);
        body += chunk("seq ", seq);
    }
    std::string frames = "fram";
    for (const std::string& icon : icons)
        frames += chunk("icon", icon);
    body += chunk("LIST", frames);
    return "RIFF" + Number(body.size(), 4) + body;
}
std::string AniOf(uint32_t width, uint32_t height)
{
    return AniFile({IcoOf(width, height)}, 1);
}

const PictureMaker kMakers[12] = {
    {"gif", GifOf}, {"png", PngOf}, {"jpg", JpegOf}, {"bmp", BmpOf}, {"tif", TiffOf},
    {"pnm", PnmOf}, {"pcx", PcxOf}, {"tga", TgaOf}, {"iff", IffOf}, {"ico", IcoOf},
    {"cur", CurOf}, {"ani", AniOf},
};


std::vector<HostileFile> HostileFiles()
{
    // The toolkit's JPEG reader takes FF 00 for padding, a header reader
    // may take it for a segment: one that covers the true frame header,
    // 26000 × 26000, and ends at a small one, which the toolkit's reader
    // takes for an application segment's data.
    const std::string smallFrame = FrameHeader(16, 16);
    const std::string hidden = kQuantisationTable + FrameHeader(26000, 26000);
    const std::string jpeg = "\xff\xd8\xff" + std::string(1, '\0') +
                             Number(2 + hidden.size() + 4, 2, true) + hidden + "\xff\xe0" +
                             Number(2 + smallFrame.size(), 2, true) + smallFrame + kScanAndEnd;

    // Rows of the longest side a picture may have, whose decoder measures
    // the rest of the row again for every pixel: a second or so a row.
    const uint32_t xpmWidth = 65536, xpmHeight = 512;
    std::string xpmRow = "\"";
    for (uint32_t i = 0; i < xpmWidth / 2; ++i)
        xpmRow += "ab";
    xpmRow += "\",\n";
    std::string xpm = "/* XPM */\nstatic char *rows[] = {\n\"" + std::to_string(xpmWidth) + " " +
                      std::to_string(xpmHeight) + " 2 1\",\n\"a c #000000\",\n\"b c #ffffff\",\n";
    for (uint32_t y = 0; y < xpmHeight; ++y)
        xpm += xpmRow;
    xpm += "};\n";

    const std::string strip = DeflatedZeros(32);
    std::string runs; // runs of 65 zero bytes
    for (int i = 0; i < 200; ++i)
        runs += std::string("\xc1\0", 2);
    return {
        // A colour map whose first entry lies past its length: the decoder
        // writes the map's entries past its buffer.
        {"colour-map-past-its-end.tga",
         TgaHeader(1, 1, 200, 1, 24, 4, 4, 8) + std::string(185, '\0')},
        // Colour-mapped pixels without a colour map: a null map is read.
        {"mapped-without-map.tga", TgaHeader(0, 1, 0, 1, 24, 1, 1, 8) + std::string(1, '\0')},
        // A NUL ends a word for the toolkit's text reader, not for a header
        // reader: the toolkit takes 65536, which is 0 in 16 bits, for the
        // largest sample, and divides by it.
        {"nul-in-header.pnm", std::string("P5\n1\0" "1 65536 1\n\0", 16)},
        // No bit planes: a division by zero.
        {"zero-planes.iff", IffFile(16, 2, kWhiteBlack, 0, 0, 0, std::string(8, '\0'))},
        // No bytes a line: the rows come from the heap past the buffer.
        {"zero-bytes-per-line.pcx", PcxFile(64, 48, 3, 0) + runs},
        {"ff00-hides-frame.jpg", jpeg},
        // The toolkit's TIFF reader takes the signed sizes, which come first:
        // 23000 × 23000 pixels; the unsigned ones after them say 16 × 16.
        {"signed-sizes-first.tif",
         TiffFile({{256, 9, 23000}, {257, 8, 23000}, {256, 4, 16}, {257, 4, 16}, {258, 3, 1},
                   {259, 3, 8}, {262, 3, 1}, {273, 4, 0}, {277, 3, 1}, {278, 4, 0xffffffff},
                   {279, 4, static_cast<uint32_t>(strip.size())}},
                  strip)},
        // A text chunk that claims 2 GB, which the PNG library allocates
        // and fills with zeros before it reads any of it.
        {"2gb-text-chunk.png", kPngSignature + PngHeader(16, 16) +
                                   PngChunk("tEXt", std::string("Comment\0hello", 13), 0x7fffffff)},
        {"decodes-for-minutes.xpm", xpm},
        // 16384 × 16384 pixels, within the budget, read a byte at a time
        // from a file that has ended: about as long as a decoder may take.
        {"largest-read-past-its-end.pcx", PcxFile(16384, 16384, 3, 16384)},
        // Within the budget, but GTK's image library needs more than the
        // decoder's memory for it, and its allocator ends the program
        // instead of failing.
        {"near-the-budget.gif", GifOf(16384, 16384)},
    };
}
