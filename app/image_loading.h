// Loading an image file into the window's picture.
#pragma once

#include <wx/image.h>
#include <wx/string.h>

// Loads the first picture of an image file of any type the toolkit reads,
// whatever its name says. A file that cannot be read leaves `image` not
// valid. A cut-off or damaged file may give what could be read of it.
//
// GIF files go to GTK's image library instead of the toolkit's own GIF
// decoder, which reads past its buffers on some damaged files (a file cut
// off at the end of a data block is enough); transparent pixels come out
// white, as on paper.
bool LoadImageFile(wxImage& image, const wxString& path);
