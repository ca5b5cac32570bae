// Where the data blocks of a GIF file end: the places at which a cut-off
// file once made the toolkit's GIF decoder read past its buffer.
#pragma once

#include <string>
#include <vector>

// The offsets just past each data sub-block of the file's images, in file
// order; empty for what is no GIF. Extensions are stepped over.
inline std::vector<size_t> GifDataBlockEnds(const std::string& gif)
{
    std::vector<size_t> ends;
    auto at = [&gif](size_t i) { return i < gif.size() ? static_cast<unsigned char>(gif[i]) : 0u; };
    if (gif.compare(0, 4, "GIF8") != 0 || gif.size() < 13)
        return ends;
    size_t i = 13;
    if (at(10) & 0x80)
        i += 3u << ((at(10) & 7) + 1); // global colour table
    while (i < gif.size()) {
        if (at(i) == 0x21) { // extension: label, then sub-blocks
            i += 2;
            while (i < gif.size() && at(i) != 0)
                i += at(i) + 1;
            ++i;
        } else if (at(i) == 0x2c) { // image: descriptor, local table, code size, data
            const unsigned flags = at(i + 9);
            i += 10;
            if (flags & 0x80)
                i += 3u << ((flags & 7) + 1);
            ++i;
            while (i < gif.size() && at(i) != 0) {
                i += at(i) + 1;
                ends.push_back(i);
            }
            ++i;
        } else {
            break; // the trailer, or damage
        }
    }
    return ends;
}
