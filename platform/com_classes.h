// Inside the platform layer: the classes that CoCreateInstance serves, and
// the reference counting that our objects share.
#pragma once

#include <atomic>

#include "com.h"

// The factory of one of the layer's own classes, or null.
ComClassFactory BuiltInComClass(REFCLSID clsid);

// Reference count for an object of the layer; the object is deleted as its
// most derived class when the count reaches zero.
template <class Derived>
class RefCounted {
public:
    ULONG AddRefCount() { return ++m_references; }
    ULONG ReleaseCount() {
        ULONG left = --m_references;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

private:
    std::atomic<ULONG> m_references{1};
};

// Answers a QueryInterface for one interface pointer of the object.
template <class Interface>
HRESULT HandOut(Interface* self, void** object) {
    self->AddRef();
    *object = self;
    return S_OK;
}
