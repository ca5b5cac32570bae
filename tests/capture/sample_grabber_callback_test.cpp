// The per-sample callback, frame polling in both modes, freeze detection and
// devices that stop sending or go away.
#include "sample_grabber_callback.h"

#include <gtest/gtest.h>

#include <chrono>

#include "capture_manager.h"
#include "capture_test_support.h"

namespace {

class Sample final : public IMediaSample {
public:
    explicit Sample(std::vector<BYTE> bytes) : m_bytes(std::move(bytes)) {}
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetPointer(BYTE** buffer) override {
        *buffer = m_bytes.data();
        return S_OK;
    }
    LONG GetActualDataLength() override { return static_cast<LONG>(m_bytes.size()); }

private:
    std::vector<BYTE> m_bytes;
};

// A BGR24 camera of 4 × 2 whose frame n is filled with the byte n.
FakeNode& CountingCamera(FakeVideoKernel& kernel) {
    return kernel.AddCamera("Cam", V4L2_PIX_FMT_BGR24, {Discrete(4, 2)});
}

}  // namespace

TEST(SampleGrabberCallback, CountsNothingAndIsEveryInterface) {
    SampleGrabberCallback callback;
    EXPECT_EQ(callback.AddRef(), 1u);
    EXPECT_EQ(callback.Release(), 2u);
    EXPECT_EQ(callback.Release(), 2u);
    void* object = nullptr;
    EXPECT_EQ(callback.QueryInterface(IID_IAMCrossbar, &object), S_OK);
    EXPECT_EQ(object, static_cast<ISampleGrabberCB*>(&callback));
    BYTE byte = 0;
    EXPECT_EQ(callback.BufferCB(0.0, &byte, 1), E_NOTIMPL);
}

TEST(SampleGrabberCallback, KeepsTheWaitingSampleAndRefusesOtherLengths) {
    SampleGrabberCallback callback;
    callback.AllocateBuffer(6);
    Sample first({1, 2, 3, 4, 5, 6});
    Sample second({9, 9, 9, 9, 9, 9});
    Sample wrong({1, 2, 3});
    StdoutLines out;
    EXPECT_EQ(callback.SampleCB(0.0, &wrong), S_OK);
    EXPECT_FALSE(callback.frameWaiting);
    EXPECT_EQ(out.Take(), "ERROR: SampleCB() - buffer sizes do not match\n");
    EXPECT_EQ(callback.SampleCB(0.0, &first), S_OK);
    EXPECT_EQ(callback.SampleCB(0.1, &second), S_OK);  // dropped: the first still waits
    EXPECT_TRUE(callback.frameWaiting);
    EXPECT_EQ(callback.pollsSinceFrame, 1);
    EXPECT_EQ(callback.sampleCopy[0], 1);
    EXPECT_EQ(WaitForSingleObject(callback.frameEvent, 0), WAIT_OBJECT_0);
}

TEST(CallbackMode, FirstSampleIsDeliveredAndLaterOnesWaitTheirTurn) {
    FakeVideoKernel kernel;
    CountingCamera(kernel);
    CaptureManager manager;  // callback mode from construction
    StdoutLines out;
    ASSERT_TRUE(manager.OpenDevice(0, 4, 2, 3));
    EXPECT_NE(out.Take().find("SETUP: Capture callback set\n"), std::string::npos);
    ASSERT_TRUE(WaitUntil([&] { return manager.HasNewFrame(0); }));
    uint64_t sent = kernel.FramesSent(0);
    ASSERT_TRUE(WaitUntil([&] { return kernel.FramesSent(0) > sent + 2; }));
    std::vector<BYTE> frame(24, 0xEE);
    ASSERT_TRUE(manager.GetPixels(0, frame.data()));
    EXPECT_EQ(frame, std::vector<BYTE>(24, 0));  // frame 0, though later ones came
    EXPECT_FALSE(manager.callbackMode && manager.devices[0]->callback->frameWaiting);
    ASSERT_TRUE(manager.GetPixels(0, frame.data()));
    EXPECT_GT(frame[0], 0);
}

TEST(CallbackMode, NoSampleWithinASecondMeansNoFrame) {
    FakeVideoKernel kernel;
    CountingCamera(kernel).framesBeforeStall = 0;
    CaptureManager manager;
    ASSERT_TRUE(manager.OpenDevice(0, 4, 2, 3));
    std::vector<BYTE> frame(24);
    auto started = std::chrono::steady_clock::now();
    StdoutLines out;
    EXPECT_FALSE(manager.HasNewFrame(0));
    EXPECT_FALSE(manager.GetPixels(0, frame.data()));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(990));
    EXPECT_EQ(out.Take(), "");
}

TEST(CallbackMode, FrozenDeviceIsReopenedWithItsSettings) {
    FakeVideoKernel kernel;
    CountingCamera(kernel).framesBeforeStall = 1;  // one frame per stream, then silence
    CaptureManager manager;
    ASSERT_TRUE(manager.OpenDevice(0, 4, 2, 3));
    manager.devices[0]->reopenWhenFrozen = true;
    manager.devices[0]->freezeThreshold = 5;
    // The one frame has reached the callback, so that no poll below comes
    // before it.
    SampleGrabberCallback* callback = manager.devices[0]->callback;
    ASSERT_TRUE(WaitUntil([&] { return WaitForSingleObject(callback->frameEvent, 0) == WAIT_OBJECT_0; }));

    // Nothing counts as frozen during a record's first 401 polls.
    {
        StdoutLines out;
        for (int poll = 1; poll <= 401; ++poll) manager.HasNewFrame(0);
        EXPECT_EQ(out.Take(), "");
    }
    StdoutLines out;
    manager.HasNewFrame(0);
    const std::string lines = out.Take();
    // The old record goes and a new one is set up at the negotiated size.
    const std::vector<std::string> order = {
        "ERROR: Device seems frozen - attempting to reconnect\n",
        "\nSETUP: Disconnecting device 0\n",
        "SETUP: Device 0 disconnected and freed\n\n",
        "SETUP: Setting up device 0\n",
        "SETUP: trying format RGB24 @ 4 by 2\n",
        "SETUP: Device is setup and ready to capture.\n\n",
        "SUCCESS: Able to reconnect to device\n",
    };
    size_t at = 0;
    for (const std::string& line : order) {
        at = lines.find(line, at);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << line << lines;
    }
    EXPECT_EQ(Count(lines, "ERROR: Device seems frozen - attempting to reconnect\n"), 1);
    CaptureDevice* reopened = manager.devices[0];
    EXPECT_TRUE(reopened->ready);
    EXPECT_TRUE(reopened->reopenWhenFrozen);
    EXPECT_EQ(reopened->freezeThreshold, 5);
    EXPECT_EQ(reopened->width, 4);
}

TEST(CallbackMode, DeviceGoneForGoodCannotBeReopened) {
    FakeVideoKernel kernel;
    CountingCamera(kernel);
    CaptureManager manager;
    ASSERT_TRUE(manager.OpenDevice(0, 4, 2, 3));
    manager.devices[0]->reopenWhenFrozen = true;
    manager.devices[0]->freezeThreshold = 5;
    kernel.Unplug(0);
    StdoutLines out;
    for (int poll = 0; poll < 402; ++poll) manager.HasNewFrame(0);
    std::string lines = out.Take();
    EXPECT_NE(lines.find("ERROR: Device seems frozen - attempting to reconnect\n"), std::string::npos);
    EXPECT_NE(lines.find("ERROR: Unable to reconnect to device\n"), std::string::npos);
    EXPECT_FALSE(manager.devices[0]->ready);
    EXPECT_FALSE(manager.HasNewFrame(0));
    EXPECT_EQ(kernel.OpenDescriptors(), 0);
}

TEST(BufferMode, DeviceUnpluggedWhileStreamingIsClosedAndOpensAgainWhenBack) {
    FakeVideoKernel kernel;
    CountingCamera(kernel);
    CaptureManager manager;
    manager.setUseCallback(false);
    ASSERT_TRUE(manager.OpenDevice(0, 4, 2, 3));
    std::vector<BYTE> frame(24);
    ASSERT_TRUE(WaitUntil([&] { return manager.HasNewFrame(0); }));
    ASSERT_TRUE(manager.GetPixels(0, frame.data()));
    kernel.Unplug(0);
    StdoutLines out;
    EXPECT_TRUE(WaitUntil([&] { return !manager.HasNewFrame(0) && !manager.devices[0]->ready; }));
    const std::string lines = out.Take();
    EXPECT_EQ(Count(lines, "ERROR: Lost device 0 - closing it\n"), 1);
    EXPECT_NE(lines.find("ERROR: Lost device 0 - closing it\n\nSETUP: Disconnecting device 0\n"), std::string::npos);
    EXPECT_NE(lines.find("SETUP: Device 0 disconnected and freed\n\n"), std::string::npos);
    EXPECT_FALSE(manager.devices[0]->graphStarted);  // a fresh record
    EXPECT_FALSE(manager.GetPixels(0, frame.data()));
    EXPECT_EQ(kernel.OpenDescriptors(), 0);
    EXPECT_EQ(kernel.MappedBuffers(), 0);

    {
        StdoutLines quiet;
        EXPECT_FALSE(manager.OpenDevice(0, 4, 2, 3));
    }
    kernel.Replug(0);
    ASSERT_TRUE(manager.OpenDevice(0, 4, 2, 3));
    EXPECT_TRUE(WaitUntil([&] { return manager.HasNewFrame(0); }));
    EXPECT_TRUE(manager.GetPixels(0, frame.data()));
}

// Polling offers each of the grabber's samples once: scanning one picture
// twice would let a reading confirm itself.
TEST(BufferMode, EachSampleIsANewFrameOnce) {
    FakeVideoKernel kernel;
    CountingCamera(kernel).framesBeforeStall = 3;
    CaptureManager manager;
    manager.setUseCallback(false);
    ASSERT_TRUE(manager.OpenDevice(0, 4, 2, 3));
    std::vector<BYTE> frame(24);
    // Once the camera has stalled, its last sample is new until taken.
    ASSERT_TRUE(WaitUntil([&] { return kernel.FramesSent(0) >= 3; }));
    ASSERT_TRUE(WaitUntil([&] { return manager.HasNewFrame(0); }));
    ASSERT_TRUE(manager.GetPixels(0, frame.data()));
    const std::vector<BYTE> taken = frame;
    EXPECT_FALSE(manager.HasNewFrame(0));
    EXPECT_FALSE(manager.HasNewFrame(0));
    // Asked anyway, the grabber still hands out the same picture.
    ASSERT_TRUE(manager.GetPixels(0, frame.data()));
    EXPECT_EQ(frame, taken);
    EXPECT_FALSE(manager.HasNewFrame(0));
    manager.CloseDevice(0);
}

TEST(BufferMode, DeviceThatNeverSendsAFrameIsGivenUpAfterFiveSeconds) {
    FakeVideoKernel kernel;
    CountingCamera(kernel).framesBeforeStall = 0;
    CaptureManager manager;
    manager.setUseCallback(false);
    StdoutLines out;
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(manager.OpenDevice(0, 4, 2, 3));
    auto waited = std::chrono::steady_clock::now() - started;
    std::string lines = out.Take();
    EXPECT_GE(waited, std::chrono::milliseconds(4900));
    EXPECT_LT(waited, std::chrono::seconds(60));
    EXPECT_NE(lines.find("ERROR: Could not start graph\n\nSETUP: Disconnecting device 0\n"), std::string::npos);
    EXPECT_EQ(lines.find("ready to capture"), std::string::npos);
    EXPECT_FALSE(manager.devices[0]->graphStarted);
    EXPECT_EQ(kernel.OpenDescriptors(), 0);
    EXPECT_EQ(kernel.MappedBuffers(), 0);
}

TEST(BufferMode, StaleSampleStaysWhileTheDeviceIsSilent) {
    // As with any grabber: a device that pauses leaves its last picture.
    FakeVideoKernel kernel;
    FakeNode& node = CountingCamera(kernel);
    node.framesBeforeStall = 2;
    CaptureManager manager;
    manager.setUseCallback(false);
    ASSERT_TRUE(manager.OpenDevice(0, 4, 2, 3));
    ASSERT_TRUE(WaitUntil([&] { return kernel.FramesSent(0) == 2; }));
    // The second and last frame reaches the grabber, then nothing follows.
    const std::vector<BYTE> last(24, 1);
    std::vector<BYTE> frame(24);
    ASSERT_TRUE(WaitUntil([&] { return manager.GetPixels(0, frame.data()) && frame == last; }));
    EXPECT_EQ(kernel.FramesSent(0), 2u);
    ASSERT_TRUE(manager.GetPixels(0, frame.data()));
    EXPECT_EQ(frame, last);
}
