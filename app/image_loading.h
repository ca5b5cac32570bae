// Loading an image file into the window's picture.
#pragma once

#include <string>

#include <wx/image.h>
#include <wx/string.h>

#include "image_decoding.h"

// Loads the picture of an image file as DecodeImageFile reads it (any
// format of the toolkit's handlers, within kPixelBudget pixels,
// transparent parts on white), but decodes it in a separate process: the
// image decoder program, started for this file alone, under limits on its
// memory (about 4 bytes a pixel of the budget), its processor time and
// the time the reader waits for it (at most 20 s), and then gone. Whatever
// the file makes a decoder do, the reader goes on. Anything but a regular
// file is refused before it is opened (a FIFO would block until someone
// writes to it). What the picture's decoders log is logged here; a file
// that cannot be read leaves `image` not valid, and the toolkit's usual
// message says that it could not be loaded. When the decoder crashed, ran
// out of its memory or time, or answered anything but a sound picture, one
// line on standard error says so.
//
// Blocks the calling thread until the decoder is done.
bool LoadImageFile(wxImage& image, const wxString& path);

// Where LoadImageFile finds the image decoder program: beside the running
// program (the reader's build and install put it there), unless set here,
// as the tests and benchmarks do, which run from folders of their own.
void SetImageDecoder(const std::string& program);
