// Streaming I/O on a V4L2 capture node: memory-mapped buffers, a streaming
// thread, and libv4lconvert turning each frame into a bottom-up BGR24 image,
// which is what a DirectShow RGB24 sample holds.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "v4l2_device.h"

struct v4lconvert_data;

class V4l2Stream {
public:
    // Called on the streaming thread with each converted frame.
    using FrameSink = std::function<void(BYTE* data, LONG length, double seconds)>;
    // Called on the streaming thread once when the device goes away.
    using LossSink = std::function<void()>;

    explicit V4l2Stream(V4l2Device& device) : m_device(device) {}
    ~V4l2Stream() { Stop(); }
    V4l2Stream(const V4l2Stream&) = delete;
    V4l2Stream& operator=(const V4l2Stream&) = delete;

    // Starts streaming in the device's current format; 0 or an errno.
    int Start(FrameSink frames, LossSink lost);
    // Stops the thread (joining it) and gives the buffers back to the driver.
    void Stop();
    bool Running() const { return m_thread.joinable(); }

private:
    struct MappedBuffer {
        void* start;
        size_t length;
    };

    void Run();
    bool Deliver(const v4l2_buffer& buffer);
    void ReleaseBuffers();

    V4l2Device& m_device;
    v4lconvert_data* m_convert = nullptr;
    v4l2_format m_source{};
    v4l2_format m_target{};
    std::vector<MappedBuffer> m_buffers;
    std::vector<BYTE> m_topDown;   // converted frame, rows top-down
    std::vector<BYTE> m_bottomUp;  // the same rows in the order of a sample
    FrameSink m_frames;
    LossSink m_lost;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A libv4lconvert instance whose calls to the device go through the kernel seam.
v4lconvert_data* CreateConverter(V4l2Device& device);
