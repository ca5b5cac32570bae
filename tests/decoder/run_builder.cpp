#include "run_builder.h"

#include <algorithm>
#include <stdexcept>

namespace testing_runs {

void RunBuilder::Add(bool dark, int tenths)
{
    if (tenths < 0 || tenths > 32767)
        throw std::invalid_argument("run width out of range");
    if (m_widths.empty()) {
        if (!dark)
            m_widths.push_back(0);
        m_widths.push_back(static_cast<int16_t>(tenths));
        return;
    }
    const bool lastDark = (m_widths.size() - 1) % 2 == 0;
    if (lastDark == dark)
        m_widths.back() = static_cast<int16_t>(m_widths.back() + tenths);
    else
        m_widths.push_back(static_cast<int16_t>(tenths));
}

RunBuilder& RunBuilder::Dark(int tenths)
{
    Add(true, tenths);
    return *this;
}

RunBuilder& RunBuilder::Light(int tenths)
{
    Add(false, tenths);
    return *this;
}

RunBuilder& RunBuilder::Modules(const std::vector<int>& modules, int unit)
{
    for (std::size_t k = 0; k < modules.size(); ++k)
        Add(k % 2 == 0, modules[k] * unit);
    return *this;
}

RunBuilder& RunBuilder::Widths(const std::vector<int>& tenths)
{
    for (std::size_t k = 0; k < tenths.size(); ++k)
        Add(k % 2 == 0, tenths[k]);
    return *this;
}

barcode::RunLine View(std::vector<int16_t>& widths)
{
    barcode::RunLine line;
    line.count = static_cast<int>(widths.size());
    line.widths = widths.data();
    return line;
}

std::vector<int16_t> Reversed(const std::vector<int16_t>& widths)
{
    std::vector<int16_t> source = widths;
    std::size_t first = 0;
    if (!source.empty() && source[0] == 0)
        first = 1; // the empty dark run of a line that begins light
    RunBuilder builder;
    for (std::size_t k = source.size(); k > first; --k) {
        const std::size_t index = k - 1;
        if (index % 2 == 0)
            builder.Dark(source[index]);
        else
            builder.Light(source[index]);
    }
    return builder.Runs();
}

std::vector<int16_t> Overlapped(const std::vector<int>& first, int shared, const std::vector<int>& second, int from,
                                int unit)
{
    if (from % 2 != 0)
        throw std::invalid_argument("the second symbol must go on with a bar");
    RunBuilder builder;
    builder.Light(300).Widths(first).Light(shared);
    for (std::size_t k = static_cast<std::size_t>(from); k < second.size(); ++k) {
        if (k % 2 == 0)
            builder.Dark(second[k] * unit);
        else
            builder.Light(second[k] * unit);
    }
    builder.Light(300);
    return builder.Runs();
}

std::vector<int16_t> WithoutFirstBar(std::vector<int16_t> widths)
{
    // widths[0] is the empty dark run of a line that begins light.
    if (widths.size() < 5 || widths[0] != 0)
        throw std::invalid_argument("the line must begin light, with a bar after it");
    widths[1] = static_cast<int16_t>(widths[1] + widths[2] + widths[3]);
    widths.erase(widths.begin() + 2, widths.begin() + 4);
    return widths;
}

std::vector<int> ToTenths(const std::vector<int>& modules, int unit, int noise, std::mt19937& random)
{
    std::uniform_int_distribution<int> jitter(-noise, noise);
    std::vector<int> tenths;
    tenths.reserve(modules.size());
    for (int m : modules)
        tenths.push_back(std::max(1, m * unit + (noise > 0 ? jitter(random) : 0)));
    return tenths;
}

std::vector<int16_t> SymbolInJunk(const std::vector<int>& modules, int unit, int noise, int quietModules,
                                  std::mt19937& random)
{
    std::uniform_int_distribution<int> junkCount(0, 12);
    std::uniform_int_distribution<int> junkWidth(5, 6 * unit);
    RunBuilder builder;
    const int before = junkCount(random);
    for (int k = 0; k < before; ++k) {
        if (k % 2 == 0)
            builder.Light(junkWidth(random));
        else
            builder.Dark(junkWidth(random));
    }
    builder.Light(quietModules * unit + std::uniform_int_distribution<int>(0, 5 * unit)(random));
    builder.Widths(ToTenths(modules, unit, noise, random));
    builder.Light(quietModules * unit + std::uniform_int_distribution<int>(0, 5 * unit)(random));
    const int after = junkCount(random);
    for (int k = 0; k < after; ++k) {
        if (k % 2 == 0)
            builder.Dark(junkWidth(random));
        else
            builder.Light(junkWidth(random));
    }
    return builder.Runs();
}

} // namespace testing_runs
