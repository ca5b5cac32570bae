#include "image_loading.h"

#include <wx/ffile.h>

#ifdef __WXGTK__
#include <gdk-pixbuf/gdk-pixbuf.h>
#endif

namespace {

#ifdef __WXGTK__

// What the toolkit's GIF handler claims: every file that starts so.
bool IsGif(const wxString& path)
{
    wxFFile file(path, "rb");
    char signature[4] = {};
    return file.IsOpened() && file.Read(signature, sizeof signature) == sizeof signature &&
           signature[0] == 'G' && signature[1] == 'I' && signature[2] == 'F' &&
           signature[3] == '8';
}

// A pixel over white paper: alpha 255 keeps the colour, 0 gives white.
unsigned char OverWhite(unsigned colour, unsigned alpha)
{
    return static_cast<unsigned char>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

bool LoadGif(wxImage& image, const wxString& path)
{
    wxFFile file(path, "rb");
    if (!file.IsOpened())
        return false;
    // The loader takes the file in pieces; it keeps what it has decoded
    // when a later piece is damaged.
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("gif", nullptr);
    if (!loader)
        return false;
    unsigned char buffer[65536];
    bool reading = true;
    while (reading && !file.Eof()) {
        const size_t count = file.Read(buffer, sizeof buffer);
        if (count == 0)
            break;
        reading = gdk_pixbuf_loader_write(loader, buffer, count, nullptr);
    }
    // A failed write has closed the loader already. Closing ends the
    // decoding; an incomplete file is reported there too.
    if (reading)
        gdk_pixbuf_loader_close(loader, nullptr);

    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    const bool usable = pixbuf && gdk_pixbuf_get_colorspace(pixbuf) == GDK_COLORSPACE_RGB &&
                        gdk_pixbuf_get_bits_per_sample(pixbuf) == 8 &&
                        gdk_pixbuf_get_n_channels(pixbuf) >= 3 &&
                        gdk_pixbuf_get_width(pixbuf) > 0 && gdk_pixbuf_get_height(pixbuf) > 0;
    if (usable) {
        const int width = gdk_pixbuf_get_width(pixbuf);
        const int height = gdk_pixbuf_get_height(pixbuf);
        const int channels = gdk_pixbuf_get_n_channels(pixbuf);
        const int rowStride = gdk_pixbuf_get_rowstride(pixbuf);
        const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf) && channels == 4;
        const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
        image.Create(width, height, false);
        unsigned char* out = image.GetData();
        for (int y = 0; y < height; ++y) {
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

} // namespace

bool LoadImageFile(wxImage& image, const wxString& path)
{
    image.Destroy();
#ifdef __WXGTK__
    if (IsGif(path))
        return LoadGif(image, path);
#endif
    return image.LoadFile(path, wxBITMAP_TYPE_ANY, -1);
}
