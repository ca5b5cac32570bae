#include "display_bitmap.h"

#include <cstring>

#include <wx/dcmemory.h>

#ifdef __WXGTK__
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#endif

wxBitmap DisplayBitmap(const wxImage& image)
{
    if (!image.IsOk())
        return wxBitmap();
#ifdef __WXGTK__
    // wxBitmap(wxImage) writes through a null pointer when it gets no
    // pixbuf, and the first drawing of a bitmap turns it into a cairo image
    // surface, which merely asserts when that fails. So the pixbuf is made
    // here, where its failure shows, and the surface is tried, then made at
    // once by selecting the bitmap for drawing.
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    if (!pixbuf)
        return wxBitmap();
    cairo_surface_t* trial = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    const bool surfaceFits = cairo_surface_status(trial) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(trial);
    if (!surfaceFits) {
        g_object_unref(pixbuf);
        return wxBitmap();
    }
    const int rowStride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar* out = gdk_pixbuf_get_pixels(pixbuf);
    const unsigned char* in = image.GetData();
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y)
        std::memcpy(out + static_cast<size_t>(y) * rowStride, in + y * rowBytes, rowBytes);
    wxBitmap bitmap(pixbuf); // takes the reference
    {
        wxMemoryDC surface(bitmap);
    }
    return bitmap;
#else
    return wxBitmap(image);
#endif
}
