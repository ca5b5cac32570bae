#include "com.h"

#include <gtest/gtest.h>

#include <thread>

#include "dshow.h"

TEST(Com, InitialisationCountsPerThread) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    std::thread other([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    });
    other.join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
}

TEST(Com, CreateInstanceNeedsAnInitialisedThreadAndAKnownClass) {
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&object)),
              CO_E_NOTINITIALIZED);
    CoInitialize(nullptr);
    const GUID unknown = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    for (const CLSID* clsid : {&CLSID_FilterGraph, &CLSID_CaptureGraphBuilder2, &CLSID_SampleGrabber,
                               &CLSID_NullRenderer, &CLSID_SystemDeviceEnum}) {
        ASSERT_EQ(CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&object)),
                  S_OK);
        EXPECT_EQ(object->Release(), 0u);
    }
    CoUninitialize();
}

namespace {
int overrideCalls = 0;
HRESULT CountingFactory(REFIID, void** object) {
    ++overrideCalls;
    *object = nullptr;
    return E_OUTOFMEMORY;
}
}  // namespace

TEST(Com, RegisteredFactoryReplacesABuiltInClassUntilRemoved) {
    overrideCalls = 0;
    CoInitialize(nullptr);
    EXPECT_EQ(CoRegisterClassFactory(CLSID_NullRenderer, CountingFactory), nullptr);
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              E_OUTOFMEMORY);
    EXPECT_EQ(overrideCalls, 1);
    EXPECT_EQ(CoRegisterClassFactory(CLSID_NullRenderer, nullptr), CountingFactory);
    ASSERT_EQ(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    object->Release();
    CoUninitialize();
}

TEST(Com, FourccSubtypesFollowTheCodeRule) {
    // First character in the lowest byte.
    EXPECT_EQ(MEDIASUBTYPE_YUY2.Data1, 0x32595559u);
    EXPECT_EQ(MEDIASUBTYPE_YUY2.Data4[7], 0x71);
    EXPECT_NE(MEDIASUBTYPE_YUY2, MEDIASUBTYPE_YUYV);
}
