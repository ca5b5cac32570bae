#include "v4l2_device.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "fake_video_kernel.h"

TEST(V4l2Device, ProbeTellsCaptureNodesFromOthersAndUnreadableOnes) {
    FakeVideoKernel kernel;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(640, 480)});
    FakeNode metadata;
    metadata.capabilities = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    kernel.AddNode(metadata);
    FakeNode locked;
    locked.openError = EACCES;
    kernel.AddNode(locked);
    FakeNode readOnly;  // captures, but only with read(), which we do not use
    readOnly.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE;
    kernel.AddNode(readOnly);

    std::string card;
    EXPECT_EQ(V4l2Device::Probe(kernel, "/dev/video0", &card), NodeKind::Capture);
    EXPECT_EQ(card, "Cam");
    EXPECT_EQ(V4l2Device::Probe(kernel, "/dev/video1", nullptr), NodeKind::Other);
    EXPECT_EQ(V4l2Device::Probe(kernel, "/dev/video2", nullptr), NodeKind::Unreadable);
    EXPECT_EQ(V4l2Device::Probe(kernel, "/dev/video3", nullptr), NodeKind::Other);
    EXPECT_EQ(kernel.OpenDescriptors(), 0);

    int error = 0;
    EXPECT_EQ(V4l2Device::Open(kernel, "/dev/video2", &error), nullptr);
    EXPECT_EQ(error, EACCES);
    // A node that does not capture is no capture device, whatever failed before.
    for (const char* other : {"/dev/video1", "/dev/video3"}) {
        error = EACCES;
        errno = EACCES;
        EXPECT_EQ(V4l2Device::Open(kernel, other, &error), nullptr);
        EXPECT_EQ(error, ENODEV) << other;
    }
    EXPECT_EQ(kernel.OpenDescriptors(), 0);
}

TEST(V4l2Device, CapabilitiesAreOneEntryPerSizeOrRangeOfConvertibleFormats) {
    FakeVideoKernel kernel;
    FakeNode node;
    node.formats = {
        {V4L2_PIX_FMT_YUYV, {Discrete(640, 480), Discrete(320, 240)}},
        {V4L2_PIX_FMT_H264, {Discrete(1920, 1080)}},  // nothing converts it: left out
        // libv4lconvert reads it, but its rows lie in tiles whose padding we
        // cannot take out: left out.
        {V4L2_PIX_FMT_HM12, {Discrete(720, 480)}},
        {V4L2_PIX_FMT_MJPEG, {Stepwise(160, 1280, 160, 120, 960, 120)}},
    };
    node.pixelFormat = V4L2_PIX_FMT_YUYV;
    node.width = 640;
    node.height = 480;
    kernel.AddNode(node);
    int error = 0;
    auto device = V4l2Device::Open(kernel, "/dev/video0", &error);
    ASSERT_NE(device, nullptr);
    std::vector<DeviceCapability> caps = device->Capabilities();
    ASSERT_EQ(caps.size(), 3u);
    EXPECT_EQ(caps[0].pixelFormat, V4L2_PIX_FMT_YUYV);
    EXPECT_EQ(caps[0].minWidth, 640u);
    EXPECT_EQ(caps[0].maxWidth, 640u);
    EXPECT_EQ(caps[0].stepWidth, 1u);
    EXPECT_EQ(caps[1].maxHeight, 240u);
    EXPECT_EQ(caps[2].pixelFormat, V4L2_PIX_FMT_MJPEG);
    EXPECT_EQ(caps[2].minWidth, 160u);
    EXPECT_EQ(caps[2].maxWidth, 1280u);
    EXPECT_EQ(caps[2].stepWidth, 160u);
    EXPECT_EQ(caps[2].stepHeight, 120u);
}

TEST(V4l2Device, DriverThatCannotListSizesOffersItsCurrentOne) {
    FakeVideoKernel kernel;
    FakeNode& node = kernel.AddCamera("Old", V4L2_PIX_FMT_YUYV, {Discrete(352, 288)});
    node.listsSizes = false;
    int error = 0;
    auto device = V4l2Device::Open(kernel, "/dev/video0", &error);
    std::vector<DeviceCapability> caps = device->Capabilities();
    ASSERT_EQ(caps.size(), 1u);
    EXPECT_EQ(caps[0].maxWidth, 352u);
    EXPECT_EQ(caps[0].maxHeight, 288u);
}

TEST(V4l2Device, ExactFormatIsSetOrRefusedWithoutChangingTheDevice) {
    FakeVideoKernel kernel;
    FakeNode node;
    node.formats = {{V4L2_PIX_FMT_YUYV, {Discrete(640, 480), Discrete(1280, 720)}}};
    node.pixelFormat = V4L2_PIX_FMT_YUYV;
    node.width = 640;
    node.height = 480;
    FakeNode& added = kernel.AddNode(node);
    int error = 0;
    auto device = V4l2Device::Open(kernel, "/dev/video0", &error);
    v4l2_format applied;
    EXPECT_TRUE(device->SetExactFormat(V4L2_PIX_FMT_YUYV, 1280, 720, &applied));
    EXPECT_EQ(applied.fmt.pix.width, 1280u);
    EXPECT_EQ(added.width, 1280u);
    // A driver would answer 1280 × 720 for 800 × 600: that is a refusal here.
    EXPECT_FALSE(device->SetExactFormat(V4L2_PIX_FMT_YUYV, 800, 600, &applied));
    EXPECT_FALSE(device->SetExactFormat(V4L2_PIX_FMT_BGR24, 640, 480, &applied));
    EXPECT_EQ(added.width, 1280u);
    EXPECT_EQ(added.height, 720u);
    EXPECT_EQ(added.pixelFormat, V4L2_PIX_FMT_YUYV);
}

// Left to choose, an interlaced capture card may answer with one field per
// buffer at half the height; whole frames are what the stream converts.
TEST(V4l2Device, ExactFormatIsInWholeFramesProgressiveElseInterlaced) {
    struct Case {
        const char* what;
        std::vector<uint32_t> fields;  // the card's own choice first
        uint32_t current;              // the field order it was left in
        bool set;
        uint32_t expected;             // the field order it is then in
    };
    const Case cases[] = {
        {"webcam", {V4L2_FIELD_NONE}, V4L2_FIELD_NONE, true, V4L2_FIELD_NONE},
        {"interlaced card left at alternate fields", {V4L2_FIELD_ALTERNATE, V4L2_FIELD_INTERLACED},
         V4L2_FIELD_ALTERNATE, true, V4L2_FIELD_INTERLACED},
        {"card with fields only", {V4L2_FIELD_ALTERNATE, V4L2_FIELD_SEQ_TB}, V4L2_FIELD_SEQ_TB, false,
         V4L2_FIELD_SEQ_TB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeVideoKernel kernel;
        FakeNode& node = kernel.AddCamera("Card", V4L2_PIX_FMT_YUYV, {Discrete(720, 480), Discrete(640, 480)});
        node.fields = c.fields;
        node.field = c.current;
        int error = 0;
        auto device = V4l2Device::Open(kernel, "/dev/video0", &error);
        ASSERT_NE(device, nullptr);
        for (uint32_t width : {720u, 640u}) {
            v4l2_format applied;
            std::memset(&applied, 0, sizeof applied);
            EXPECT_EQ(device->SetExactFormat(V4L2_PIX_FMT_YUYV, width, 480, &applied), c.set) << width;
            if (c.set) {
                EXPECT_EQ(applied.fmt.pix.field, c.expected) << width;
                EXPECT_EQ(node.width, width);
            } else {
                EXPECT_EQ(node.width, 720u) << "left as it was";
            }
            EXPECT_EQ(node.field, c.expected) << width;
        }
    }
}
