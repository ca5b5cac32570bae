// The engine on the synthetic image corpus: every image is scanned in
// omni-directional mode with all five types enabled.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "barcode_type.h"
#include "corpus.h"
#include "scanner.h"

namespace {

struct Outcome {
    corpus::Row row;
    bool loaded = false;
    std::string error;
    barcode::Result result;
};

bool DecoderExists(int type)
{
    std::unique_ptr<barcode::BarcodeType> decoder(barcode::CreateBarcodeType(type));
    return decoder != nullptr;
}

// The symbologies whose decoders are built, by manifest name.
std::set<std::string> SymbologiesUnderTest()
{
    std::set<std::string> names;
    if (DecoderExists(barcode::TYPE_EAN13)) {
        names.insert("EAN13");
        names.insert("UPCA");
    }
    if (DecoderExists(barcode::TYPE_EAN8))
        names.insert("EAN8");
    if (DecoderExists(barcode::TYPE_UPCE))
        names.insert("UPCE");
    if (DecoderExists(barcode::TYPE_CODE39))
        names.insert("CODE39");
    if (DecoderExists(barcode::TYPE_CODE128))
        names.insert("CODE128");
    return names;
}

// Rows the engine must read exactly. Beyond the manifest's own "yes" rows,
// UPC-E turned 90 to 180 degrees is read too: the decoder also reads it from
// right to left.
bool Required(const corpus::Row& row, const std::set<std::string>& family)
{
    if (row.type == barcode::TYPE_NONE)
        return row.required == "yes";
    if (family.count(row.symbology) == 0)
        return false;
    if (row.required == "yes")
        return true;
    static const std::set<std::string> upsideDownish = {"rot090", "rot120", "rot150", "rot180"};
    return row.symbology == "UPCE" && upsideDownish.count(row.condition) > 0;
}

Outcome ScanRow(barcode::Scanner& scanner, const corpus::Row& row)
{
    Outcome outcome;
    outcome.row = row;
    corpus::RgbImage image;
    outcome.loaded = corpus::LoadRgb24(corpus::Folder() + "/" + row.file, image, outcome.error);
    if (!outcome.loaded)
        return outcome;
    const barcode::Image record = {image.pixels.data(), static_cast<uint32_t>(image.width),
                                   static_cast<uint32_t>(image.height), image.width, barcode::PIXEL_RGB24};
    outcome.result = scanner.Scan(&record);
    return outcome;
}

std::string Describe(const barcode::Result& result)
{
    if (result.type == barcode::TYPE_NONE && result.value.empty())
        return "nothing";
    std::ostringstream out;
    out << "\"" << result.value << "\" type " << result.type;
    return out.str();
}

// A value or a type other than the expected one is a fault on every row.
void ExpectNoWrongRead(const Outcome& outcome)
{
    const barcode::Result& r = outcome.result;
    if (r.type == barcode::TYPE_NONE) {
        EXPECT_TRUE(r.value.empty()) << outcome.row.file << ": type 17 with a value";
        return;
    }
    EXPECT_TRUE(r.value == outcome.row.expected && r.type == outcome.row.type)
        << outcome.row.file << " (" << outcome.row.condition << "): read " << Describe(r) << ", expected \""
        << outcome.row.expected << "\" type " << outcome.row.type;
}

class CorpusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rows = corpus::ReadManifest(corpus::Folder());
        ASSERT_FALSE(rows.empty());
        scanner.SetTypes(barcode::TYPE_EAN8 | barcode::TYPE_EAN13 | barcode::TYPE_UPCE | barcode::TYPE_CODE39 |
                         barcode::TYPE_CODE128);
        scanner.SetMode(true);
        family = SymbologiesUnderTest();
    }

    std::vector<corpus::Row> rows;
    barcode::Scanner scanner;
    std::set<std::string> family;
};

TEST(CorpusManifest, UnescapesBytesAndBackslashes)
{
    EXPECT_EQ(corpus::Unescape("ABC\\x09DEF"), std::string("ABC\tDEF"));
    EXPECT_EQ(corpus::Unescape("\\x1BPART\\x0D"), std::string("\x1B" "PART\r"));
    EXPECT_EQ(corpus::Unescape("a\\x5Cb"), std::string("a\\b"));
    EXPECT_EQ(corpus::Unescape("[FNC1]01"), std::string("[FNC1]01"));
}

TEST_F(CorpusTest, RequiredRowsReadExactly)
{
    int checked = 0;
    for (const corpus::Row& row : rows) {
        if (!Required(row, family))
            continue;
        const Outcome outcome = ScanRow(scanner, row);
        ASSERT_TRUE(outcome.loaded) << row.file << ": " << outcome.error;
        ++checked;
        if (row.type == barcode::TYPE_NONE) {
            EXPECT_EQ(outcome.result.type, barcode::TYPE_NONE)
                << row.file << " (" << row.condition << "): read " << Describe(outcome.result);
            EXPECT_TRUE(outcome.result.value.empty()) << row.file;
        } else {
            EXPECT_TRUE(outcome.result.value == row.expected && outcome.result.type == row.type)
                << row.file << " (" << row.condition << "): read " << Describe(outcome.result)
                << ", expected \"" << row.expected << "\" type " << row.type;
        }
    }
    EXPECT_GT(checked, 0);
}

// Everything else: nothing or exactly the expected value. The share read is
// printed per condition, so that a drop shows.
TEST_F(CorpusTest, OtherRowsNeverReadWrongAndReportShare)
{
    std::map<std::string, std::pair<int, int>> share; // condition -> read, total
    for (const corpus::Row& row : rows) {
        if (Required(row, family))
            continue;
        const Outcome outcome = ScanRow(scanner, row);
        ASSERT_TRUE(outcome.loaded) << row.file << ": " << outcome.error;
        ExpectNoWrongRead(outcome);
        if (family.count(row.symbology) == 0)
            continue;
        auto& counts = share[row.condition];
        ++counts.second;
        if (outcome.result.type == row.type && outcome.result.value == row.expected)
            ++counts.first;
        else
            std::cout << "  not read: " << row.file << " (" << row.condition << ")\n";
    }
    std::cout << "Rows that may be missed, read per condition:\n";
    for (const auto& entry : share)
        std::cout << "  " << entry.first << ": " << entry.second.first << " of " << entry.second.second << "\n";
}

} // namespace

namespace {

// Every enabled-types mask from 0 to 31 on one upright print of each
// symbology: a symbol is read exactly when its decoder is enabled, and the
// other decoders make nothing of it.
TEST_F(CorpusTest, EveryMaskReadsExactlyTheEnabledSymbologies)
{
    struct Print {
        corpus::Row row;
        corpus::RgbImage image;
    };
    std::vector<Print> prints;
    std::set<std::string> seen;
    for (const corpus::Row& row : rows) {
        if (row.condition != "clean" || family.count(row.symbology) == 0 || !seen.insert(row.symbology).second)
            continue;
        Print print{row, {}};
        std::string error;
        ASSERT_TRUE(corpus::LoadRgb24(corpus::Folder() + "/" + row.file, print.image, error)) << error;
        prints.push_back(std::move(print));
    }
    ASSERT_EQ(prints.size(), family.size());

    scanner.SetMode(false); // the prints are upright
    for (int mask = 0; mask <= 31; ++mask) {
        scanner.SetTypes(mask);
        for (const Print& print : prints) {
            const barcode::Image record = {print.image.pixels.data(), static_cast<uint32_t>(print.image.width),
                                           static_cast<uint32_t>(print.image.height), print.image.width,
                                           barcode::PIXEL_RGB24};
            const barcode::Result result = scanner.Scan(&record);
            // UPC-A is read by the EAN-13 decoder.
            const int bit = print.row.type == barcode::TYPE_UPCA ? barcode::TYPE_EAN13 : print.row.type;
            if ((mask & bit) != 0) {
                EXPECT_TRUE(result.value == print.row.expected && result.type == print.row.type)
                    << "mask " << mask << ", " << print.row.file << ": read " << Describe(result);
            } else {
                EXPECT_EQ(result.type, barcode::TYPE_NONE)
                    << "mask " << mask << ", " << print.row.file << ": read " << Describe(result);
            }
        }
    }
}

} // namespace
