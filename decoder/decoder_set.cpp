#include "decoder_set.h"

#include <utility>

namespace barcode {

DecoderSet::~DecoderSet()
{
    Clear();
}

void DecoderSet::SetTypes(std::vector<int> types)
{
    Clear();
    m_types = std::move(types);
    for (int type : m_types) {
        if (BarcodeType* decoder = CreateBarcodeType(type))
            m_decoders.push_back(decoder);
    }
}

int DecoderSet::GetTypes() const
{
    int mask = 0;
    for (int type : m_types)
        mask |= type;
    return mask;
}

void DecoderSet::Clear()
{
    m_types.clear();
    for (BarcodeType* decoder : m_decoders)
        delete decoder;
    m_decoders.clear();
}

bool DecoderSet::Decode(const RunLine& line, Result& out)
{
    bool found = false;
    for (BarcodeType* decoder : m_decoders) {
        if (decoder->Decode(line, out))
            found = true;
    }
    return found;
}

void DecoderSet::Reset()
{
    for (BarcodeType* decoder : m_decoders)
        decoder->Reset();
}

} // namespace barcode
