// The classes that CoCreateInstance serves on this platform.
#include "com_classes.h"
#include "dshow_filter.h"

ComClassFactory BuiltInComClass(REFCLSID clsid) {
    if (clsid == CLSID_SystemDeviceEnum) return CreateSystemDeviceEnum;
    if (clsid == CLSID_CaptureGraphBuilder2) return CreateCaptureGraphBuilder;
    if (clsid == CLSID_FilterGraph) return CreateFilterGraph;
    if (clsid == CLSID_SampleGrabber) return CreateSampleGrabber;
    if (clsid == CLSID_NullRenderer) return CreateNullRenderer;
    return nullptr;
}
