#include "image_loading.h"

#include <wx/file.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/stream.h>
#include <wx/wfstream.h>

#include <algorithm>
#include <cstring>

#include "regular_file.h"

#ifdef __WXGTK__
#include <gdk-pixbuf/gdk-pixbuf.h>
#endif

namespace {

enum class Format { kUnknown, kBmp, kGif, kJpeg, kPng, kTiff };

// What the header of a file says, before anything is decoded.
struct Header {
    Format format = Format::kUnknown;
    uint64_t width = 0; // pixels; for a GIF, the canvas with the first frame on it
    uint64_t height = 0;
    // GIF: where the first frame ends, or -1 when the file ends before it
    // (then all there is is decoded). Only the first frame is decoded, so
    // that further frames cost nothing.
    wxFileOffset firstFrameEnd = -1;
};

// Reads a file front to back in pieces, with a few steps back and forth for
// the TIFF directory. Past the end it reads zeros and says so.
class FileBytes {
public:
    explicit FileBytes(wxFile& file)
        : m_file(file), m_size(std::max<wxFileOffset>(file.Length(), 0))
    {
    }

    bool Ok() const { return m_ok; }
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
    bool Starts(const char* signature, size_t length)
    {
        Seek(0);
        m_ok = true;
        for (size_t i = 0; i < length; ++i) {
            if (U8() != static_cast<unsigned char>(signature[i]))
                return false;
        }
        return m_ok;
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
    bytes.Seek(2);
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

bool ReadBmp(FileBytes& bytes, Header* header)
{
    bytes.Seek(14);
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

// The size in the first image directory: the picture the toolkit reads.
bool ReadTiff(FileBytes& bytes, bool bigEndian, bool bigTiff, Header* header)
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

bool ReadHeader(wxFile& file, Header* header)
{
    FileBytes bytes(file);
    if (bytes.Starts("\x89PNG\r\n\x1a\n", 8)) {
        header->format = Format::kPng;
        bytes.Seek(16); // the IHDR chunk comes first
        header->width = bytes.Big(4);
        header->height = bytes.Big(4);
        return bytes.Ok();
    }
    if (bytes.Starts("GIF8", 4)) {
        header->format = Format::kGif;
        return ReadGif(bytes, header);
    }
    if (bytes.Starts("\xff\xd8", 2)) {
        header->format = Format::kJpeg;
        return ReadJpeg(bytes, header);
    }
    if (bytes.Starts("BM", 2)) {
        header->format = Format::kBmp;
        return ReadBmp(bytes, header);
    }
    const struct {
        const char* signature;
        bool bigEndian;
        bool bigTiff;
    } tiffs[] = {{"II*\0", false, false}, {"MM\0*", true, false},
                 {"II+\0", false, true},  {"MM\0+", true, true}};
    for (const auto& tiff : tiffs) {
        if (bytes.Starts(tiff.signature, 4)) {
            header->format = Format::kTiff;
            return ReadTiff(bytes, tiff.bigEndian, tiff.bigTiff, header);
        }
    }
    return false;
}

bool WithinBudget(const Header& header)
{
    return header.width > 0 && header.height > 0 && header.width <= kPixelBudget &&
           header.height <= kPixelBudget && header.width * header.height <= kPixelBudget;
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

wxBitmapType ToolkitType(Format format)
{
    switch (format) {
    case Format::kBmp: return wxBITMAP_TYPE_BMP;
    case Format::kGif: return wxBITMAP_TYPE_GIF;
    case Format::kJpeg: return wxBITMAP_TYPE_JPEG;
    case Format::kPng: return wxBITMAP_TYPE_PNG;
    case Format::kTiff: return wxBITMAP_TYPE_TIF;
    case Format::kUnknown: break;
    }
    return wxBITMAP_TYPE_INVALID;
}

bool Decode(wxImage& image, wxFile& file, const Header& header)
{
#ifdef __WXGTK__
    if (header.format == Format::kGif)
        return LoadGif(image, file, header.firstFrameEnd);
#endif
    if (file.Seek(0) == wxInvalidOffset)
        return false;
    wxFileInputStream stream(file);
    wxBufferedInputStream buffered(stream);
    if (!image.LoadFile(buffered, ToolkitType(header.format), -1))
        return false;
    FlattenOntoWhite(image);
    return true;
}

} // namespace

bool LoadImageFile(wxImage& image, const wxString& path)
{
    image.Destroy();
    wxFile file(OpenRegularFile(path.fn_str()));
    Header header;
    const bool loaded = file.IsOpened() && ReadHeader(file, &header) && WithinBudget(header) &&
                        PictureFitsInMemory(header) && Decode(image, file, header);
    if (!loaded) {
        image.Destroy();
        // The message the toolkit gives for any image file it cannot load.
        wxLogError(_("Failed to load image from file \"%s\"."), path);
    }
    return loaded;
}
