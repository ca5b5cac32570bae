// Inside the platform layer: what our filters, pins and graph share. Every
// stream past the capture filter carries RGB24 video (rows bottom-up, blue,
// green, red), so a connection only has to agree on the frame size.
#pragma once

#include <vector>

#include "com_classes.h"
#include "dshow.h"

class GraphFilter;

// The frame size a connection carries.
struct VideoFormat {
    LONG width = 0;
    LONG height = 0;
    LONG SampleBytes() const { return width * height * 3; }
};

// A pin belongs to its filter: it counts references on the filter, and a
// connection holds a reference on the peer's filter until it is broken.
class GraphPin final : public IPin {
public:
    GraphPin(GraphFilter* owner, PIN_DIRECTION direction, const char16_t* name, const GUID* category = nullptr);

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT ConnectedTo(IPin** peer) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;

    GraphFilter* Owner() const { return m_owner; }
    PIN_DIRECTION Direction() const { return m_direction; }
    const GUID* Category() const { return m_category; }
    GraphPin* Peer() const { return m_peer; }
    const VideoFormat& Format() const { return m_format; }

    // Connects this output pin to an input pin when both filters agree.
    HRESULT ConnectTo(GraphPin* input);
    // Breaks this side of the connection.
    void Disconnect();

private:
    void SetPeer(GraphPin* peer, const VideoFormat& format);

    GraphFilter* m_owner;
    PIN_DIRECTION m_direction;
    const char16_t* m_name;
    const GUID* m_category;
    GraphPin* m_peer = nullptr;
    VideoFormat m_format;
};

class GraphFilter : public IBaseFilter {
public:
    HRESULT SetSyncSource(IReferenceClock*) override { return S_OK; }
    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;

    // The graph tells the filter that it joined (with its name) or left it.
    void JoinGraph(IFilterGraph* graph, LPCWSTR name);
    IFilterGraph* Graph() const { return m_graph; }

    virtual size_t PinCount() const = 0;
    virtual GraphPin* PinAt(size_t index) = 0;
    // Pin-level interfaces such as IAMStreamConfig.
    virtual HRESULT PinInterface(GraphPin*, REFIID, void**) { return E_NOINTERFACE; }
    // The format that an output pin can deliver, and whether an input takes one.
    virtual HRESULT OutputFormat(GraphPin* output, VideoFormat* format);
    virtual HRESULT AcceptInput(GraphPin*, const VideoFormat&) { return S_OK; }
    // A sample arriving on an input pin, on the streaming thread.
    virtual void Receive(GraphPin*, IMediaSample*, double) {}
    // The source upstream has gone away; by default passed on downstream.
    virtual void SourceLost(GraphPin* input);
    // Start and stop of the graph; a source starts its streaming thread in
    // Start and has joined it when Stop returns.
    virtual HRESULT Start() { return S_OK; }
    virtual void Stop() {}
    virtual bool IsSource() const { return false; }

    // Passes a sample to whatever is connected to one of our output pins.
    static void Deliver(GraphPin* output, IMediaSample* sample, double time);
    static void DeliverLoss(GraphPin* output);
    // The first pin of a direction (and category, when given) without a connection.
    GraphPin* FreePin(PIN_DIRECTION direction, const GUID* category = nullptr);
    void DisconnectAll();

protected:
    ~GraphFilter() = default;

private:
    IFilterGraph* m_graph = nullptr;  // the graph holds us, not the other way round
    WCHAR m_name[128] = {};
};

// The one sample that travels down the graph at a time: a view of a buffer.
class BufferSample final : public IMediaSample {
public:
    BufferSample(BYTE* data, LONG length) : m_data(data), m_length(length) {}
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetPointer(BYTE** buffer) override {
        *buffer = m_data;
        return S_OK;
    }
    LONG GetActualDataLength() override { return m_length; }

private:
    BYTE* m_data;
    LONG m_length;
};

// The graph filter behind an IBaseFilter of ours, or null for a foreign one.
GraphFilter* AsGraphFilter(IUnknown* object);

// Factories of the classes that CoCreateInstance serves.
HRESULT CreateFilterGraph(REFIID riid, void** object);
HRESULT CreateCaptureGraphBuilder(REFIID riid, void** object);
HRESULT CreateSampleGrabber(REFIID riid, void** object);
HRESULT CreateNullRenderer(REFIID riid, void** object);
HRESULT CreateSmartTee(REFIID riid, void** object);
HRESULT CreateSystemDeviceEnum(REFIID riid, void** object);

// Copies a wide string into a fixed field, cut so that the terminator fits.
void CopyWide(WCHAR* target, size_t capacity, const WCHAR* source);
