// One device slot's record: the negotiated frame size, the frame buffer, the
// capture graph's references and the state flags. Deleting a record tears its
// graph down.
#pragma once

#include <cstdint>

#include "dshow.h"
#include "win32_types.h"

class SampleGrabberCallback;

class CaptureDevice {
public:
    CaptureDevice();
    // Stops the graph, takes it apart and releases every reference, writing
    // one line per step.
    ~CaptureDevice();
    CaptureDevice(const CaptureDevice&) = delete;
    CaptureDevice& operator=(const CaptureDevice&) = delete;

    // Sets the negotiated size and allocates the frame buffers, once.
    void SetSize(int width, int height);

    int frameBytes;       // width × height × 3
    int width;            // negotiated, valid when ready
    int height;
    int requestedWidth;   // as OpenDevice asked
    int requestedHeight;

    ICaptureGraphBuilder2* captureBuilder;
    IGraphBuilder* graph;
    IMediaControl* control;
    IBaseFilter* captureFilter;   // only while set-up binds it
    IBaseFilter* grabberFilter;   // only during set-up
    IBaseFilter* nullRenderer;    // only during set-up
    IAMStreamConfig* streamConfig;  // until the format is settled
    ISampleGrabber* grabber;
    AM_MEDIA_TYPE* mediaType;     // the capture pin's format as read at set-up

    int32_t analogFormat;          // chosen analog video standard
    SampleGrabberCallback* callback;  // owned

    bool tryRequestedSize;   // set-up tries the requested size first
    bool connectionSet;      // set-up routes the crossbar
    bool ready;              // graph running, frames can be taken
    bool buffersAllocated;   // SetSize has run
    bool graphStarted;       // set-up has begun; teardown takes the graph apart
    bool analogFormatSet;
    bool reopenWhenFrozen;   // reopen when no sample comes for freezeThreshold polls
    int freezeThreshold;
    unsigned int pollCount;  // callback-mode polls of this record
    LONGLONG lastSampleTaken;  // buffer mode: number of the grabber's sample GetPixels last took
    int connectionType;      // physical connector for crossbar routing
    int connectionIndex;     // as OpenDevice received it
    int deviceId;            // slot index, once set-up has begun
    int frameTime;           // 100 ns units per frame; -1 keeps the device's
    char nameNarrow[255];    // friendly name, low byte of each unit
    WCHAR name[255];         // friendly name, 0-terminated
    BYTE* frameBuffer;       // frameBytes, owned once buffersAllocated
};

// Disconnects and removes from the record's graph everything downstream of a filter.
void RemoveDownstreamFilters(CaptureDevice* device, IBaseFilter* filter);
// Empties the record's graph, one filter at a time.
void RemoveAllFilters(CaptureDevice* device);
// Frees a media type that the platform allocated, with its format block.
void DestroyMediaType(AM_MEDIA_TYPE* mediaType);
