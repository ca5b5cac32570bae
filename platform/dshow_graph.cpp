// The filter graph, the capture graph builder, our pins and the two small
// filters that the builder and the capture code put into a graph: the Smart
// Tee and the Null Renderer.
#include <algorithm>
#include <mutex>
#include <vector>

#include "dshow_enum.h"
#include "dshow_filter.h"

void CopyWide(WCHAR* target, size_t capacity, const WCHAR* source) {
    size_t length = 0;
    if (source != nullptr)
        while (length + 1 < capacity && source[length] != 0) {
            target[length] = source[length];
            ++length;
        }
    target[length] = 0;
}

GraphFilter* AsGraphFilter(IUnknown* object) { return object == nullptr ? nullptr : dynamic_cast<GraphFilter*>(object); }

// ---- pins

GraphPin::GraphPin(GraphFilter* owner, PIN_DIRECTION direction, const char16_t* name, const GUID* category)
    : m_owner(owner), m_direction(direction), m_name(name), m_category(category) {}

HRESULT GraphPin::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin) return HandOut<IPin>(this, object);
    *object = nullptr;
    return m_owner->PinInterface(this, riid, object);
}

ULONG GraphPin::AddRef() { return m_owner->AddRef(); }

ULONG GraphPin::Release() { return m_owner->Release(); }

HRESULT GraphPin::ConnectedTo(IPin** peer) {
    if (peer == nullptr) return E_POINTER;
    *peer = m_peer;
    if (m_peer == nullptr) return VFW_E_NOT_CONNECTED;
    m_peer->AddRef();
    return S_OK;
}

HRESULT GraphPin::QueryPinInfo(PIN_INFO* info) {
    if (info == nullptr) return E_POINTER;
    info->pFilter = m_owner;
    m_owner->AddRef();
    info->dir = m_direction;
    CopyWide(info->achName, 128, m_name);
    return S_OK;
}

HRESULT GraphPin::ConnectTo(GraphPin* input) {
    if (m_direction != PINDIR_OUTPUT || input->m_direction != PINDIR_INPUT) return VFW_E_CANNOT_CONNECT;
    if (m_peer != nullptr || input->m_peer != nullptr) return VFW_E_CANNOT_CONNECT;
    VideoFormat format;
    HRESULT result = m_owner->OutputFormat(this, &format);
    if (FAILED(result)) return VFW_E_CANNOT_CONNECT;
    result = input->m_owner->AcceptInput(input, format);
    if (FAILED(result)) return VFW_E_CANNOT_CONNECT;
    SetPeer(input, format);
    input->SetPeer(this, format);
    return S_OK;
}

void GraphPin::SetPeer(GraphPin* peer, const VideoFormat& format) {
    peer->AddRef();
    m_peer = peer;
    m_format = format;
}

void GraphPin::Disconnect() {
    if (m_peer == nullptr) return;
    GraphPin* peer = m_peer;
    m_peer = nullptr;
    m_format = VideoFormat();
    peer->Release();
}

// ---- filters

HRESULT GraphFilter::EnumPins(IEnumPins** pins) {
    if (pins == nullptr) return E_POINTER;
    std::vector<IPin*> all;
    for (size_t i = 0; i < PinCount(); ++i) all.push_back(PinAt(i));
    *pins = new SnapshotEnumerator<IEnumPins, IPin>(std::move(all));
    return S_OK;
}

HRESULT GraphFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (info == nullptr) return E_POINTER;
    CopyWide(info->achName, 128, m_name);
    info->pGraph = m_graph;
    if (m_graph != nullptr) m_graph->AddRef();
    return S_OK;
}

void GraphFilter::JoinGraph(IFilterGraph* graph, LPCWSTR name) {
    m_graph = graph;
    CopyWide(m_name, 128, graph != nullptr ? name : nullptr);
}

HRESULT GraphFilter::OutputFormat(GraphPin*, VideoFormat* format) {
    // A pass-through filter delivers what its input receives.
    for (size_t i = 0; i < PinCount(); ++i) {
        GraphPin* pin = PinAt(i);
        if (pin->Direction() == PINDIR_INPUT && pin->Peer() != nullptr) {
            *format = pin->Format();
            return S_OK;
        }
    }
    return VFW_E_NOT_CONNECTED;
}

void GraphFilter::Deliver(GraphPin* output, IMediaSample* sample, double time) {
    GraphPin* input = output->Peer();
    if (input != nullptr) input->Owner()->Receive(input, sample, time);
}

void GraphFilter::DeliverLoss(GraphPin* output) {
    GraphPin* input = output->Peer();
    if (input != nullptr) input->Owner()->SourceLost(input);
}

void GraphFilter::SourceLost(GraphPin*) {
    for (size_t i = 0; i < PinCount(); ++i)
        if (PinAt(i)->Direction() == PINDIR_OUTPUT) DeliverLoss(PinAt(i));
}

GraphPin* GraphFilter::FreePin(PIN_DIRECTION direction, const GUID* category) {
    for (size_t i = 0; i < PinCount(); ++i) {
        GraphPin* pin = PinAt(i);
        if (pin->Direction() != direction || pin->Peer() != nullptr) continue;
        if (category != nullptr && (pin->Category() == nullptr || *pin->Category() != *category)) continue;
        return pin;
    }
    return nullptr;
}

void GraphFilter::DisconnectAll() {
    for (size_t i = 0; i < PinCount(); ++i) {
        GraphPin* pin = PinAt(i);
        if (GraphPin* peer = pin->Peer()) {
            peer->Disconnect();
            pin->Disconnect();
        }
    }
}

namespace {

// A filter whose reference count and IUnknown are the same for every class.
template <class Derived>
class SimpleFilter : public GraphFilter, protected RefCounted<Derived> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter)
            return HandOut<IBaseFilter>(this, object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return this->AddRefCount(); }
    ULONG Release() override { return this->ReleaseCount(); }
};

// Copies a preview stream off a capture pin that has none of its own.
class SmartTee final : public SimpleFilter<SmartTee> {
public:
    size_t PinCount() const override { return 3; }
    GraphPin* PinAt(size_t index) override {
        GraphPin* pins[] = {&m_input, &m_capture, &m_preview};
        return pins[index];
    }
    void Receive(GraphPin*, IMediaSample* sample, double time) override {
        Deliver(&m_capture, sample, time);
        Deliver(&m_preview, sample, time);
    }

private:
    friend class RefCounted<SmartTee>;
    ~SmartTee() = default;

    GraphPin m_input{this, PINDIR_INPUT, u"Input"};
    GraphPin m_capture{this, PINDIR_OUTPUT, u"Capture", &PIN_CATEGORY_CAPTURE};
    GraphPin m_preview{this, PINDIR_OUTPUT, u"Preview", &PIN_CATEGORY_PREVIEW};
};

// Takes every sample and drops it.
class NullRenderer final : public SimpleFilter<NullRenderer> {
public:
    size_t PinCount() const override { return 1; }
    GraphPin* PinAt(size_t) override { return &m_input; }

private:
    friend class RefCounted<NullRenderer>;
    ~NullRenderer() = default;

    GraphPin m_input{this, PINDIR_INPUT, u"In"};
};

class FilterGraph final : public IGraphBuilder, public IMediaControl, public IMediaFilter, private RefCounted<FilterGraph> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IGraphBuilder || riid == IID_IFilterGraph)
            return HandOut<IGraphBuilder>(this, object);
        if (riid == IID_IMediaControl) return HandOut<IMediaControl>(this, object);
        if (riid == IID_IMediaFilter) return HandOut<IMediaFilter>(this, object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddRefCount(); }
    ULONG Release() override { return ReleaseCount(); }

    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override {
        GraphFilter* ours = AsGraphFilter(filter);
        if (ours == nullptr) return E_INVALIDARG;
        if (m_running) return VFW_E_NOT_STOPPED;
        if (std::find(m_filters.begin(), m_filters.end(), ours) != m_filters.end()) return E_INVALIDARG;
        ours->AddRef();
        ours->JoinGraph(this, name);
        m_filters.push_back(ours);
        return S_OK;
    }

    HRESULT RemoveFilter(IBaseFilter* filter) override {
        auto found = std::find(m_filters.begin(), m_filters.end(), AsGraphFilter(filter));
        if (found == m_filters.end()) return VFW_E_NOT_FOUND;
        if (m_running) return VFW_E_NOT_STOPPED;
        GraphFilter* ours = *found;
        m_filters.erase(found);
        ours->DisconnectAll();
        ours->JoinGraph(nullptr, nullptr);
        ours->Release();
        return S_OK;
    }

    HRESULT EnumFilters(IEnumFilters** filters) override {
        if (filters == nullptr) return E_POINTER;
        std::vector<IBaseFilter*> all(m_filters.begin(), m_filters.end());
        *filters = new SnapshotEnumerator<IEnumFilters, IBaseFilter>(std::move(all));
        return S_OK;
    }

    HRESULT Disconnect(IPin* pin) override {
        GraphPin* ours = pin == nullptr ? nullptr : dynamic_cast<GraphPin*>(pin);
        if (ours == nullptr) return E_POINTER;
        if (m_running) return VFW_E_NOT_STOPPED;
        if (ours->Peer() == nullptr) return S_FALSE;
        ours->Disconnect();
        return S_OK;
    }

    // Samples start to flow only once every filter runs; the first one
    // arrives later, so the graph reports that it is still on its way.
    HRESULT Run() override {
        if (m_running) return S_OK;
        for (GraphFilter* filter : m_filters) {
            if (filter->IsSource()) continue;
            HRESULT result = filter->Start();
            if (FAILED(result)) return StopAfter(result);
        }
        m_running = true;
        for (GraphFilter* filter : m_filters) {
            if (!filter->IsSource()) continue;
            HRESULT result = filter->Start();
            if (FAILED(result)) return StopAfter(result);
        }
        return S_FALSE;
    }

    // A live source cannot hold a frame: pausing stops the stream as well.
    HRESULT Pause() override { return Stop(); }

    HRESULT Stop() override {
        StopAll();
        return S_OK;
    }

    HRESULT SetSyncSource(IReferenceClock*) override { return S_OK; }

private:
    friend class RefCounted<FilterGraph>;
    ~FilterGraph() {
        StopAll();
        for (GraphFilter* filter : m_filters) filter->DisconnectAll();
        for (GraphFilter* filter : m_filters) {
            filter->JoinGraph(nullptr, nullptr);
            filter->Release();
        }
    }

    HRESULT StopAfter(HRESULT failure) {
        StopAll();
        return failure;
    }

    void StopAll() {
        // Sources first, so that nothing arrives at a filter that has stopped.
        for (GraphFilter* filter : m_filters)
            if (filter->IsSource()) filter->Stop();
        for (GraphFilter* filter : m_filters)
            if (!filter->IsSource()) filter->Stop();
        m_running = false;
    }

    std::vector<GraphFilter*> m_filters;
    bool m_running = false;
};

class CaptureGraphBuilder final : public ICaptureGraphBuilder2, private RefCounted<CaptureGraphBuilder> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ICaptureGraphBuilder2) return HandOut<ICaptureGraphBuilder2>(this, object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddRefCount(); }
    ULONG Release() override { return ReleaseCount(); }

    HRESULT SetFiltergraph(IGraphBuilder* graph) override {
        if (graph == nullptr) return E_POINTER;
        if (m_graph != nullptr) return E_UNEXPECTED;
        graph->AddRef();
        m_graph = graph;
        return S_OK;
    }

    HRESULT FindInterface(const GUID* category, const GUID*, IBaseFilter* filter, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        GraphFilter* start = AsGraphFilter(filter);
        if (start == nullptr) return E_POINTER;
        if (category != nullptr && *category == LOOK_UPSTREAM_ONLY) return FindUpstream(start, riid, object);
        if (category != nullptr) {
            for (size_t i = 0; i < start->PinCount(); ++i) {
                GraphPin* pin = start->PinAt(i);
                if (pin->Direction() == PINDIR_OUTPUT && pin->Category() != nullptr && *pin->Category() == *category)
                    return pin->QueryInterface(riid, object);
            }
            return E_NOINTERFACE;
        }
        if (SUCCEEDED(start->QueryInterface(riid, object))) return S_OK;
        for (size_t i = 0; i < start->PinCount(); ++i)
            if (SUCCEEDED(start->PinAt(i)->QueryInterface(riid, object))) return S_OK;
        return FindUpstream(start, riid, object);
    }

    HRESULT RenderStream(const GUID* category, const GUID*, IUnknown* source, IBaseFilter* intermediate,
                         IBaseFilter* sink) override {
        GraphFilter* from = AsGraphFilter(source);
        GraphFilter* middle = AsGraphFilter(intermediate);
        GraphFilter* to = AsGraphFilter(sink);
        if (m_graph == nullptr) return E_UNEXPECTED;
        if (from == nullptr || (intermediate != nullptr && middle == nullptr) || (sink != nullptr && to == nullptr))
            return E_INVALIDARG;
        for (GraphFilter* filter : {from, middle, to})
            if (filter != nullptr && filter->Graph() != m_graph) return VFW_E_NOT_FOUND;

        GraphPin* output = from->FreePin(PINDIR_OUTPUT, category);
        if (output == nullptr && category != nullptr && *category == PIN_CATEGORY_PREVIEW) {
            output = InsertSmartTee(from);
        }
        if (output == nullptr) return VFW_E_CANNOT_CONNECT;
        for (GraphFilter* next : {middle, to}) {
            if (next == nullptr) continue;
            GraphPin* input = next->FreePin(PINDIR_INPUT);
            if (input == nullptr || FAILED(output->ConnectTo(input))) return VFW_E_CANNOT_CONNECT;
            output = next->FreePin(PINDIR_OUTPUT);
            if (output == nullptr && next != to) return VFW_E_CANNOT_CONNECT;
        }
        return S_OK;
    }

private:
    friend class RefCounted<CaptureGraphBuilder>;
    ~CaptureGraphBuilder() {
        if (m_graph != nullptr) m_graph->Release();
    }

    // The filters connected to the inputs of start, nearest first.
    static HRESULT FindUpstream(GraphFilter* start, REFIID riid, void** object) {
        for (size_t i = 0; i < start->PinCount(); ++i) {
            GraphPin* pin = start->PinAt(i);
            if (pin->Direction() != PINDIR_INPUT || pin->Peer() == nullptr) continue;
            GraphFilter* upstream = pin->Peer()->Owner();
            if (SUCCEEDED(upstream->QueryInterface(riid, object))) return S_OK;
            if (SUCCEEDED(FindUpstream(upstream, riid, object))) return S_OK;
        }
        return E_NOINTERFACE;
    }

    // The capture pin feeds a Smart Tee whose preview pin is returned.
    GraphPin* InsertSmartTee(GraphFilter* source) {
        GraphPin* capture = source->FreePin(PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE);
        if (capture == nullptr) return nullptr;
        IBaseFilter* tee = nullptr;
        if (FAILED(CreateSmartTee(IID_IBaseFilter, reinterpret_cast<void**>(&tee)))) return nullptr;
        GraphPin* preview = nullptr;
        if (SUCCEEDED(m_graph->AddFilter(tee, u"Smart Tee"))) {
            GraphFilter* ours = AsGraphFilter(tee);
            if (SUCCEEDED(capture->ConnectTo(ours->FreePin(PINDIR_INPUT))))
                preview = ours->FreePin(PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW);
            else
                m_graph->RemoveFilter(tee);
        }
        tee->Release();
        return preview;
    }

    IGraphBuilder* m_graph = nullptr;
};

// Hands out a new object's interface; the object goes when nobody took it.
template <class Object>
HRESULT HandOutNew(Object* created, REFIID riid, void** object) {
    if (object == nullptr) {
        created->Release();
        return E_POINTER;
    }
    HRESULT result = created->QueryInterface(riid, object);
    created->Release();
    return result;
}

}  // namespace

HRESULT CreateFilterGraph(REFIID riid, void** object) {
    return HandOutNew(new FilterGraph, riid, object);
}

HRESULT CreateCaptureGraphBuilder(REFIID riid, void** object) {
    return HandOutNew(new CaptureGraphBuilder, riid, object);
}

HRESULT CreateNullRenderer(REFIID riid, void** object) {
    return HandOutNew(new NullRenderer, riid, object);
}

HRESULT CreateSmartTee(REFIID riid, void** object) {
    return HandOutNew(new SmartTee, riid, object);
}
