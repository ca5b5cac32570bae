#include "image_decoding.h"

#include <wx/file.h>
#include <wx/mstream.h>
#include <wx/stream.h>
#include <wx/wfstream.h>
#include <wx/xpmdecod.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#ifdef __WXGTK__
#include <gdk-pixbuf/gdk-pixbuf.h>
#endif

namespace {

// What the header of a file says, before anything is decoded.
struct Header {
    wxBitmapType type = wxBITMAP_TYPE_INVALID; // of the toolkit's handler that reads it
    // Pixels; for a GIF, the canvas with the first frame on it; for an icon
    // file or an animated cursor, its largest picture.
    uint64_t width = 0;
    uint64_t height = 0;
    // GIF: where the first frame ends, or -1 when the file ends before it
    // (then all there is is decoded). Only the first frame is decoded, so
    // that further frames cost nothing.
    wxFileOffset firstFrameEnd = -1;
    // ANI: the icon file, within the file, that the first step shows; only
    // that one is decoded.
    wxFileOffset iconStart = 0;
    uint64_t iconSize = 0;
};

// Reads a file front to back in pieces, with a few steps back and forth for
// the TIFF directory and the pictures of an icon file. Past the end it reads
// zeros and says so.
class FileBytes {
public:
    explicit FileBytes(wxFile& file)
        : m_file(file), m_size(std::max<wxFileOffset>(file.Length(), 0))
    {
    }

    bool Ok() const { return m_ok; }
    void Rewind()
    {
        m_offset = 0;
        m_ok = true;
    }
    wxFileOffset Offset() const { return m_offset; }
    void Seek(wxFileOffset offset) { m_offset = offset < 0 ? m_size : offset; }
    void Skip(uint64_t count)
    {
        m_offset += static_cast<wxFileOffset>(std::min<uint64_t>(count, m_size));
    }

    unsigned U8()
    {
        if (m_offset < m_start || m_offset >= m_start + m_filled) {
            m_start = m_offset;
            m_filled = 0;
            if (m_offset < m_size && m_file.Seek(m_offset) != wxInvalidOffset) {
                const ssize_t read = m_file.Read(m_buffer, sizeof m_buffer);
                m_filled = read > 0 ? read : 0;
            }
            if (m_filled == 0) {
                m_ok = false;
                return 0;
            }
        }
        return m_buffer[m_offset++ - m_start];
    }
    uint64_t Little(int bytes)
    {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<uint64_t>(U8()) << (8 * i);
        return value;
    }
    uint64_t Big(int bytes)
    {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value = value << 8 | U8();
        return value;
    }
    unsigned Peek()
    {
        const wxFileOffset at = m_offset;
        const unsigned value = U8();
        m_offset = at;
        return value;
    }
    // Whether the bytes from here on are these.
    bool Matches(const char* signature, size_t length)
    {
        for (size_t i = 0; i < length; ++i) {
            if (U8() != static_cast<unsigned char>(signature[i]))
                return false;
        }
        return m_ok;
    }
    bool Starts(const char* signature, size_t length)
    {
        Rewind();
        return Matches(signature, length);
    }

private:
    wxFile& m_file;
    wxFileOffset m_size;
    wxFileOffset m_offset = 0;
    wxFileOffset m_start = 0; // file offset of m_buffer[0]
    wxFileOffset m_filled = 0;
    bool m_ok = true;
    unsigned char m_buffer[65536];
};

// The canvas, then the first image's own extent, which GTK's decoder lets
// grow the canvas.
bool ReadGif(FileBytes& bytes, Header* header)
{
    if (!bytes.Starts("GIF8", 4))
        return false;
    bytes.Seek(6);
    header->width = bytes.Little(2);
    header->height = bytes.Little(2);
    const unsigned flags = bytes.U8();
    bytes.Skip(2);
    if (flags & 0x80)
        bytes.Skip(3u << ((flags & 7) + 1)); // global colour table
    while (bytes.Ok()) {
        const unsigned block = bytes.U8();
        if (block == 0x21) { // extension: label, then sub-blocks
            bytes.U8();
            for (unsigned size = bytes.U8(); size != 0 && bytes.Ok(); size = bytes.U8())
                bytes.Skip(size);
        } else if (block == 0x2c) {
            const uint64_t left = bytes.Little(2), top = bytes.Little(2);
            header->width = std::max(header->width, left + bytes.Little(2));
            header->height = std::max(header->height, top + bytes.Little(2));
            const unsigned local = bytes.U8();
            if (local & 0x80)
                bytes.Skip(3u << ((local & 7) + 1));
            bytes.U8(); // the code size
            for (unsigned size = bytes.U8(); size != 0 && bytes.Ok(); size = bytes.U8())
                bytes.Skip(size);
            if (bytes.Ok())
                header->firstFrameEnd = bytes.Offset();
            break;
        } else {
            break; // the trailer, or damage: the decoder has its say
        }
    }
    return true;
}

bool IsStartOfFrame(unsigned marker)
{
    // SOF0 to SOF15 but DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 &&
           marker != 0xcc;
}

bool ReadJpeg(FileBytes& bytes, Header* header)
{
    if (!bytes.Starts("\xff\xd8", 2))
        return false;
    while (bytes.Ok()) {
        if (bytes.U8() != 0xff)
            return false;
        unsigned marker = bytes.U8();
        while (marker == 0xff && bytes.Ok())
            marker = bytes.U8(); // fill bytes
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7))
            continue; // markers without a segment
        if (marker == 0xd9 || marker == 0xda)
            return false; // no frame header before the data
        const uint64_t length = bytes.Big(2);
        if (IsStartOfFrame(marker)) {
            bytes.U8(); // sample precision
            header->height = bytes.Big(2);
            header->width = bytes.Big(2);
            return bytes.Ok();
        }
        if (length < 2)
            return false;
        bytes.Skip(length - 2);
    }
    return false;
}

// The size in a bitmap's info header, which starts here.
bool ReadDibSize(FileBytes& bytes, Header* header)
{
    const uint64_t infoSize = bytes.Little(4);
    if (infoSize == 12) { // OS/2 1.x: 16-bit sizes
        header->width = bytes.Little(2);
        header->height = bytes.Little(2);
    } else {
        // Signed: a negative height means rows top-down.
        const int64_t width = static_cast<int32_t>(bytes.Little(4));
        const int64_t height = static_cast<int32_t>(bytes.Little(4));
        header->width = static_cast<uint64_t>(width < 0 ? -width : width);
        header->height = static_cast<uint64_t>(height < 0 ? -height : height);
    }
    return bytes.Ok();
}

bool ReadBmp(FileBytes& bytes, Header* header)
{
    if (!bytes.Starts("BM", 2))
        return false;
    bytes.Seek(14);
    return ReadDibSize(bytes, header);
}

constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";

// The IHDR chunk comes first, after the signature at `start`.
bool ReadPngSize(FileBytes& bytes, wxFileOffset start, Header* header)
{
    bytes.Seek(start + 16);
    header->width = bytes.Big(4);
    header->height = bytes.Big(4);
    return bytes.Ok();
}

bool ReadPng(FileBytes& bytes, Header* header)
{
    return bytes.Starts(kPngSignature, 8) && ReadPngSize(bytes, 0, header);
}

// The size in the first image directory: the picture the toolkit reads.
bool ReadTiffDirectory(FileBytes& bytes, bool bigEndian, bool bigTiff, Header* header)
{
    auto number = [&](int size) { return bigEndian ? bytes.Big(size) : bytes.Little(size); };
    constexpr unsigned kImageWidth = 256, kImageLength = 257;
    constexpr unsigned kShort = 3, kLong = 4, kLong8 = 16; // field types
    const int offsetSize = bigTiff ? 8 : 4;
    bytes.Seek(bigTiff ? 8 : 4);
    bytes.Seek(static_cast<wxFileOffset>(number(offsetSize)));
    const uint64_t entries = number(bigTiff ? 8 : 2);
    // Directories are sorted by tag, and the sizes are among the first.
    for (uint64_t i = 0; i < entries && i < 64 && bytes.Ok(); ++i) {
        const unsigned tag = static_cast<unsigned>(number(2));
        const unsigned type = static_cast<unsigned>(number(2));
        number(offsetSize); // count
        const wxFileOffset next = bytes.Offset() + offsetSize;
        const uint64_t value = type == kShort ? number(2) : type == kLong ? number(4)
                               : type == kLong8                       ? number(8)
                                                                      : 0;
        // A size given twice counts with the larger value.
        if (tag == kImageWidth)
            header->width = std::max(header->width, value);
        else if (tag == kImageLength)
            header->height = std::max(header->height, value);
        bytes.Seek(next);
    }
    return bytes.Ok() && header->width > 0 && header->height > 0;
}

bool ReadTiff(FileBytes& bytes, Header* header)
{
    const struct {
        const char* signature;
        bool bigEndian;
        bool bigTiff;
    } tiffs[] = {{"II*\0", false, false}, {"MM\0*", true, false},
                 {"II+\0", false, true},  {"MM\0+", true, true}};
    for (const auto& tiff : tiffs) {
        if (bytes.Starts(tiff.signature, 4))
            return ReadTiffDirectory(bytes, tiff.bigEndian, tiff.bigTiff, header);
    }
    return false;
}

// The toolkit's PNM handler skips a run of comment lines with one nested
// call per line, also when it is only asked whether it reads the file: some
// 60000 of them overflow the stack.
constexpr int kMaxPnmCommentLines = 1000;

// Steps over a line's end: LF, CR or CR LF.
void SkipLine(FileBytes& bytes)
{
    unsigned c = bytes.U8();
    while (bytes.Ok() && c != '\n' && c != '\r')
        c = bytes.U8();
    if (c == '\r' && bytes.Peek() == '\n')
        bytes.U8();
}

bool SkipPnmComments(FileBytes& bytes)
{
    for (int lines = 0; bytes.Peek() == '#'; ++lines) {
        if (lines == kMaxPnmCommentLines)
            return false;
        SkipLine(bytes);
    }
    return true;
}

// A number as the toolkit's text stream reads a word of `bits` bits: blanks
// and line ends first, then the word, its leading digits counting.
uint64_t PnmNumber(FileBytes& bytes, int bits)
{
    unsigned c = bytes.U8();
    while (bytes.Ok() && (c == ' ' || c == '\t' || c == '\n' || c == '\r'))
        c = bytes.U8();
    std::string word;
    for (; bytes.Ok() && c != ' ' && c != '\t' && c != '\n' && c != '\r'; c = bytes.U8()) {
        if (word.size() < 32)
            word += static_cast<char>(c);
    }
    return std::strtoull(word.c_str(), nullptr, 10) & ((uint64_t{1} << bits) - 1);
}

// As the toolkit reads it: comments, "P" and the kind with the rest of its
// line, comments, width and height, comments, the largest sample value.
bool ReadPnm(FileBytes& bytes, Header* header)
{
    if (!SkipPnmComments(bytes) || bytes.U8() != 'P')
        return false;
    SkipLine(bytes);
    if (!SkipPnmComments(bytes))
        return false;
    header->width = PnmNumber(bytes, 32);
    header->height = PnmNumber(bytes, 32);
    if (!SkipPnmComments(bytes))
        return false;
    // The toolkit scales every sample by it, 0 included.
    const uint64_t largest = PnmNumber(bytes, 16);
    return bytes.Ok() && largest > 0;
}

// The picture spans xmin to xmax and ymin to ymax, both ends included.
bool ReadPcx(FileBytes& bytes, Header* header)
{
    bytes.Seek(4);
    const uint64_t xMin = bytes.Little(2), yMin = bytes.Little(2);
    const uint64_t xMax = bytes.Little(2), yMax = bytes.Little(2);
    header->width = xMax + 1 - xMin;
    header->height = yMax + 1 - yMin;
    return bytes.Ok() && xMax >= xMin && yMax >= yMin;
}

bool ReadTga(FileBytes& bytes, Header* header)
{
    bytes.Seek(12);
    header->width = bytes.Little(2);
    header->height = bytes.Little(2);
    return bytes.Ok();
}

// The strings of an XPM file, comments left out: what its decoder takes,
// one line each. At most `count` of them.
std::vector<std::string> XpmStrings(FileBytes& bytes, size_t count)
{
    std::vector<std::string> strings;
    bool comment = false;
    bytes.Rewind();
    for (unsigned previous = 0, c = bytes.U8(); bytes.Ok() && strings.size() < count;
         previous = c, c = bytes.U8()) {
        // Each end of a comment is spent: "/*/" and "*/*" start and end none.
        if (comment && previous == '*' && c == '/') {
            comment = false;
            c = 0;
        } else if (!comment && previous == '/' && c == '*') {
            comment = true;
            c = 0;
        } else if (!comment && c == '"') {
            std::string line;
            for (c = bytes.U8(); bytes.Ok() && c != '"'; c = bytes.U8())
                line += static_cast<char>(c);
            strings.push_back(std::move(line));
        }
    }
    return strings;
}

// The first string holds "width height colours characters-per-pixel".
bool ReadXpm(FileBytes& bytes, Header* header)
{
    const std::vector<std::string> values = XpmStrings(bytes, 1);
    unsigned width = 0, height = 0, colours = 0, characters = 0;
    if (values.empty() ||
        std::sscanf(values[0].c_str(), "%u %u %u %u", &width, &height, &colours, &characters) != 4)
        return false;
    header->width = width;
    header->height = height;
    return true;
}

constexpr uint64_t FourCc(const char (&id)[5])
{
    return uint64_t{static_cast<unsigned char>(id[0])} << 24 |
           uint64_t{static_cast<unsigned char>(id[1])} << 16 |
           uint64_t{static_cast<unsigned char>(id[2])} << 8 | static_cast<unsigned char>(id[3]);
}

// Every picture of the icon file at `start`, the largest counting: the
// toolkit picks one by the directory's one-byte sizes, but decodes it at the
// size of its own header, a PNG's or a bitmap's (twice as high, with the mask).
bool ReadIco(FileBytes& bytes, wxFileOffset start, Header* header)
{
    bytes.Seek(start + 4);
    const uint64_t count = bytes.Little(2);
    std::vector<wxFileOffset> pictures;
    for (uint64_t i = 0; i < count && bytes.Ok(); ++i) {
        bytes.Skip(12);
        pictures.push_back(start + static_cast<wxFileOffset>(bytes.Little(4)));
    }
    std::sort(pictures.begin(), pictures.end()); // read front to back
    for (const wxFileOffset picture : pictures) {
        Header size;
        bytes.Seek(picture);
        if (bytes.Matches(kPngSignature, 8)) {
            ReadPngSize(bytes, picture, &size);
        } else {
            bytes.Seek(picture);
            ReadDibSize(bytes, &size);
            size.height /= 2;
        }
        // Sizes have 32 bits: the products fit.
        if (size.width * size.height >= header->width * header->height) {
            header->width = size.width;
            header->height = size.height;
        }
    }
    return bytes.Ok() && count > 0;
}

// A RIFF file of chunks, some in LIST chunks; each "icon" chunk holds an
// icon file. The first step shows the icon that the "seq " chunk names
// first, or else the first icon. Every icon counts for the size.
bool ReadAni(FileBytes& bytes, Header* header)
{
    std::vector<wxFileOffset> icons;
    std::vector<uint64_t> sizes;
    uint64_t shown = 0;
    bytes.Seek(12); // "RIFF", its size, "ACON"
    while (bytes.Ok()) {
        const uint64_t id = bytes.Big(4);
        const uint64_t size = bytes.Little(4);
        const wxFileOffset data = bytes.Offset();
        if (id == FourCc("LIST")) {
            bytes.Skip(4); // its kind; its chunks follow
            continue;
        }
        if (id == FourCc("icon")) {
            icons.push_back(data);
            sizes.push_back(size);
        } else if (id == FourCc("seq ") && size >= 4) {
            shown = bytes.Little(4);
        }
        bytes.Seek(data + static_cast<wxFileOffset>(size + (size & 1)));
    }
    if (shown >= icons.size())
        return false;
    header->iconStart = icons[shown];
    header->iconSize = sizes[shown];
    bytes.Rewind(); // from the end of the file
    bool readable = true;
    for (const wxFileOffset icon : icons)
        readable = ReadIco(bytes, icon, header) && readable;
    return readable;
}

// An ILBM picture's chunks up to its body, as the toolkit walks them.
bool ReadIff(FileBytes& bytes, Header* header)
{
    // The toolkit unpacks the body at one bit a pixel for each plane before
    // it looks at their number; ILBM pictures have 1 to 8, 24 or 32.
    constexpr uint64_t kMaxPlanes = 32;
    uint64_t planes = 0, colours = 0, transparent = 0;
    bool bitmapHeader = false;
    bytes.Seek(12); // "FORM", its size, "ILBM"
    while (bytes.Ok()) {
        const uint64_t id = bytes.Big(4);
        const uint64_t size = (bytes.Big(4) + 1) & ~uint64_t{1};
        const wxFileOffset data = bytes.Offset();
        if (id == FourCc("BMHD")) {
            header->width = bytes.Big(2);
            header->height = bytes.Big(2);
            bytes.Skip(4); // the position
            planes = bytes.U8();
            bytes.Skip(3); // masking, compression, padding
            transparent = bytes.Big(2);
            bitmapHeader = true;
        } else if (id == FourCc("CMAP")) {
            colours = size / 3;
        } else if (id == FourCc("BODY")) {
            // The toolkit writes the transparent colour's entry of the
            // colour map whether or not the picture is masked, whatever its
            // number; and reads a 24-plane picture's missing map through a
            // null pointer. So the map must be there and hold that colour.
            return bytes.Ok() && bitmapHeader && planes <= kMaxPlanes && transparent < colours;
        }
        bytes.Seek(data + static_cast<wxFileOffset>(size));
    }
    return false;
}

// The size of a file in the format of the handler that claims it, where
// that format's header is there.
bool ReadHeader(FileBytes& bytes, Header* header)
{
    bytes.Rewind();
    switch (header->type) {
    case wxBITMAP_TYPE_BMP: return ReadBmp(bytes, header);
    case wxBITMAP_TYPE_PNG: return ReadPng(bytes, header);
    case wxBITMAP_TYPE_JPEG: return ReadJpeg(bytes, header);
    case wxBITMAP_TYPE_TIFF: return ReadTiff(bytes, header);
    case wxBITMAP_TYPE_GIF: return ReadGif(bytes, header);
    case wxBITMAP_TYPE_PNM: return ReadPnm(bytes, header);
    case wxBITMAP_TYPE_PCX: return ReadPcx(bytes, header);
    case wxBITMAP_TYPE_IFF: return ReadIff(bytes, header);
    case wxBITMAP_TYPE_ICO:
    case wxBITMAP_TYPE_CUR: return ReadIco(bytes, 0, header);
    case wxBITMAP_TYPE_ANI: return ReadAni(bytes, header);
    case wxBITMAP_TYPE_TGA: return ReadTga(bytes, header);
    case wxBITMAP_TYPE_XPM: return ReadXpm(bytes, header);
    default: return false; // a handler whose sizes go unread is not used
    }
}

bool WithinBudget(const Header& header)
{
    return header.width > 0 && header.height > 0 && header.width <= kLongestSide &&
           header.height <= kLongestSide && header.width * header.height <= kPixelBudget;
}

// The picture's memory, made once here, tells whether the decoder will get
// it: the toolkit's BMP decoder asserts when it does not. The decoders
// check their other blocks themselves.
bool PictureFitsInMemory(const Header& header)
{
    wxImage probe;
    return probe.Create(static_cast<int>(header.width), static_cast<int>(header.height), false);
}

// A pixel over white paper: alpha 255 keeps the colour, 0 gives white.
unsigned char OverWhite(unsigned colour, unsigned alpha)
{
    return static_cast<unsigned char>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Puts transparent parts on white, as GIF pictures come out of LoadGif.
void FlattenOntoWhite(wxImage& image)
{
    const size_t pixels = static_cast<size_t>(image.GetWidth()) * image.GetHeight();
    unsigned char* rgb = image.GetData();
    if (image.HasAlpha()) {
        const unsigned char* alpha = image.GetAlpha();
        for (size_t i = 0; i < pixels; ++i, rgb += 3) {
            for (int c = 0; c < 3; ++c)
                rgb[c] = OverWhite(rgb[c], alpha[i]);
        }
        image.ClearAlpha();
    } else if (image.HasMask()) {
        // The mask colour is one that no visible pixel has.
        const unsigned char mask[3] = {image.GetMaskRed(), image.GetMaskGreen(),
                                       image.GetMaskBlue()};
        for (size_t i = 0; i < pixels; ++i, rgb += 3) {
            if (std::memcmp(rgb, mask, 3) == 0)
                std::memset(rgb, 255, 3);
        }
        image.SetMask(false);
    }
}

#ifdef __WXGTK__

bool LoadGif(wxImage& image, wxFile& file, wxFileOffset firstFrameEnd)
{
    // The loader takes the file in pieces; it keeps what it has decoded
    // when a later piece is damaged.
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("gif", nullptr);
    if (!loader)
        return false;
    unsigned char buffer[65536];
    bool reading = file.Seek(0) != wxInvalidOffset;
    const bool whole = firstFrameEnd < 0;
    for (wxFileOffset left = whole ? file.Length() : firstFrameEnd; reading && left > 0;) {
        const ssize_t count =
            file.Read(buffer, static_cast<size_t>(std::min<wxFileOffset>(left, sizeof buffer)));
        if (count <= 0)
            break;
        left -= count;
        reading = gdk_pixbuf_loader_write(loader, buffer, count, nullptr);
    }
    // Cut after the first frame, the file gets its trailer.
    const guchar trailer = 0x3b;
    if (reading && !whole)
        reading = gdk_pixbuf_loader_write(loader, &trailer, 1, nullptr);
    // A failed write has closed the loader already. Closing ends the
    // decoding; an incomplete file is reported there too.
    if (reading)
        gdk_pixbuf_loader_close(loader, nullptr);

    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    bool usable = pixbuf && gdk_pixbuf_get_colorspace(pixbuf) == GDK_COLORSPACE_RGB &&
                  gdk_pixbuf_get_bits_per_sample(pixbuf) == 8 &&
                  gdk_pixbuf_get_n_channels(pixbuf) >= 3 && gdk_pixbuf_get_width(pixbuf) > 0 &&
                  gdk_pixbuf_get_height(pixbuf) > 0;
    if (usable) {
        const int width = gdk_pixbuf_get_width(pixbuf);
        const int height = gdk_pixbuf_get_height(pixbuf);
        const int channels = gdk_pixbuf_get_n_channels(pixbuf);
        const int rowStride = gdk_pixbuf_get_rowstride(pixbuf);
        const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf) && channels == 4;
        const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
        usable = image.Create(width, height, false);
        unsigned char* out = usable ? image.GetData() : nullptr;
        for (int y = 0; usable && y < height; ++y) {
            const guchar* in = pixels + static_cast<size_t>(y) * rowStride;
            for (int x = 0; x < width; ++x, in += channels, out += 3) {
                const unsigned a = alpha ? in[3] : 255;
                out[0] = OverWhite(in[0], a);
                out[1] = OverWhite(in[1], a);
                out[2] = OverWhite(in[2], a);
            }
        }
    }
    g_object_unref(loader);
    return usable;
}

#endif

// The toolkit's XPM handler copies each string of the file within one
// buffer with strncpy, overlapping, which is undefined (AddressSanitizer
// stops at any picture wider than the text before its first string): its
// decoder gets the strings instead.
bool LoadXpm(wxImage& image, FileBytes& bytes)
{
    const std::vector<std::string> strings = XpmStrings(bytes, std::string::npos);
    std::vector<const char*> lines;
    for (const std::string& line : strings)
        lines.push_back(line.c_str());
    lines.push_back(nullptr);
    wxXPMDecoder decoder;
    image = decoder.ReadData(lines.data());
    return image.IsOk();
}

// The toolkit's ANI handler decodes every icon and then indexes them by the
// steps unchecked: a file without icons, or whose steps name icons it does
// not have, makes it read through wild pointers. The icon that the first
// step shows, which is what it gives, goes to the ICO or CUR handler instead.
bool LoadAniIcon(wxImage& image, wxFile& file, const Header& header)
{
    const wxFileOffset left = std::max<wxFileOffset>(file.Length() - header.iconStart, 0);
    std::vector<char> icon(static_cast<size_t>(std::min<uint64_t>(header.iconSize, left)));
    if (file.Seek(header.iconStart) == wxInvalidOffset ||
        file.Read(icon.data(), icon.size()) != static_cast<ssize_t>(icon.size()))
        return false;
    // Animated cursors mostly hold cursor files (kind 2), which the ICO
    // handler does not claim.
    const bool cursor = icon.size() > 2 && icon[2] == 2;
    wxMemoryInputStream stream(icon.data(), icon.size());
    return image.LoadFile(stream, cursor ? wxBITMAP_TYPE_CUR : wxBITMAP_TYPE_ICO, -1);
}

bool Decode(wxImage& image, wxFile& file, FileBytes& bytes, const Header& header)
{
#ifdef __WXGTK__
    if (header.type == wxBITMAP_TYPE_GIF)
        return LoadGif(image, file, header.firstFrameEnd);
#endif
    bool loaded = false;
    if (header.type == wxBITMAP_TYPE_XPM) {
        loaded = LoadXpm(image, bytes);
    } else if (header.type == wxBITMAP_TYPE_ANI) {
        loaded = LoadAniIcon(image, file, header);
    } else if (file.Seek(0) != wxInvalidOffset) {
        wxFileInputStream stream(file);
        wxBufferedInputStream buffered(stream);
        loaded = image.LoadFile(buffered, header.type, -1);
    }
    // A handler may say that it read the file and leave no picture.
    loaded = loaded && image.IsOk();
    if (loaded)
        FlattenOntoWhite(image);
    return loaded;
}

// Whether the handler says it reads the file, as the toolkit asks it when
// the type is left open.
bool Claims(wxImageHandler& handler, wxFile& file)
{
    if (file.Seek(0) == wxInvalidOffset)
        return false;
    wxFileInputStream stream(file);
    wxBufferedInputStream buffered(stream);
    return handler.CanRead(buffered);
}

} // namespace

bool DecodeImageFile(wxImage& image, wxFile& file)
{
    image.Destroy();
    FileBytes bytes(file);
    const wxList& handlers = wxImage::GetHandlers();
    for (wxList::compatibility_iterator node = handlers.GetFirst(); node; node = node->GetNext()) {
        wxImageHandler& handler = *static_cast<wxImageHandler*>(node->GetData());
        Header header;
        header.type = handler.GetType();
        if (header.type == wxBITMAP_TYPE_PNM) {
            bytes.Rewind();
            if (!SkipPnmComments(bytes))
                continue;
        }
        if (!Claims(handler, file) || !ReadHeader(bytes, &header))
            continue;
        if (!WithinBudget(header) || !PictureFitsInMemory(header))
            return false;
        if (Decode(image, file, bytes, header))
            return true;
    }
    return false;
}
