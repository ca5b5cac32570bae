// The per-sample callback of a device: in callback mode the Sample Grabber
// calls SampleCB on its streaming thread for every sample; the callback keeps
// one copy until GetPixels has taken it and drops newer samples meanwhile.
#pragma once

#include "dshow.h"
#include "win32_sync.h"

class SampleGrabberCallback final : public ISampleGrabberCB {
public:
    SampleGrabberCallback();
    // Deleted by the device record that owns it, never through Release.
    ~SampleGrabberCallback();

    // The record owns the object: neither counts anything.
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT SampleCB(double sampleTime, IMediaSample* sample) override;
    HRESULT BufferCB(double sampleTime, BYTE* buffer, LONG length) override;

    // Gives the object its copy buffer of the frame's size, once.
    void AllocateBuffer(int numBytes);

    int pollsSinceFrame;  // 1 after each accepted sample, plus 1 per poll
    int sampleSize;       // length of the last sample handled
    int expectedSize;     // the only length accepted: the frame's bytes
    bool frameWaiting;    // a copy is there that GetPixels has not taken
    bool bufferReady;     // sampleCopy is allocated
    BYTE* sampleCopy;     // the last accepted sample, owned
    BYTE* sampleData;     // the sample being handled, the grabber's
    CRITICAL_SECTION lock;  // guards sampleCopy, frameWaiting, pollsSinceFrame
    HANDLE frameEvent;      // manual reset: set while a copy waits
};
