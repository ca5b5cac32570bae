#include "sample_grabber_callback.h"

#include <cstdio>
#include <cstring>

SampleGrabberCallback::SampleGrabberCallback()
    : pollsSinceFrame(0),
      sampleSize(0),
      expectedSize(0),
      frameWaiting(false),
      bufferReady(false),
      sampleCopy(nullptr),
      sampleData(nullptr) {
    InitializeCriticalSection(&lock);
    frameEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

SampleGrabberCallback::~SampleGrabberCallback() {
    DeleteCriticalSection(&lock);
    CloseHandle(frameEvent);
    if (bufferReady) delete[] sampleCopy;
}

HRESULT SampleGrabberCallback::QueryInterface(REFIID, void** object) {
    *object = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
}

ULONG SampleGrabberCallback::AddRef() { return 1; }

ULONG SampleGrabberCallback::Release() { return 2; }

void SampleGrabberCallback::AllocateBuffer(int numBytes) {
    if (bufferReady) return;
    expectedSize = numBytes;
    sampleCopy = new BYTE[numBytes];
    bufferReady = true;
    frameWaiting = false;
    sampleSize = 0;
}

HRESULT SampleGrabberCallback::SampleCB(double, IMediaSample* sample) {
    // A copy that waits is never overwritten: newer samples are dropped.
    if (WaitForSingleObject(frameEvent, 0) == WAIT_OBJECT_0) return S_OK;

    if (FAILED(sample->GetPointer(&sampleData))) return S_OK;
    sampleSize = sample->GetActualDataLength();
    if (bufferReady && sampleSize == expectedSize) {
        EnterCriticalSection(&lock);
        std::memcpy(sampleCopy, sampleData, static_cast<size_t>(sampleSize));
        frameWaiting = true;
        pollsSinceFrame = 1;
        LeaveCriticalSection(&lock);
        SetEvent(frameEvent);
    } else {
        std::printf("ERROR: SampleCB() - buffer sizes do not match\n");
    }
    return S_OK;
}

HRESULT SampleGrabberCallback::BufferCB(double, BYTE*, LONG) { return E_NOTIMPL; }
