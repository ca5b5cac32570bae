// The decoder factory: one case per type bit.
#include "barcode_type.h"

#include "code128.h"
#include "code39.h"
#include "ean13.h"
#include "ean8.h"
#include "upce.h"

namespace barcode {

BarcodeType* CreateBarcodeType(int type)
{
    switch (type) {
    case TYPE_EAN8:
        return new EAN8BarcodeType;
    case TYPE_EAN13:
        return new EAN13BarcodeType;
    case TYPE_UPCE:
        return new UPCEBarcodeType;
    case TYPE_CODE39:
        return new CODE39BarcodeType;
    case TYPE_CODE128:
        return new CODE128BarcodeType;
    default:
        return nullptr;
    }
}

} // namespace barcode
