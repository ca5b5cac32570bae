// The decoder factory and the ordered decoder set.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "decoder_set.h"
#include "ean13.h"

namespace {

// Accepts every line with a fixed text and counts what it is asked.
class FakeDecoder : public barcode::BarcodeType {
public:
    FakeDecoder(const char* text, bool accepts, std::vector<std::string>& log)
        : m_text(text), m_accepts(accepts), m_log(log)
    {
    }
    bool Decode(const barcode::RunLine&, barcode::Result& out) override
    {
        m_log.push_back(std::string("decode ") + m_text);
        if (!m_accepts)
            return false;
        out.value = m_text;
        out.type = 1;
        return true;
    }
    void Reset() override { m_log.push_back(std::string("reset ") + m_text); }

    const char* m_text;
    bool m_accepts;
    std::vector<std::string>& m_log;
};

TEST(BarcodeTypeFactory, OneDecoderPerTypeBit)
{
    std::unique_ptr<barcode::BarcodeType> ean13(barcode::CreateBarcodeType(barcode::TYPE_EAN13));
    ASSERT_NE(ean13, nullptr);
    EXPECT_NE(dynamic_cast<barcode::EAN13BarcodeType*>(ean13.get()), nullptr);
    EXPECT_TRUE(ean13->m_found);
    for (int type : {0, 3, 17, 32, 64, -1, 1 << 30})
        EXPECT_EQ(std::unique_ptr<barcode::BarcodeType>(barcode::CreateBarcodeType(type)), nullptr) << type;
}

TEST(DecoderSet, EveryDecoderSeesTheLineAndTheLastAcceptingOneWins)
{
    std::vector<std::string> log;
    barcode::DecoderSet set;
    set.m_decoders.push_back(new FakeDecoder("first", true, log));
    set.m_decoders.push_back(new FakeDecoder("second", false, log));
    set.m_decoders.push_back(new FakeDecoder("third", true, log));
    set.m_decoders.push_back(new FakeDecoder("fourth", false, log));

    barcode::Result out;
    barcode::RunLine line;
    EXPECT_TRUE(set.Decode(line, out));
    EXPECT_EQ(out.value, "third");
    set.Reset();
    EXPECT_EQ(log, (std::vector<std::string>{"decode first", "decode second", "decode third", "decode fourth",
                                             "reset first", "reset second", "reset third", "reset fourth"}));
}

TEST(DecoderSet, SetTypesReplacesEveryDecoder)
{
    barcode::DecoderSet set;
    set.SetTypes({barcode::TYPE_EAN13, 3, 64});
    EXPECT_EQ(set.m_types, (std::vector<int>{2, 3, 64}));
    EXPECT_EQ(set.m_decoders.size(), 1u); // no decoder for 3 or 64
    dynamic_cast<barcode::EAN13BarcodeType&>(*set.m_decoders[0]).m_votes["1234567890128"] = 1;
    set.SetTypes({barcode::TYPE_EAN13});
    ASSERT_EQ(set.m_decoders.size(), 1u);
    EXPECT_TRUE(dynamic_cast<barcode::EAN13BarcodeType&>(*set.m_decoders[0]).m_votes.empty());
    set.Clear();
    EXPECT_EQ(set.GetTypes(), 0);
    EXPECT_TRUE(set.m_decoders.empty());
}

} // namespace
