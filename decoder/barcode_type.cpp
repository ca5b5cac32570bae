// The decoder factory: one case per type bit.
#include "barcode_type.h"

#include "ean13.h"

namespace barcode {

BarcodeType* CreateBarcodeType(int type)
{
    switch (type) {
    case TYPE_EAN13:
        return new EAN13BarcodeType();
    default:
        return nullptr;
    }
}

} // namespace barcode
