// The capture-graph interfaces, structures and identifiers that the capture
// library uses, at Windows widths. Our layer implements them over Video4Linux;
// see v4l2_capture_filter.h for how a V4L2 node answers as a capture filter.
#pragma once

#include "com.h"

typedef LONGLONG REFERENCE_TIME;  // 100 ns units

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // positive: rows bottom-up
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;  // task memory; a VIDEOINFOHEADER when formattype is FORMAT_VideoInfo
};

// One capability of a capture pin: a frame size range with its step.
struct VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG VideoStandard;
    SIZE InputSize;
    SIZE MinCroppingSize;
    SIZE MaxCroppingSize;
    int CropGranularityX;
    int CropGranularityY;
    int CropAlignX;
    int CropAlignY;
    SIZE MinOutputSize;
    SIZE MaxOutputSize;
    int OutputGranularityX;
    int OutputGranularityY;
    int StretchTapsX;
    int StretchTapsY;
    int ShrinkTapsX;
    int ShrinkTapsY;
    LONGLONG MinFrameInterval;
    LONGLONG MaxFrameInterval;
    LONG MinBitsPerSecond;
    LONG MaxBitsPerSecond;
};
static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128, "the capture code checks the capability record size");

struct IBaseFilter;
struct IFilterGraph;
struct IPin;
struct IBindCtx;
struct IErrorLog;
struct IReferenceClock;

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct PIN_INFO {
    IBaseFilter* pFilter;  // holds a reference
    PIN_DIRECTION dir;
    WCHAR achName[128];
};

struct FILTER_INFO {
    WCHAR achName[128];
    IFilterGraph* pGraph;  // holds a reference when not null
};

struct CAUUID {
    ULONG cElems;
    GUID* pElems;  // task memory
};

enum PhysicalConnectorType {
    PhysConn_Video_Tuner = 1,
    PhysConn_Video_Composite = 2,
    PhysConn_Video_SVideo = 3,
    PhysConn_Video_1394 = 10,
    PhysConn_Video_USB = 11,
    PhysConn_Video_VideoDecoder = 12,
};

enum AnalogVideoStandard {
    AnalogVideo_NTSC_M = 0x1,
    AnalogVideo_NTSC_M_J = 0x2,
    AnalogVideo_NTSC_433 = 0x4,
    AnalogVideo_PAL_B = 0x10,
    AnalogVideo_PAL_D = 0x20,
    AnalogVideo_PAL_G = 0x40,
    AnalogVideo_PAL_H = 0x80,
    AnalogVideo_PAL_I = 0x100,
    AnalogVideo_PAL_M = 0x200,
    AnalogVideo_PAL_N = 0x400,
    AnalogVideo_SECAM_B = 0x1000,
    AnalogVideo_SECAM_D = 0x2000,
    AnalogVideo_SECAM_G = 0x4000,
    AnalogVideo_SECAM_H = 0x8000,
    AnalogVideo_SECAM_K = 0x10000,
    AnalogVideo_SECAM_K1 = 0x20000,
    AnalogVideo_SECAM_L = 0x40000,
    AnalogVideo_PAL_N_COMBO = 0x100000,
};

// Result codes of the capture graph, at their Windows values.
constexpr HRESULT VFW_E_NOT_CONNECTED = MakeResult(0x80040209u);
constexpr HRESULT VFW_E_NOT_STOPPED = MakeResult(0x80040224u);
constexpr HRESULT VFW_E_WRONG_STATE = MakeResult(0x80040227u);
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeResult(0x80040200u);
constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeResult(0x80040217u);
constexpr HRESULT VFW_E_NOT_FOUND = MakeResult(0x80040216u);
constexpr HRESULT VFW_E_NO_CAPTURE_HARDWARE = MakeResult(0x80040276u);

struct IPropertyBag : IUnknown {
    virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
};

struct IMoniker : IUnknown {
    virtual HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID riid, void** object) = 0;
    virtual HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID riid, void** object) = 0;
};

struct IEnumMoniker : IUnknown {
    virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
};

struct ICreateDevEnum : IUnknown {
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator, DWORD flags) = 0;
};

struct IEnumPins : IUnknown {
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
    virtual HRESULT Reset() = 0;
};

struct IPin : IUnknown {
    virtual HRESULT ConnectedTo(IPin** peer) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
};

struct IMediaFilter : IUnknown {
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
};

struct IBaseFilter : IMediaFilter {
    virtual HRESULT EnumPins(IEnumPins** pins) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
};

struct IEnumFilters : IUnknown {
    virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
};

struct IFilterGraph : IUnknown {
    virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** filters) = 0;
    virtual HRESULT Disconnect(IPin* pin) = 0;
};

struct IGraphBuilder : IFilterGraph {};

struct IMediaControl : IUnknown {
    // Run answers S_FALSE while the graph is still on its way to running,
    // that is until the first sample has passed.
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
};

struct ICaptureGraphBuilder2 : IUnknown {
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
    virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                                  void** object) = 0;
    virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                 IBaseFilter* intermediate, IBaseFilter* sink) = 0;
};

struct IAMStreamConfig : IUnknown {
    virtual HRESULT SetFormat(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT GetFormat(AM_MEDIA_TYPE** type) = 0;
    virtual HRESULT GetNumberOfCapabilities(int* count, int* size) = 0;
    virtual HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) = 0;
};

struct IMediaSample : IUnknown {
    virtual HRESULT GetPointer(BYTE** buffer) = 0;
    virtual LONG GetActualDataLength() = 0;
};

struct ISampleGrabberCB : IUnknown {
    virtual HRESULT SampleCB(double sampleTime, IMediaSample* sample) = 0;
    virtual HRESULT BufferCB(double sampleTime, BYTE* buffer, LONG length) = 0;
};

struct ISampleGrabber : IUnknown {
    virtual HRESULT SetOneShot(BOOL oneShot) = 0;
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT SetBufferSamples(BOOL buffer) = 0;
    // Copies the latest sample whole into buffer; size is its capacity in
    // bytes on the way in and the sample's length on the way out.
    virtual HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) = 0;
    // Not in DirectShow's grabber: the number of the buffered sample, one more
    // for every sample buffered since the grabber was made; 0 while none is.
    // It tells a poller whether the buffer holds a sample it has not had.
    // VFW_E_NO_CAPTURE_HARDWARE once the device upstream has gone away.
    virtual HRESULT GetCurrentSampleNumber(LONGLONG* number) = 0;
    // method 0 calls SampleCB, method 1 BufferCB; a null callback detaches,
    // and once SetCallback has returned the previous callback is not running.
    virtual HRESULT SetCallback(ISampleGrabberCB* callback, LONG method) = 0;
};

struct IAMCrossbar : IUnknown {
    virtual HRESULT get_PinCounts(LONG* outputCount, LONG* inputCount) = 0;
    virtual HRESULT get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* relatedIndex, LONG* physicalType) = 0;
    virtual HRESULT Route(LONG outputIndex, LONG inputIndex) = 0;
};

struct IAMAnalogVideoDecoder : IUnknown {
    virtual HRESULT get_AvailableTVFormats(LONG* standards) = 0;
    virtual HRESULT put_TVFormat(LONG standard) = 0;
};

struct ISpecifyPropertyPages : IUnknown {
    virtual HRESULT GetPages(CAUUID* pages) = 0;
};

// Shows the property pages of the given objects and returns when the user
// closes them.
HRESULT OleCreatePropertyFrame(HWND owner, UINT x, UINT y, LPCOLESTR caption, ULONG objectCount,
                               IUnknown** objects, ULONG pageCount, const CLSID* pages, LCID locale,
                               DWORD reserved, void* reservedPointer);

// A media subtype named by a four-character code: the code in the first
// field (first character in the lowest byte), then 0000-0010-8000-00AA00389B71.
constexpr GUID FourccGuid(DWORD code) {
    return GUID{code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}
constexpr DWORD MakeFourcc(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
           (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}

inline constexpr IID IID_IPropertyBag = {0x6a0741ec, 0x6ca4, 0x40ab, {0xbf, 0x76, 0x7f, 0xcf, 0xd2, 0x34, 0xc9, 0xf1}};
inline constexpr IID IID_ICreateDevEnum = {0xa1aa93f6, 0x8e7b, 0x44ed, {0xa9, 0xb2, 0xe2, 0x5a, 0xd4, 0x9e, 0x3e, 0x0e}};
inline constexpr IID IID_IMediaFilter = {0x6e2d7e7a, 0xb9c8, 0x4c5d, {0xb3, 0x20, 0x89, 0x88, 0x7e, 0x73, 0x83, 0x46}};
inline constexpr IID IID_IBaseFilter = {0x6297e9dd, 0x3ab9, 0x4566, {0x8d, 0x24, 0xee, 0xbc, 0xde, 0x1b, 0x64, 0x55}};
inline constexpr IID IID_IPin = {0x0bf600c2, 0xf3a6, 0x42ea, {0x9a, 0x07, 0x77, 0x0c, 0xd8, 0xec, 0x8b, 0xab}};
inline constexpr IID IID_IFilterGraph = {0x334b4f5b, 0x4a82, 0x40bf, {0xbd, 0xf4, 0x9f, 0x45, 0xdc, 0xea, 0x50, 0xf3}};
inline constexpr IID IID_IGraphBuilder = {0x987f0526, 0xe71a, 0x422b, {0x95, 0x50, 0x3e, 0xfc, 0xe0, 0x2b, 0x9b, 0x8e}};
inline constexpr IID IID_ICaptureGraphBuilder2 = {0x95114fa2, 0x58d4, 0x4d7b, {0x99, 0x5b, 0xa5, 0x03, 0x80, 0x50, 0x7a, 0xd5}};
inline constexpr IID IID_IMediaControl = {0x047828bc, 0x0a8b, 0x4467, {0x99, 0xb3, 0xa2, 0x4c, 0xff, 0x1f, 0x84, 0x4e}};
inline constexpr IID IID_IAMStreamConfig = {0x9313df32, 0xfa69, 0x42e9, {0x91, 0x39, 0xf0, 0xa0, 0x5e, 0xbb, 0xc7, 0xae}};
inline constexpr IID IID_ISampleGrabber = {0xa6b8a1de, 0xf54a, 0x4c3f, {0x8f, 0x2d, 0xec, 0x22, 0x70, 0x38, 0xf2, 0xb5}};
inline constexpr IID IID_ISampleGrabberCB = {0x74e9c633, 0x6a41, 0x4882, {0xba, 0x0b, 0xb5, 0xb2, 0xa8, 0x4c, 0x29, 0xe9}};
inline constexpr IID IID_IAMCrossbar = {0x7118d31c, 0xa4ac, 0x406a, {0xad, 0xfb, 0xd8, 0x03, 0x14, 0xbd, 0x57, 0x5c}};
inline constexpr IID IID_IAMAnalogVideoDecoder = {0x846a5b84, 0x03f0, 0x4897, {0xb8, 0xd0, 0x31, 0x34, 0x96, 0x59, 0x00, 0x3b}};
inline constexpr IID IID_ISpecifyPropertyPages = {0xda5d201e, 0x290b, 0x4ddd, {0xaf, 0xff, 0x87, 0x44, 0x05, 0x9f, 0x0b, 0x5d}};

inline constexpr CLSID CLSID_SystemDeviceEnum = {0x4034cd66, 0x4927, 0x4539, {0x8e, 0x5e, 0x0e, 0x9e, 0x92, 0x03, 0x6e, 0x9d}};
inline constexpr CLSID CLSID_VideoInputDeviceCategory = {0x69e7b62f, 0x6210, 0x4cf7, {0xb4, 0x99, 0xf4, 0x13, 0xd5, 0x7f, 0x0f, 0x93}};
inline constexpr CLSID CLSID_CaptureGraphBuilder2 = {0x1ef1d88b, 0x5b6f, 0x43de, {0x9d, 0x93, 0x2f, 0xc2, 0xf2, 0x32, 0x89, 0x75}};
inline constexpr CLSID CLSID_FilterGraph = {0x9875132c, 0x8a19, 0x42b4, {0xab, 0x89, 0xfd, 0x97, 0x2e, 0x2e, 0x50, 0x11}};
inline constexpr CLSID CLSID_SampleGrabber = {0xd6d54a11, 0xa280, 0x4ad0, {0xb4, 0xc1, 0x1e, 0x50, 0xc8, 0x47, 0xeb, 0x51}};
inline constexpr CLSID CLSID_NullRenderer = {0x81e243d1, 0x7d8f, 0x4800, {0xb9, 0xbb, 0xf0, 0x5c, 0x1a, 0x33, 0xec, 0xb6}};

inline constexpr GUID PIN_CATEGORY_CAPTURE = {0x28195e59, 0x3355, 0x4f24, {0xac, 0x40, 0x09, 0x26, 0x41, 0x84, 0x29, 0xc2}};
inline constexpr GUID PIN_CATEGORY_PREVIEW = {0x44c02384, 0x82e2, 0x4b3c, {0xa9, 0x7f, 0x0a, 0x26, 0x60, 0x34, 0x77, 0xc2}};
inline constexpr GUID LOOK_UPSTREAM_ONLY = {0x774a7d43, 0x690e, 0x4205, {0xa2, 0xef, 0x0c, 0xba, 0xa8, 0x33, 0x8a, 0xb7}};

inline constexpr GUID MEDIATYPE_Video = FourccGuid(MakeFourcc('v', 'i', 'd', 's'));
inline constexpr GUID MEDIATYPE_Interleaved = FourccGuid(MakeFourcc('i', 'a', 'v', 's'));
inline constexpr GUID FORMAT_VideoInfo = {0x0a470632, 0x5ffb, 0x40db, {0x8e, 0x80, 0x8e, 0x5d, 0xce, 0x75, 0x85, 0x38}};

// Uncompressed RGB: rows bottom-up, RGB24 as blue, green, red.
inline constexpr GUID MEDIASUBTYPE_RGB24 = {0x75cb6e6f, 0x1cab, 0x4f0a, {0x90, 0x3b, 0x16, 0x70, 0x6f, 0xb3, 0xdf, 0xfd}};
inline constexpr GUID MEDIASUBTYPE_RGB32 = {0x4bd392f8, 0xdb57, 0x405f, {0x84, 0xfc, 0x12, 0x03, 0x51, 0xd3, 0x5c, 0x23}};
inline constexpr GUID MEDIASUBTYPE_RGB555 = {0x15937b86, 0xca8c, 0x4d13, {0x9b, 0x53, 0xab, 0x96, 0xdc, 0x21, 0xc0, 0xc3}};
inline constexpr GUID MEDIASUBTYPE_RGB565 = {0xa1abd1d0, 0x2cf5, 0x4f2e, {0x97, 0x5d, 0xf3, 0xfd, 0x9a, 0x97, 0xa6, 0x8e}};
inline constexpr GUID MEDIASUBTYPE_YUY2 = FourccGuid(MakeFourcc('Y', 'U', 'Y', '2'));
inline constexpr GUID MEDIASUBTYPE_YVYU = FourccGuid(MakeFourcc('Y', 'V', 'Y', 'U'));
inline constexpr GUID MEDIASUBTYPE_YUYV = FourccGuid(MakeFourcc('Y', 'U', 'Y', 'V'));
inline constexpr GUID MEDIASUBTYPE_IYUV = FourccGuid(MakeFourcc('I', 'Y', 'U', 'V'));
inline constexpr GUID MEDIASUBTYPE_UYVY = FourccGuid(MakeFourcc('U', 'Y', 'V', 'Y'));
inline constexpr GUID MEDIASUBTYPE_YV12 = FourccGuid(MakeFourcc('Y', 'V', '1', '2'));
inline constexpr GUID MEDIASUBTYPE_YVU9 = FourccGuid(MakeFourcc('Y', 'V', 'U', '9'));
inline constexpr GUID MEDIASUBTYPE_Y411 = FourccGuid(MakeFourcc('Y', '4', '1', '1'));
inline constexpr GUID MEDIASUBTYPE_Y41P = FourccGuid(MakeFourcc('Y', '4', '1', 'P'));
inline constexpr GUID MEDIASUBTYPE_Y211 = FourccGuid(MakeFourcc('Y', '2', '1', '1'));
inline constexpr GUID MEDIASUBTYPE_AYUV = FourccGuid(MakeFourcc('A', 'Y', 'U', 'V'));
