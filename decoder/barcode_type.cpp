// The decoder factory: one case per type bit.
#include "barcode_type.h"

#include "ean13.h"
#include "ean8.h"
#include "upce.h"

namespace barcode {

BarcodeType* CreateBarcodeType(int type)
{
    switch (type) {
    case TYPE_EAN8:
        return new EAN8BarcodeType();
    case TYPE_EAN13:
        return new EAN13BarcodeType();
    case TYPE_UPCE:
        return new UPCEBarcodeType();
    default:
        return nullptr;
    }
}

} // namespace barcode
