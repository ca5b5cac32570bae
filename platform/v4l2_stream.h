// Streaming I/O on a V4L2 capture node: memory-mapped buffers, a streaming
// thread, and libv4lconvert turning each frame into a bottom-up BGR24 image,
// which is what a DirectShow RGB24 sample holds.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "v4l2_device.h"

struct v4lconvert_data;
struct ConverterSeam;

class V4l2Stream {
public:
    // Called on the streaming thread with each converted frame.
    using FrameSink = std::function<void(BYTE* data, LONG length, double seconds)>;
    // Called on the streaming thread once when no frame can come any more:
    // the device has gone away, or it holds none of our buffers.
    using LossSink = std::function<void()>;

    explicit V4l2Stream(V4l2Device& device);
    ~V4l2Stream();
    V4l2Stream(const V4l2Stream&) = delete;
    V4l2Stream& operator=(const V4l2Stream&) = delete;

    // Starts streaming frames of width × height in the format that the driver
    // has once our buffers are allocated, which locks it (another program may
    // have changed it since the device last asked); 0 or an errno, EBUSY when
    // the driver's frames no longer have that size.
    int Start(uint32_t width, uint32_t height, FrameSink frames, LossSink lost);
    // Stops the thread (joining it) and gives the buffers back to the driver.
    void Stop();
    bool Running() const { return m_thread.joinable(); }

private:
    struct MappedBuffer {
        void* start;
        size_t length;
    };

    // Start up to the streaming thread; 0 or an errno. What it took is given
    // back by ReleaseBuffers.
    int Prepare(uint32_t width, uint32_t height);
    void Run();
    bool Deliver(const v4l2_buffer& buffer);
    void ReleaseBuffers();

    V4l2Device& m_device;
    std::unique_ptr<ConverterSeam> m_seam;  // what the converter asks the device through
    v4lconvert_data* m_convert = nullptr;
    bool m_buffersRequested = false;  // the driver holds buffers for us, mapped or not
    v4l2_format m_source{};
    v4l2_format m_target{};
    std::vector<MappedBuffer> m_buffers;
    std::vector<BYTE> m_topDown;   // converted frame, rows top-down
    std::vector<BYTE> m_bottomUp;  // the same rows in the order of a sample
    size_t m_queued = 0;           // buffers the driver holds to fill; the streaming thread's
    bool m_saidRequeue = false;    // a buffer lost on requeue has been said; streaming thread's
    bool m_saidConversion = false; // a frame that failed to convert has been said; streaming thread's
    FrameSink m_frames;
    LossSink m_lost;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

