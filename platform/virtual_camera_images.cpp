#include "virtual_camera_images.h"

#include <dirent.h>
#include <stb_image.h>
#include <stb_image_resize.h>
#include <stb_image_write.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

constexpr int kJpegQuality = 90;

bool HasImageExtension(const std::string& name) {
    static const char* const kExtensions[] = {".png", ".jpg", ".jpeg", ".bmp", ".gif", ".tga", ".pnm", ".ppm", ".pgm"};
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* extension : kExtensions) {
        std::string ending(extension);
        if (lower.size() > ending.size() && lower.compare(lower.size() - ending.size(), ending.size(), ending) == 0)
            return true;
    }
    return false;
}

bool Readable(const std::string& file) {
    int width, height, channels;
    return stbi_info(file.c_str(), &width, &height, &channels) != 0 && width > 0 && height > 0;
}

uint8_t Clamp(double value) {
    long rounded = std::lround(value);
    return static_cast<uint8_t>(rounded < 0 ? 0 : rounded > 255 ? 255 : rounded);
}

void AppendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

std::vector<std::string> ListSourceImages(const std::string& source) {
    struct stat info;
    if (stat(source.c_str(), &info) != 0) return {};
    if (!S_ISDIR(info.st_mode)) return Readable(source) ? std::vector<std::string>{source} : std::vector<std::string>{};
    std::vector<std::string> names;
    if (DIR* folder = opendir(source.c_str())) {
        while (dirent* entry = readdir(folder))
            if (entry->d_name[0] != '.' && HasImageExtension(entry->d_name)) names.push_back(entry->d_name);
        closedir(folder);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> files;
    for (const std::string& name : names) {
        std::string file = source + "/" + name;
        if (Readable(file)) files.push_back(file);
    }
    return files;
}

std::vector<uint8_t> BlankFrame(uint32_t width, uint32_t height) {
    return std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, 255);
}

bool RenderImage(const std::string& file, uint32_t width, uint32_t height, std::vector<uint8_t>* rgb) {
    int imageWidth, imageHeight, channels;
    stbi_uc* pixels = stbi_load(file.c_str(), &imageWidth, &imageHeight, &channels, 3);
    if (pixels == nullptr) return false;
    double scale = std::min(static_cast<double>(width) / imageWidth, static_cast<double>(height) / imageHeight);
    uint32_t fitWidth = std::max<uint32_t>(1, std::min<uint32_t>(width, static_cast<uint32_t>(std::lround(imageWidth * scale))));
    uint32_t fitHeight = std::max<uint32_t>(1, std::min<uint32_t>(height, static_cast<uint32_t>(std::lround(imageHeight * scale))));
    std::vector<uint8_t> fitted(static_cast<size_t>(fitWidth) * fitHeight * 3);
    int resized = 1;
    if (fitWidth == static_cast<uint32_t>(imageWidth) && fitHeight == static_cast<uint32_t>(imageHeight))
        std::copy_n(pixels, fitted.size(), fitted.data());  // the resampler would soften a picture it need not touch
    else
        resized = stbir_resize_uint8(pixels, imageWidth, imageHeight, 0, fitted.data(), static_cast<int>(fitWidth),
                                     static_cast<int>(fitHeight), 0, 3);
    stbi_image_free(pixels);
    if (resized == 0) return false;

    *rgb = BlankFrame(width, height);
    const size_t left = (width - fitWidth) / 2;
    const size_t top = (height - fitHeight) / 2;
    for (size_t row = 0; row < fitHeight; ++row)
        std::copy_n(&fitted[row * fitWidth * 3], fitWidth * 3, &(*rgb)[((top + row) * width + left) * 3]);
    return true;
}

std::vector<uint8_t> EncodeYuyv(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height) {
    std::vector<uint8_t> yuyv(static_cast<size_t>(width) * height * 2);
    auto luma = [](const uint8_t* p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; };
    for (size_t pair = 0; pair < yuyv.size() / 4; ++pair) {
        const uint8_t* first = &rgb[pair * 6];
        const uint8_t* second = first + 3;
        double r = (first[0] + second[0]) / 2.0, g = (first[1] + second[1]) / 2.0, b = (first[2] + second[2]) / 2.0;
        uint8_t* out = &yuyv[pair * 4];
        out[0] = Clamp(luma(first));
        out[1] = Clamp(128 - 0.168736 * r - 0.331264 * g + 0.5 * b);
        out[2] = Clamp(luma(second));
        out[3] = Clamp(128 + 0.5 * r - 0.418688 * g - 0.081312 * b);
    }
    return yuyv;
}

std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height) {
    std::vector<uint8_t> jpeg;
    stbi_write_jpg_to_func(AppendBytes, &jpeg, static_cast<int>(width), static_cast<int>(height), 3, rgb.data(),
                           kJpegQuality);
    return jpeg;
}
