#include "v4l2_capture_filter.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "device_panel.h"
#include "dshow_filter.h"
#include "v4l2_device.h"
#include "v4l2_formats.h"
#include "v4l2_stream.h"

namespace {

constexpr HRESULT ResultOfErrno(int error) { return MakeResult(0x80070000u | (static_cast<uint32_t>(error) & 0xffffu)); }

LONG ToLong(uint32_t value) { return value > INT32_MAX ? INT32_MAX : static_cast<LONG>(value); }

// A media type in task memory with a video format block, as GetFormat hands it out.
AM_MEDIA_TYPE* NewVideoType(uint32_t pixelFormat, LONG width, LONG height, ULONG imageBytes, LONGLONG frameTime) {
    AM_MEDIA_TYPE* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    VIDEOINFOHEADER* video = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (type == nullptr || video == nullptr) {
        CoTaskMemFree(type);
        CoTaskMemFree(video);
        return nullptr;
    }
    std::memset(type, 0, sizeof *type);
    std::memset(video, 0, sizeof *video);
    bool compressed = pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
    type->majortype = MEDIATYPE_Video;
    type->subtype = SubtypeOfPixelFormat(pixelFormat);
    type->bFixedSizeSamples = compressed ? FALSE : TRUE;
    type->bTemporalCompression = FALSE;
    type->lSampleSize = imageBytes;
    type->formattype = FORMAT_VideoInfo;
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    type->pbFormat = reinterpret_cast<BYTE*>(video);
    video->AvgTimePerFrame = frameTime;
    video->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    video->bmiHeader.biWidth = width;
    video->bmiHeader.biHeight = height;
    video->bmiHeader.biPlanes = 1;
    video->bmiHeader.biBitCount = BitCountOfPixelFormat(pixelFormat);
    video->bmiHeader.biCompression = type->subtype == MEDIASUBTYPE_RGB24 ? 0 : pixelFormat;
    video->bmiHeader.biSizeImage = imageBytes;
    return type;
}

class V4l2CaptureFilter final : public GraphFilter,
                                public IAMStreamConfig,
                                public ISpecifyPropertyPages,
                                public IDevicePanelTarget,
                                private RefCounted<V4l2CaptureFilter> {
public:
    explicit V4l2CaptureFilter(std::unique_ptr<V4l2Device> device)
        : m_device(std::move(device)), m_stream(*m_device) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter)
            return HandOut<IBaseFilter>(this, object);
        if (riid == IID_IDevicePanelTarget) return HandOut<IDevicePanelTarget>(this, object);
        // Settings pages exist only while a control panel program can show them.
        if (riid == IID_ISpecifyPropertyPages && m_device->Kernel().OffersControlPanel() && !FindDevicePanel().empty())
            return HandOut<ISpecifyPropertyPages>(this, object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddRefCount(); }
    ULONG Release() override { return ReleaseCount(); }

    // ---- graph side

    size_t PinCount() const override { return 1; }
    GraphPin* PinAt(size_t) override { return &m_output; }
    bool IsSource() const override { return true; }

    HRESULT PinInterface(GraphPin*, REFIID riid, void** object) override {
        if (riid == IID_IAMStreamConfig) return HandOut<IAMStreamConfig>(this, object);
        return E_NOINTERFACE;
    }

    HRESULT OutputFormat(GraphPin*, VideoFormat* format) override {
        v4l2_format current;
        if (!m_device->CurrentFormat(&current)) return VFW_E_NO_CAPTURE_HARDWARE;
        const v4l2_pix_format& pix = current.fmt.pix;
        if (!IsConvertiblePixelFormat(pix.pixelformat)) return VFW_E_INVALIDMEDIATYPE;
        if (pix.width == 0 || pix.height == 0 || static_cast<uint64_t>(pix.width) * pix.height * 3 > INT32_MAX)
            return VFW_E_INVALIDMEDIATYPE;
        format->width = static_cast<LONG>(pix.width);
        format->height = static_cast<LONG>(pix.height);
        return S_OK;
    }

    HRESULT Start() override {
        if (m_output.Peer() == nullptr || m_stream.Running()) return S_OK;
        // A rate is set only while the device does not stream.
        m_device->SetFrameInterval(m_askedInterval > 0 ? m_askedInterval : m_device->FastestFrameInterval());
        // Frames of the size that the graph was connected with, or none.
        const VideoFormat& connected = m_output.Format();
        int error = m_stream.Start(
            static_cast<uint32_t>(connected.width), static_cast<uint32_t>(connected.height),
            [this](BYTE* data, LONG length, double seconds) {
                BufferSample sample(data, length);
                Deliver(&m_output, &sample, seconds);
            },
            [this] { DeliverLoss(&m_output); });
        return error == 0 ? S_OK : ResultOfErrno(error);
    }

    void Stop() override { m_stream.Stop(); }

    // ---- IAMStreamConfig

    HRESULT SetFormat(AM_MEDIA_TYPE* type) override {
        if (type == nullptr) return E_POINTER;
        if (m_stream.Running()) return VFW_E_NOT_STOPPED;
        if (m_output.Peer() != nullptr) return VFW_E_WRONG_STATE;
        if (type->majortype != MEDIATYPE_Video || type->formattype != FORMAT_VideoInfo ||
            type->cbFormat < sizeof(VIDEOINFOHEADER) || type->pbFormat == nullptr)
            return VFW_E_INVALIDMEDIATYPE;
        uint32_t pixelFormat = 0;
        if (!PixelFormatOfSubtype(type->subtype, &pixelFormat) || !IsConvertiblePixelFormat(pixelFormat))
            return VFW_E_INVALIDMEDIATYPE;
        VIDEOINFOHEADER video;
        std::memcpy(&video, type->pbFormat, sizeof video);
        if (video.bmiHeader.biWidth <= 0 || video.bmiHeader.biHeight <= 0) return VFW_E_INVALIDMEDIATYPE;
        const uint32_t width = static_cast<uint32_t>(video.bmiHeader.biWidth);
        const uint32_t height = static_cast<uint32_t>(video.bmiHeader.biHeight);
        v4l2_format applied;
        if (!m_device->SetExactFormat(pixelFormat, width, height, &applied)) return VFW_E_INVALIDMEDIATYPE;
        // The rate is set when streaming starts, once the format is settled;
        // a type without one (0) asks for the fastest.
        m_askedInterval = video.AvgTimePerFrame > 0 ? video.AvgTimePerFrame : 0;
        return S_OK;
    }

    HRESULT GetFormat(AM_MEDIA_TYPE** type) override {
        if (type == nullptr) return E_POINTER;
        v4l2_format current;
        if (!m_device->CurrentFormat(&current)) return ResultOfErrno(errno);
        const v4l2_pix_format& pix = current.fmt.pix;
        // Sizes are passed on as the driver states them; the capture code
        // decides what it can use.
        *type = NewVideoType(pix.pixelformat, static_cast<LONG>(pix.width), static_cast<LONG>(pix.height),
                             pix.sizeimage, m_device->FrameInterval());
        return *type != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT GetNumberOfCapabilities(int* count, int* size) override {
        if (count == nullptr || size == nullptr) return E_POINTER;
        *count = static_cast<int>(m_device->Capabilities().size());
        *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
        return S_OK;
    }

    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override {
        if (type == nullptr || caps == nullptr) return E_POINTER;
        const std::vector<DeviceCapability>& all = m_device->Capabilities();
        if (index < 0 || static_cast<size_t>(index) >= all.size()) return E_INVALIDARG;
        const DeviceCapability& capability = all[static_cast<size_t>(index)];
        LONG width = ToLong(capability.maxWidth);
        LONG height = ToLong(capability.maxHeight);
        *type = NewVideoType(capability.pixelFormat, width, height, 0, 0);
        if (*type == nullptr) return E_OUTOFMEMORY;

        VIDEO_STREAM_CONFIG_CAPS range;
        std::memset(&range, 0, sizeof range);
        range.guid = FORMAT_VideoInfo;
        range.InputSize = {width, height};
        range.MinCroppingSize = {ToLong(capability.minWidth), ToLong(capability.minHeight)};
        range.MaxCroppingSize = {width, height};
        range.CropGranularityX = ToLong(capability.stepWidth);
        range.CropGranularityY = ToLong(capability.stepHeight);
        range.MinOutputSize = range.MinCroppingSize;
        range.MaxOutputSize = range.MaxCroppingSize;
        range.OutputGranularityX = ToLong(capability.stepWidth);
        range.OutputGranularityY = ToLong(capability.stepHeight);
        std::memcpy(caps, &range, sizeof range);
        return S_OK;
    }

    // ---- ISpecifyPropertyPages and the control panel

    HRESULT GetPages(CAUUID* pages) override {
        if (pages == nullptr) return E_POINTER;
        pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
        if (pages->pElems == nullptr) return E_OUTOFMEMORY;
        pages->pElems[0] = CLSID_DeviceControlPanelPage;
        pages->cElems = 1;
        return S_OK;
    }

    const char* DevicePath() override { return m_device->Path().c_str(); }

private:
    friend class RefCounted<V4l2CaptureFilter>;
    ~V4l2CaptureFilter() { m_stream.Stop(); }

    std::unique_ptr<V4l2Device> m_device;
    V4l2Stream m_stream;
    GraphPin m_output{this, PINDIR_OUTPUT, u"Capture", &PIN_CATEGORY_CAPTURE};
    LONGLONG m_askedInterval = 0;  // the rate asked with the format last set; 0: the fastest
};

}  // namespace

HRESULT CreateV4l2CaptureFilter(VideoKernel& kernel, const std::string& path, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    int error = 0;
    std::unique_ptr<V4l2Device> device = V4l2Device::Open(kernel, path, &error);
    if (device == nullptr) return error == ENOENT || error == ENODEV ? VFW_E_NO_CAPTURE_HARDWARE : ResultOfErrno(error);
    V4l2CaptureFilter* filter = new V4l2CaptureFilter(std::move(device));
    HRESULT result = filter->QueryInterface(riid, object);
    filter->Release();
    return result;
}
