// Loading an image file into the window's picture.
#pragma once

#include <cstdint>

#include <wx/image.h>
#include <wx/string.h>

// The most pixels a picture from a file may have: 256 megapixels, more than
// any camera photo (200 megapixels) or page scan at 1200 dpi (A4: 139
// megapixels) holds. Decoding costs up to about ten bytes a pixel, so a few
// bytes claiming 20000 × 20000 pixels would otherwise take gigabytes.
constexpr uint64_t kPixelBudget = uint64_t{1} << 28;

// Loads the picture of an image file in any format that the toolkit's image
// handlers read (BMP, GIF, JPEG, PNG, TIFF, PNM, PCX, IFF, ICO, CUR, ANI,
// TGA, XPM), whatever its name says: the handler is the one the toolkit
// would choose for any image type. A file that cannot be read leaves `image`
// not valid, and the toolkit's usual message says that it could not be
// loaded. A cut-off or damaged file may give what could be read of it.
// Files of several pictures give their first; an icon file gives the
// picture the toolkit picks, an animated cursor the icon of its first step.
//
// Refused before anything is decoded or allocated for it: anything but a
// regular file (a FIFO would block until someone writes to it), a file that
// no handler reads, a file whose header claims more than kPixelBudget pixels
// (for an icon file or an animated cursor, any of its pictures), and a
// header that would make the toolkit's decoder crash. A picture that does
// not fit into the memory at hand is refused the same way.
//
// Transparent parts come out white, as on paper: the scan then sees what
// the screen shows, whatever colour a transparent pixel hides.
//
// GIF files go to GTK's image library instead of the toolkit's own GIF
// decoder, which reads past its buffers on some damaged files (a file cut
// off at the end of a data block is enough). Animated cursors and XPM files
// bypass the parts of the toolkit's handlers that are unsafe: the icon goes
// to its ICO handler, the XPM strings to its XPM decoder.
bool LoadImageFile(wxImage& image, const wxString& path);
