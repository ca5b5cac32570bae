#include "com.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "com_classes.h"

namespace {

thread_local int apartmentUsers = 0;

struct Registration {
    CLSID clsid;
    ComClassFactory factory;
};

std::mutex registryLock;
std::vector<Registration>& Overrides() {
    static std::vector<Registration> overrides;
    return overrides;
}

ComClassFactory FindFactory(REFCLSID clsid) {
    {
        std::lock_guard<std::mutex> hold(registryLock);
        for (const Registration& entry : Overrides())
            if (entry.clsid == clsid) return entry.factory;
    }
    return BuiltInComClass(clsid);
}

}  // namespace

HRESULT CoInitialize(void*) { return apartmentUsers++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
    if (apartmentUsers > 0) --apartmentUsers;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (apartmentUsers == 0) return CO_E_NOTINITIALIZED;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    ComClassFactory factory = FindFactory(clsid);
    if (factory == nullptr) return REGDB_E_CLASSNOTREG;
    return factory(riid, object);
}

ComClassFactory CoRegisterClassFactory(REFCLSID clsid, ComClassFactory factory) {
    std::lock_guard<std::mutex> hold(registryLock);
    std::vector<Registration>& overrides = Overrides();
    for (auto entry = overrides.begin(); entry != overrides.end(); ++entry) {
        if (entry->clsid == clsid) {
            ComClassFactory previous = entry->factory;
            if (factory == nullptr)
                overrides.erase(entry);
            else
                entry->factory = factory;
            return previous;
        }
    }
    if (factory != nullptr) overrides.push_back({clsid, factory});
    return nullptr;
}

void* CoTaskMemAlloc(size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void CoTaskMemFree(void* memory) { std::free(memory); }

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    size_t length = 0;
    while (text[length] != 0) ++length;
    BSTR copy = static_cast<BSTR>(std::malloc((length + 1) * sizeof(OLECHAR)));
    if (copy != nullptr) std::memcpy(copy, text, (length + 1) * sizeof(OLECHAR));
    return copy;
}

void SysFreeString(BSTR text) { std::free(text); }

void VariantInit(VARIANT* variant) {
    variant->vt = VT_EMPTY;
    variant->bstrVal = nullptr;
}

HRESULT VariantClear(VARIANT* variant) {
    if (variant == nullptr) return E_INVALIDARG;
    if (variant->vt == VT_BSTR) SysFreeString(variant->bstrVal);
    VariantInit(variant);
    return S_OK;
}
