// The Sample Grabber: a pass-through filter for RGB24 video that keeps a copy
// of the latest sample and can call a callback for each one.
#include <cstring>
#include <mutex>
#include <vector>

#include "dshow_filter.h"

namespace {

class SampleGrabber final : public GraphFilter, public ISampleGrabber, private RefCounted<SampleGrabber> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter)
            return HandOut<IBaseFilter>(this, object);
        if (riid == IID_ISampleGrabber) return HandOut<ISampleGrabber>(this, object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddRefCount(); }
    ULONG Release() override { return ReleaseCount(); }

    size_t PinCount() const override { return 2; }
    GraphPin* PinAt(size_t index) override { return index == 0 ? &m_input : &m_output; }

    HRESULT AcceptInput(GraphPin*, const VideoFormat& format) override {
        std::lock_guard<std::mutex> hold(m_settingsLock);
        if (m_typeSet && !m_acceptsVideo) return VFW_E_INVALIDMEDIATYPE;
        if (format.width <= 0 || format.height <= 0) return VFW_E_INVALIDMEDIATYPE;
        return S_OK;
    }

    HRESULT SetOneShot(BOOL oneShot) override {
        // Every sample passes; a graph that stops itself after one is not needed.
        return oneShot ? E_NOTIMPL : S_OK;
    }

    HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override {
        if (type == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> hold(m_settingsLock);
        m_typeSet = true;
        m_acceptsVideo = type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_RGB24;
        return S_OK;
    }

    HRESULT SetBufferSamples(BOOL buffer) override {
        std::lock_guard<std::mutex> hold(m_bufferLock);
        m_buffering = buffer != FALSE;
        return S_OK;
    }

    HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) override {
        if (size == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> hold(m_bufferLock);
        if (!m_buffering) return E_INVALIDARG;
        if (m_input.Peer() == nullptr) return VFW_E_NOT_CONNECTED;
        if (!m_hasSample) return VFW_E_WRONG_STATE;
        LONG length = static_cast<LONG>(m_sample.size());
        if (buffer == nullptr) {
            *size = length;
            return S_OK;
        }
        if (*size < length) return E_OUTOFMEMORY;
        std::memcpy(buffer, m_sample.data(), m_sample.size());
        *size = length;
        return S_OK;
    }

    HRESULT GetCurrentSampleNumber(LONGLONG* number) override {
        if (number == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> hold(m_bufferLock);
        *number = m_hasSample ? m_sampleNumber : 0;
        return m_lost ? VFW_E_NO_CAPTURE_HARDWARE : S_OK;
    }

    HRESULT SetCallback(ISampleGrabberCB* callback, LONG method) override {
        if (method != 0 && method != 1) return E_INVALIDARG;
        // Waits for a callback that is running on the streaming thread.
        std::lock_guard<std::mutex> hold(m_callbackLock);
        if (callback != nullptr) callback->AddRef();
        if (m_callback != nullptr) m_callback->Release();
        m_callback = callback;
        m_method = method;
        return S_OK;
    }

    HRESULT Start() override {
        std::lock_guard<std::mutex> hold(m_bufferLock);
        m_hasSample = false;
        m_lost = false;
        return S_OK;
    }

    void Receive(GraphPin*, IMediaSample* sample, double time) override {
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data))) return;
        LONG length = sample->GetActualDataLength();
        {
            std::lock_guard<std::mutex> hold(m_bufferLock);
            if (m_buffering && length > 0) {
                // Sized once per connection: every sample has the connected size.
                m_sample.resize(static_cast<size_t>(length));
                std::memcpy(m_sample.data(), data, m_sample.size());
                m_hasSample = !m_lost;
                ++m_sampleNumber;
            }
        }
        {
            std::lock_guard<std::mutex> hold(m_callbackLock);
            if (m_callback != nullptr) {
                if (m_method == 0)
                    m_callback->SampleCB(time, sample);
                else
                    m_callback->BufferCB(time, data, length);
            }
        }
        Deliver(&m_output, sample, time);
    }

    // The source is gone: the last sample is no longer a picture of anything.
    void SourceLost(GraphPin* input) override {
        {
            std::lock_guard<std::mutex> hold(m_bufferLock);
            m_lost = true;
            m_hasSample = false;
        }
        GraphFilter::SourceLost(input);
    }

private:
    friend class RefCounted<SampleGrabber>;
    ~SampleGrabber() {
        if (m_callback != nullptr) m_callback->Release();
    }

    GraphPin m_input{this, PINDIR_INPUT, u"Input"};
    GraphPin m_output{this, PINDIR_OUTPUT, u"Output"};

    std::mutex m_settingsLock;
    bool m_typeSet = false;
    bool m_acceptsVideo = false;

    std::mutex m_bufferLock;  // guards the buffered sample and its flags
    bool m_buffering = false;
    bool m_hasSample = false;
    bool m_lost = false;
    std::vector<BYTE> m_sample;
    LONGLONG m_sampleNumber = 0;  // of the buffered sample; never reused

    std::mutex m_callbackLock;  // held while the callback runs
    ISampleGrabberCB* m_callback = nullptr;
    LONG m_method = 0;
};

}  // namespace

HRESULT CreateSampleGrabber(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    SampleGrabber* grabber = new SampleGrabber;
    HRESULT result = grabber->QueryInterface(riid, object);
    grabber->Release();
    return result;
}
