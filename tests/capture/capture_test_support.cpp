#include "capture_test_support.h"

#include <atomic>

#include "com_classes.h"

namespace {

std::vector<ListedDevice> listed;

class Bag final : public IPropertyBag, private RefCounted<Bag> {
public:
    explicit Bag(const ListedDevice& device) : m_device(device) {}
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddRefCount(); }
    ULONG Release() override { return ReleaseCount(); }
    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        std::u16string wanted(name);
        const std::u16string& text = wanted == u"Description" ? m_device.description : m_device.friendlyName;
        if (text.empty() || (wanted != u"Description" && wanted != u"FriendlyName")) return E_FAIL;
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(text.c_str());
        return S_OK;
    }

private:
    friend class RefCounted<Bag>;
    ~Bag() = default;
    ListedDevice m_device;
};

class Moniker final : public IMoniker, private RefCounted<Moniker> {
public:
    explicit Moniker(const ListedDevice& device) : m_device(device) {}
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddRefCount(); }
    ULONG Release() override { return ReleaseCount(); }
    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID, void** object) override {
        *object = nullptr;
        return E_FAIL;
    }
    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID, void** object) override {
        *object = nullptr;
        if (!m_device.bagOpens) return E_FAIL;
        *object = static_cast<IPropertyBag*>(new Bag(m_device));
        return S_OK;
    }

private:
    friend class RefCounted<Moniker>;
    ~Moniker() = default;
    ListedDevice m_device;
};

class Monikers final : public IEnumMoniker, private RefCounted<Monikers> {
public:
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddRefCount(); }
    ULONG Release() override { return ReleaseCount(); }
    HRESULT Next(ULONG, IMoniker** moniker, ULONG* fetched) override {
        if (fetched != nullptr) *fetched = 0;
        if (m_next >= listed.size()) return S_FALSE;
        *moniker = new Moniker(listed[m_next++]);
        if (fetched != nullptr) *fetched = 1;
        return S_OK;
    }

private:
    friend class RefCounted<Monikers>;
    ~Monikers() = default;
    size_t m_next = 0;
};

class DeviceEnum final : public ICreateDevEnum, private RefCounted<DeviceEnum> {
public:
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = static_cast<ICreateDevEnum*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return AddRefCount(); }
    ULONG Release() override { return ReleaseCount(); }
    HRESULT CreateClassEnumerator(REFCLSID, IEnumMoniker** monikers, DWORD) override {
        *monikers = nullptr;
        if (listed.empty()) return S_FALSE;
        *monikers = new Monikers;
        return S_OK;
    }

private:
    friend class RefCounted<DeviceEnum>;
    ~DeviceEnum() = default;
};

HRESULT CreateListed(REFIID, void** object) {
    *object = static_cast<ICreateDevEnum*>(new DeviceEnum);
    return S_OK;
}

}  // namespace

ListedDevices::ListedDevices(std::vector<ListedDevice> devices) {
    listed = std::move(devices);
    CoRegisterClassFactory(CLSID_SystemDeviceEnum, CreateListed);
}

ListedDevices::~ListedDevices() {
    CoRegisterClassFactory(CLSID_SystemDeviceEnum, nullptr);
    listed.clear();
}
