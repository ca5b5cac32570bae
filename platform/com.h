// The small part of the component model that the capture library is written
// against: identifiers, IUnknown, result codes, the apartment calls, task
// memory and the BSTR variant that property bags hand out. On this platform
// there are no apartments and no registry; CoCreateInstance serves the
// classes that our own layer registers.
#pragma once

#include "win32_types.h"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
constexpr bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }

// Result codes at their Windows values, so that a failure read from a log
// means the same on both platforms.
constexpr HRESULT MakeResult(uint32_t bits) { return static_cast<HRESULT>(bits); }
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeResult(0x80004003u);
constexpr HRESULT E_FAIL = MakeResult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057u);
constexpr HRESULT RPC_E_CHANGED_MODE = MakeResult(0x80010106u);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeResult(0x800401F0u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeResult(0x80040154u);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeResult(0x80040110u);

// Interface identifiers of this layer's own making; only equality matters.
inline constexpr IID IID_IUnknown = {0x450587ec, 0xdeca, 0x4934, {0xa5, 0x35, 0x3e, 0xeb, 0x40, 0xd7, 0x17, 0xf5}};

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    // Objects die through Release, never through a pointer to an interface.
    ~IUnknown() = default;
};

enum CLSCTX : DWORD { CLSCTX_INPROC_SERVER = 0x1 };

// Per-thread initialisation count, as with the single-threaded apartment: the
// first call on a thread answers S_OK, every further one S_FALSE.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);

void* CoTaskMemAlloc(size_t bytes);
void CoTaskMemFree(void* memory);

// Wide strings as property bags and filter names hold them.
typedef WCHAR OLECHAR;
typedef OLECHAR* BSTR;
typedef const OLECHAR* LPCOLESTR;

BSTR SysAllocString(const OLECHAR* text);
void SysFreeString(BSTR text);

typedef unsigned short VARTYPE;
enum VARENUM : VARTYPE { VT_EMPTY = 0, VT_BSTR = 8 };

// Only the string member is used; a variant holds nothing else here.
struct VARIANT {
    VARTYPE vt;
    BSTR bstrVal;
};

void VariantInit(VARIANT* variant);
HRESULT VariantClear(VARIANT* variant);

// Class registration behind CoCreateInstance. The layer registers its own
// classes; a test may put a class of its own in place of one and restore it.
typedef HRESULT (*ComClassFactory)(REFIID riid, void** object);
ComClassFactory CoRegisterClassFactory(REFCLSID clsid, ComClassFactory factory);
