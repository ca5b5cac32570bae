#include "corpus.h"

#include <stb_image.h>
#include <tiffio.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace corpus {

namespace {

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t'))
        fields.push_back(field);
    if (!line.empty() && line.back() == '\t')
        fields.emplace_back();
    return fields;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool EndsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool LoadTiff(const std::string& path, RgbImage& image, std::string& error)
{
    TIFFSetWarningHandler(nullptr);
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr) {
        error = "cannot open TIFF";
        return false;
    }
    uint32_t width = 0;
    uint32_t height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    std::vector<uint32_t> rgba(static_cast<std::size_t>(width) * height);
    const bool ok = width > 0 && height > 0 &&
                    TIFFReadRGBAImageOriented(tiff, width, height, rgba.data(), ORIENTATION_TOPLEFT, 0) == 1;
    TIFFClose(tiff);
    if (!ok) {
        error = "cannot decode TIFF";
        return false;
    }
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.pixels.resize(rgba.size() * 3);
    for (std::size_t k = 0; k < rgba.size(); ++k) {
        image.pixels[3 * k] = static_cast<uint8_t>(TIFFGetR(rgba[k]));
        image.pixels[3 * k + 1] = static_cast<uint8_t>(TIFFGetG(rgba[k]));
        image.pixels[3 * k + 2] = static_cast<uint8_t>(TIFFGetB(rgba[k]));
    }
    return true;
}

} // namespace

std::string Folder()
{
    return MORVELIX_CORPUS_DIR;
}

std::string Unescape(const std::string& escaped)
{
    std::string out;
    for (std::size_t k = 0; k < escaped.size(); ++k) {
        if (escaped[k] == '\\' && k + 3 < escaped.size() && escaped[k + 1] == 'x') {
            const int high = HexValue(escaped[k + 2]);
            const int low = HexValue(escaped[k + 3]);
            if (high < 0 || low < 0)
                throw std::runtime_error("bad escape in " + escaped);
            out.push_back(static_cast<char>(high * 16 + low));
            k += 3;
        } else {
            out.push_back(escaped[k]);
        }
    }
    return out;
}

std::vector<Row> ReadManifest(const std::string& folder)
{
    std::ifstream in(folder + "/manifest.tsv");
    if (!in)
        throw std::runtime_error("cannot read " + folder + "/manifest.tsv");
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> header = SplitTabs(line);
    auto column = [&header](const std::string& name) {
        for (std::size_t k = 0; k < header.size(); ++k) {
            if (header[k] == name)
                return k;
        }
        throw std::runtime_error("manifest has no column " + name);
    };
    const std::size_t file = column("file");
    const std::size_t symbology = column("symbology");
    const std::size_t expected = column("expected");
    const std::size_t type = column("type");
    const std::size_t condition = column("condition");
    const std::size_t required = column("required");
    const std::size_t note = column("note");

    std::vector<Row> rows;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        const std::vector<std::string> fields = SplitTabs(line);
        if (fields.size() < header.size())
            throw std::runtime_error("short manifest row: " + line);
        Row row;
        row.file = fields[file];
        row.symbology = fields[symbology];
        row.expected = Unescape(fields[expected]);
        row.type = std::stoi(fields[type]);
        row.condition = fields[condition];
        row.required = fields[required];
        row.note = fields[note];
        rows.push_back(row);
    }
    return rows;
}

bool LoadRgb24(const std::string& path, RgbImage& image, std::string& error)
{
    if (EndsWith(path, ".tif") || EndsWith(path, ".tiff"))
        return LoadTiff(path, image, error);
    int width = 0;
    int height = 0;
    int channels = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
    if (pixels == nullptr) {
        const char* reason = stbi_failure_reason();
        error = reason != nullptr ? reason : "cannot decode";
        return false;
    }
    image.width = width;
    image.height = height;
    image.pixels.assign(pixels, pixels + static_cast<std::size_t>(width) * height * 3);
    stbi_image_free(pixels);
    return true;
}

} // namespace corpus
