// Decoding the picture of an image file with the toolkit's image handlers,
// in the calling process. The reader does not call this itself: its image
// decoder program does, one file per process (see image_loading.h).
#pragma once

#include <cstdint>

#include <wx/file.h>
#include <wx/image.h>

// The most pixels a picture from a file may have: 256 megapixels, more than
// any camera photo (200 megapixels) or page scan at 1200 dpi (A4: 139
// megapixels) holds. Decoding costs up to about ten bytes a pixel, so a few
// bytes claiming 20000 × 20000 pixels would otherwise take gigabytes.
constexpr uint64_t kPixelBudget = uint64_t{1} << 28;
// The longest side a picture from a file may have: 65536 pixels, the most
// that GIF and JPEG can hold. The scanner lays a few lines per 3 pixels of
// each side; a picture a pixel high and 2^28 wide would give it tens of
// millions of lines, and lines of that many pixels each.
constexpr uint64_t kLongestSide = uint64_t{1} << 16;

// Decodes the picture of an open file in any format that the toolkit's
// image handlers read (BMP, GIF, JPEG, PNG, TIFF, PNM, PCX, IFF, ICO, CUR,
// ANI, TGA, XPM), whatever its name says: the handler is the one the
// toolkit would choose for any image type. Returns false, with `image` not
// valid, when the file cannot be read; what the handlers log about it is
// logged. A cut-off or damaged file may give what could be read of it.
// Files of several pictures give their first; an icon file gives the
// picture the toolkit picks, an animated cursor the icon of its first step.
//
// Refused before anything is decoded or allocated for it: a file that no
// handler reads, a file whose header claims more than kPixelBudget pixels
// or a side longer than kLongestSide (for an icon file or an animated
// cursor, any of its pictures), and
// headers on which the toolkit's decoders are known to crash. A picture
// that does not fit into the memory at hand is refused the same way.
//
// Transparent parts come out white, as on paper: the scan then sees what
// the screen shows, whatever colour a transparent pixel hides.
//
// GIF files go to GTK's image library instead of the toolkit's own GIF
// decoder, which reads past its buffers on some damaged files (a file cut
// off at the end of a data block is enough). Animated cursors and XPM files
// bypass the parts of the toolkit's handlers that are unsafe: the icon goes
// to its ICO handler, the XPM strings to its XPM decoder.
//
// Some of the toolkit's decoders allocate with new: std::bad_alloc may
// come through.
bool DecodeImageFile(wxImage& image, wxFile& file);
