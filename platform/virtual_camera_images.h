// The pictures of the virtual camera: the image files it shows, each drawn
// into a frame of the negotiated size and encoded as a camera would send it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The image files of a source: the file itself, or the readable images of a
// folder in name order (PNG, JPEG, BMP, GIF, TGA, PNM).
std::vector<std::string> ListSourceImages(const std::string& source);

// Draws an image into a width × height RGB frame: scaled to fit without
// changing its proportions, centred on white. False when it cannot be read.
bool RenderImage(const std::string& file, uint32_t width, uint32_t height, std::vector<uint8_t>* rgb);

// A white frame, for an image that can no longer be read.
std::vector<uint8_t> BlankFrame(uint32_t width, uint32_t height);

// Packed 4:2:2 Y U Y V, full-range BT.601 as libv4lconvert reads it back;
// width must be even.
std::vector<uint8_t> EncodeYuyv(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height);

// One baseline JPEG image, as a motion-JPEG camera sends each frame.
std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height);
