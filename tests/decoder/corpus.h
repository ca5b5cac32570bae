// The synthetic image corpus: its manifest and an image loader that turns
// every file into a packed RGB24 buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corpus {

struct Row {
    std::string file;      // relative to the corpus folder
    std::string symbology; // EAN13, UPCA, EAN8, UPCE, CODE39, CODE128, NONE, ...
    std::string expected;  // the value the engine must report, unescaped
    int type = 0;          // the result type it must report; 17 for nothing
    std::string condition; // clean, rot030, blur, ...
    std::string required;  // "yes" or "maybe"
    std::string note;
};

// Rows of an RGB24 image: three bytes per pixel, red first, rows packed.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// The corpus folder, as the build configured it.
std::string Folder();

// Reads manifest.tsv of a corpus folder. Throws std::runtime_error when it
// cannot be read or a row is malformed.
std::vector<Row> ReadManifest(const std::string& folder);

// Turns the manifest's escapes (\xNN) into bytes.
std::string Unescape(const std::string& escaped);

// Loads a PNG, JPEG, BMP, GIF or TIFF file. False, with a reason in error,
// when it cannot.
bool LoadRgb24(const std::string& path, RgbImage& image, std::string& error);

} // namespace corpus
