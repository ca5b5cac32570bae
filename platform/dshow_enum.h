// Inside the platform layer: an enumerator over a snapshot of interface
// pointers, for IEnumPins, IEnumFilters and IEnumMoniker alike.
#pragma once

#include <vector>

#include "com_classes.h"
#include "dshow.h"

template <class Enumerator, class Item>
class SnapshotEnumerator final : public Enumerator, private RefCounted<SnapshotEnumerator<Enumerator, Item>> {
public:
    // Takes a reference on every item.
    explicit SnapshotEnumerator(std::vector<Item*> items) : m_items(std::move(items)) {
        for (Item* item : m_items) item->AddRef();
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown) return HandOut<Enumerator>(this, object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return this->AddRefCount(); }
    ULONG Release() override { return this->ReleaseCount(); }

    HRESULT Next(ULONG count, Item** items, ULONG* fetched) override {
        if (items == nullptr) return E_POINTER;
        ULONG given = 0;
        while (given < count && m_next < m_items.size()) {
            items[given] = m_items[m_next++];
            items[given]->AddRef();
            ++given;
        }
        if (fetched != nullptr) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }

    HRESULT Reset() {
        m_next = 0;
        return S_OK;
    }

private:
    friend class RefCounted<SnapshotEnumerator<Enumerator, Item>>;
    ~SnapshotEnumerator() {
        for (Item* item : m_items) item->Release();
    }

    std::vector<Item*> m_items;
    size_t m_next = 0;
};
