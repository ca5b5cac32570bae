#include "image_opening.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include "scanner.h"

wxDEFINE_EVENT(wxEVT_IMAGE_FILE_OPENED, wxThreadEvent);

ImageFileOpening::ImageFileOpening(wxEvtHandler* window, const wxString& path,
                                   std::unique_ptr<HelperStandby> decoder, int types,
                                   bool omniDirectional,
                                   std::chrono::steady_clock::time_point end)
    : m_window(window),
      m_path(path.ToStdWstring()), // characters of its own: the thread reads them
      m_cancel(eventfd(0, EFD_CLOEXEC))
{
    m_thread = std::thread(&ImageFileOpening::Run, this, std::move(decoder), types,
                           omniDirectional, end);
}

ImageFileOpening::~ImageFileOpening()
{
    Stop();
}

void ImageFileOpening::Stop()
{
    if (!m_thread.joinable())
        return;
    m_stop = true;
    const uint64_t one = 1;
    if (write(m_cancel.Get(), &one, sizeof one) != sizeof one) {
        // Without the descriptor the decoder ends at its deadline instead.
    }
    m_thread.join();
}

OpenedImageFile& ImageFileOpening::Outcome()
{
    // The thread has queued its event as its last step: this waits at most
    // for it to return.
    if (m_thread.joinable())
        m_thread.join();
    return m_outcome;
}

void ImageFileOpening::Run(std::unique_ptr<HelperStandby> decoder, int types,
                           bool omniDirectional, std::chrono::steady_clock::time_point end)
{
    try {
        m_outcome.decoded = DecodeImageFileApart(m_path, decoder.get(), m_cancel.Get());
    } catch (...) {
        // Whatever the loader left is scanned; an unusable file reads as nothing found.
    }
    decoder.reset();
    const wxImage& picture = m_outcome.decoded.image;
    if (picture.IsOk() && !m_stop) {
        const barcode::Image image = {
            picture.GetData(),
            static_cast<uint32_t>(picture.GetWidth()),
            static_cast<uint32_t>(picture.GetHeight()),
            picture.GetWidth(),
            barcode::PIXEL_RGB24,
        };
        try {
            barcode::Scanner scanner;
            scanner.SetTypes(types);
            scanner.SetMode(omniDirectional);
            m_outcome.result = scanner.Scan(
                &image, [&] { return m_stop || std::chrono::steady_clock::now() >= end; },
                m_outcome.cutOff);
        } catch (const std::bad_alloc&) {
            // No memory for the scan's lines: nothing found.
        }
    }
    if (!m_stop)
        m_window->QueueEvent(new wxThreadEvent(wxEVT_IMAGE_FILE_OPENED));
}
