// The system device enumerator: the video input category lists the V4L2
// capture nodes in numeric order, each named by its driver's card name.
#include <string>
#include <vector>

#include "dshow_enum.h"
#include "dshow_filter.h"
#include "v4l2_capture_filter.h"
#include "v4l2_device.h"

namespace {

// Decodes UTF-8 into UTF-16 units; a byte that starts no valid sequence
// becomes U+FFFD.
std::u16string Utf16Of(const std::string& text) {
    constexpr size_t kInvalid = 4;
    constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};  // by count of continuation bytes
    std::u16string units;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t extra = lead < 0x80                   ? 0
                       : lead >= 0xC2 && lead < 0xE0 ? 1
                       : lead >= 0xE0 && lead < 0xF0 ? 2
                       : lead >= 0xF0 && lead < 0xF5 ? 3
                                                     : kInvalid;
        uint32_t code = 0xFFFD;
        size_t length = 1;
        if (extra == 0) {
            code = lead;
        } else if (extra != kInvalid && i + extra < text.size()) {
            uint32_t value = lead & (0x3Fu >> extra);
            bool valid = true;
            for (size_t k = 1; k <= extra; ++k) {
                unsigned char next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0) != 0x80) valid = false;
                value = (value << 6) | (next & 0x3Fu);
            }
            if (valid && value >= kSmallest[extra] && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
                code = value;
                length = extra + 1;
            }
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return units;
}

bool SameName(LPCOLESTR name, const char16_t* expected) {
    if (name == nullptr) return false;
    return std::u16string(name) == expected;
}

class DevicePropertyBag final : public IPropertyBag, private RefCounted<DevicePropertyBag> {
public:
    DevicePropertyBag(std::u16string name, std::u16string path) : m_name(std::move(name)), m_path(std::move(path)) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IPropertyBag) return HandOut<IPropertyBag>(this, object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddRefCount(); }
    ULONG Release() override { return ReleaseCount(); }

    // A webcam's bag has a friendly name and a device path, no description.
    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        if (value == nullptr) return E_POINTER;
        const std::u16string* text = nullptr;
        if (SameName(name, u"FriendlyName")) text = &m_name;
        if (SameName(name, u"DevicePath")) text = &m_path;
        if (text == nullptr) return E_INVALIDARG;
        BSTR copy = SysAllocString(text->c_str());
        if (copy == nullptr) return E_OUTOFMEMORY;
        value->vt = VT_BSTR;
        value->bstrVal = copy;
        return S_OK;
    }

private:
    friend class RefCounted<DevicePropertyBag>;
    ~DevicePropertyBag() = default;

    std::u16string m_name;
    std::u16string m_path;
};

class DeviceMoniker final : public IMoniker, private RefCounted<DeviceMoniker> {
public:
    DeviceMoniker(VideoKernel& kernel, std::string path, std::string card, bool readable)
        : m_kernel(kernel), m_path(std::move(path)), m_card(std::move(card)), m_readable(readable) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown) return HandOut<IMoniker>(this, object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddRefCount(); }
    ULONG Release() override { return ReleaseCount(); }

    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IBaseFilter && riid != IID_IUnknown) return E_NOINTERFACE;
        return CreateV4l2CaptureFilter(m_kernel, m_path, riid, object);
    }

    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IPropertyBag) return E_NOINTERFACE;
        // A node that could not be asked what it is has no properties to read.
        if (!m_readable) return E_FAIL;
        *object = static_cast<IPropertyBag*>(new DevicePropertyBag(Utf16Of(m_card), Utf16Of(m_path)));
        return S_OK;
    }

private:
    friend class RefCounted<DeviceMoniker>;
    ~DeviceMoniker() = default;

    VideoKernel& m_kernel;
    std::string m_path;
    std::string m_card;
    bool m_readable;
};

class SystemDeviceEnum final : public ICreateDevEnum, private RefCounted<SystemDeviceEnum> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ICreateDevEnum) return HandOut<ICreateDevEnum>(this, object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return AddRefCount(); }
    ULONG Release() override { return ReleaseCount(); }

    // S_FALSE and no enumerator when the category holds no device.
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator, DWORD) override {
        if (enumerator == nullptr) return E_POINTER;
        *enumerator = nullptr;
        if (category != CLSID_VideoInputDeviceCategory) return S_FALSE;
        VideoKernel& kernel = ActiveVideoKernel();
        std::vector<IMoniker*> monikers;
        for (const std::string& path : kernel.ListNodes()) {
            std::string card;
            NodeKind kind = V4l2Device::Probe(kernel, path, &card);
            if (kind == NodeKind::Other) continue;
            monikers.push_back(new DeviceMoniker(kernel, path, card, kind == NodeKind::Capture));
        }
        if (monikers.empty()) return S_FALSE;
        *enumerator = new SnapshotEnumerator<IEnumMoniker, IMoniker>(monikers);
        for (IMoniker* moniker : monikers) moniker->Release();
        return S_OK;
    }

private:
    friend class RefCounted<SystemDeviceEnum>;
    ~SystemDeviceEnum() = default;
};

}  // namespace

HRESULT CreateSystemDeviceEnum(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    SystemDeviceEnum* devices = new SystemDeviceEnum;
    HRESULT result = devices->QueryInterface(riid, object);
    devices->Release();
    return result;
}
