// Streaming I/O on a V4L2 capture node: memory-mapped buffers, a streaming
// thread, and libv4lconvert turning each frame into a bottom-up BGR24 image,
// which is what a DirectShow RGB24 sample holds.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "v4l2_device.h"
#include "v4l2_formats.h"

struct v4lconvert_data;
struct ConverterSeam;

class V4l2Stream {
public:
    // Called on the streaming thread with each converted frame.
    using FrameSink = std::function<void(BYTE* data, LONG length, double seconds)>;
    // Called on the streaming thread once when no frame can come any more:
    // the device has gone away, it holds none of our buffers, or it keeps
    // failing to hand one over.
    using LossSink = std::function<void()>;

    // Failed requests for a frame in a row, a poll period apart, after
    // which the device counts as lost.
    static constexpr int kMostFailedDequeues = 20;

    explicit V4l2Stream(V4l2Device& device);
    ~V4l2Stream();
    V4l2Stream(const V4l2Stream&) = delete;
    V4l2Stream& operator=(const V4l2Stream&) = delete;

    // Starts streaming frames of width × height in the format that the driver
    // has once our buffers are allocated, which locks it (another program may
    // have changed it since the device last asked); 0 or an errno: EBUSY when
    // the driver's frames no longer have that size, EINVAL when they are not
    // whole frames in a format that can be converted.
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
    // Whether frames of the format the driver states can be converted, and
    // how they are handed to the converter.
    int AcceptSource();
    void Run();
    // Waits a poll period, or less when the stream is being stopped.
    void Rest();
    bool Deliver(const v4l2_buffer& buffer);
    // The bytes of a frame that can be converted; null when it is dropped.
    BYTE* Readable(const v4l2_buffer& buffer, int* length);
    // Says on standard error, once per stream, that frames of a kind are dropped.
    void SayDropped(bool* said, const char* kind);
    void ReleaseBuffers();

    V4l2Device& m_device;
    std::unique_ptr<ConverterSeam> m_seam;  // what the converter asks the device through
    v4lconvert_data* m_convert = nullptr;
    bool m_buffersRequested = false;  // the driver holds buffers for us, mapped or not
    v4l2_format m_source{};     // as the driver states it
    v4l2_format m_converted{};  // as the converter is given it: rows packed
    v4l2_format m_target{};
    bool m_compressed = false;  // frames are compressed images
    FrameLayout m_layout;       // where the rows of an uncompressed frame lie
    std::vector<MappedBuffer> m_buffers;
    std::vector<BYTE> m_packed;    // a padded frame with its rows packed
    std::vector<BYTE> m_topDown;   // converted frame, rows top-down
    std::vector<BYTE> m_bottomUp;  // the same rows in the order of a sample

    // The streaming thread's: buffers the driver holds to fill, and which
    // faults have been said.
    size_t m_queued = 0;
    bool m_saidRequeue = false;
    bool m_saidConversion = false;
    bool m_saidDamaged = false;
    bool m_saidEmpty = false;
    bool m_saidCut = false;

    FrameSink m_frames;
    LossSink m_lost;
    std::mutex m_stopLock;  // with m_stopped: wakes the thread from a rest
    std::condition_variable m_stopped;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

