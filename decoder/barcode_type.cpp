// The decoder factory: one case per type bit.
#include "barcode_type.h"

#include "code128.h"
#include "code39.h"

namespace barcode {

BarcodeType* CreateBarcodeType(int type)
{
    switch (type) {
    case TYPE_CODE39:
        return new CODE39BarcodeType;
    case TYPE_CODE128:
        return new CODE128BarcodeType;
    default:
        return nullptr;
    }
}

} // namespace barcode
