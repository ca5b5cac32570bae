// Loading an image file into the window's picture.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <wx/image.h>
#include <wx/log.h>
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

class HelperStandby;

// What the decoder made of one file, before anything of it is reported.
struct DecodedImageFile {
    bool loaded = false;
    bool cancelled = false; // the caller ended the decoder: nothing to report
    wxImage image;          // the picture, when loaded
    std::string why;        // what went wrong, when more than a file that does not load
    std::vector<std::pair<wxLogLevel, wxString>> log; // what the picture's decoders logged
};

// The decoding half of LoadImageFile, for a thread other than the window's:
// it reports nothing and touches neither the toolkit's log nor standard
// error. The decoder is `standby` when it takes the file, else one started
// for it. `cancel`, when not -1, is a descriptor that ends the decoder at
// once when it becomes readable.
DecodedImageFile DecodeImageFileApart(const wxString& path, HelperStandby* standby, int cancel);
// The reporting half, on the window's thread: the decoders' log, the line
// on standard error and the toolkit's message, as LoadImageFile gives them.
// Hands over the picture; true when there is one.
bool ReportImageFile(DecodedImageFile& decoded, wxImage& image, const wxString& path);

// A decoder started now, to take a file later with DecodeImageFileApart.
std::unique_ptr<HelperStandby> StartImageDecoder();

// A decoder started ahead of its file, while the user picks it: most of a
// decoder's start is the loading of the toolkit's libraries, tens of
// milliseconds, which then pass while the dialog is up. The next file that
// LoadImageFile loads on this thread while this lives goes to it, with the
// same limits and deadline; one file only. A decoder that has ended
// meanwhile is replaced without a word. When this goes, nothing of its
// decoder is left.
class ImageDecoderStandby {
public:
    ImageDecoderStandby();
    ~ImageDecoderStandby();
    ImageDecoderStandby(const ImageDecoderStandby&) = delete;
    ImageDecoderStandby& operator=(const ImageDecoderStandby&) = delete;

    // Blocks until the decoder has loaded and waits for its file; false
    // when it has ended. Only measurements need to know.
    bool WaitUntilReady();

private:
    friend bool LoadImageFile(wxImage&, const wxString&);
    std::unique_ptr<HelperStandby> m_decoder;
    ImageDecoderStandby* m_outer; // the one that was there before, if any
};

// Where LoadImageFile finds the image decoder program: beside the running
// program (the reader's build and install put it there), unless set here,
// as the tests and benchmarks do, which run from folders of their own.
void SetImageDecoder(const std::string& program);
