// Image files made byte by byte, for the image tests and the benchmarks:
// small files whose pictures are as large as their headers say (the
// decoders fill in what the data leaves out), and files that make the
// toolkit's decoders crash, take gigabytes or run for minutes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// `value` in `bytes` bytes, little-endian unless asked otherwise.
std::string Number(uint64_t value, int bytes, bool bigEndian = false);

std::string GifOf(uint32_t width, uint32_t height);
std::string PngOf(uint32_t width, uint32_t height);
std::string JpegOf(uint32_t width, uint32_t height);
std::string BmpOf(uint32_t width, uint32_t height);
std::string TiffOf(uint32_t width, uint32_t height);
std::string PnmOf(uint32_t width, uint32_t height);
std::string PcxOf(uint32_t width, uint32_t height);
std::string TgaOf(uint32_t width, uint32_t height);
std::string IffOf(uint32_t width, uint32_t height);
std::string IcoOf(uint32_t width, uint32_t height);
std::string CurOf(uint32_t width, uint32_t height);
std::string AniOf(uint32_t width, uint32_t height);

struct PictureMaker {
    const char* extension;
    std::string (*make)(uint32_t width, uint32_t height);
};
extern const PictureMaker kMakers[12];

// An ILBM picture: its colour map (none when empty), bit planes,
// compression (1: run-length coded), transparent colour and body.
std::string IffFile(uint32_t width, uint32_t height, const std::string& colours, int planes,
                    int compression, int transparent, const std::string& body);
extern const std::string kWhiteBlack; // a colour map: white, black

// An animated cursor of these icons and steps; `sequence` names the icon of
// each step, or else the steps show the icons in turn.
std::string AniFile(const std::vector<std::string>& icons, uint32_t steps,
                    const std::vector<uint32_t>& sequence = {});

// Files on which the toolkit's own decoders crash, read out of bounds,
// allocate gigabytes or spend minutes, each small and each passing the
// header readers; one of each kind found.
struct HostileFile {
    const char* name; // with the extension of its format
    std::string bytes;
};
std::vector<HostileFile> HostileFiles();
