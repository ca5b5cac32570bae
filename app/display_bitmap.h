// The bitmap that the video panel draws a picture from.
#pragma once

#include <wx/bitmap.h>
#include <wx/image.h>

// Converts a picture for drawing. The conversion goes over every pixel twice
// and a large picture takes a good part of a second, so the window keeps the
// result as long as the picture stays. Every allocation is checked: a picture too big for the
// memory at hand, or beyond what the drawing library can hold (32767 pixels
// a side), gives a bitmap that is not valid, and nothing is drawn.
wxBitmap DisplayBitmap(const wxImage& image);
