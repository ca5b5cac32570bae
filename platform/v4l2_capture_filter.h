// A V4L2 capture node as a capture filter: one output pin of the capture
// category, whose IAMStreamConfig offers the node's formats and frame sizes,
// and which delivers RGB24 samples converted by libv4lconvert.
#pragma once

#include <string>

#include "dshow.h"
#include "v4l2_kernel.h"

// Opens the node and makes its filter; fails when the node cannot be opened
// or does not capture video.
HRESULT CreateV4l2CaptureFilter(VideoKernel& kernel, const std::string& path, REFIID riid, void** object);
