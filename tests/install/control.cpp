// A C++ program built against the installed library: creates the control by
// its ProgID, finds its events' connection point and reads its Version through
// the dispatch interface.
#include <control/class_factory.h>
#include <platform/dispatch.h>

#include <cstdio>
#include <string>

int main() {
    IDispatch* control = nullptr;
    HRESULT hr = CreateControlByProgId(u"Tollane.FileTransfer", IID_IDispatch,
                                       reinterpret_cast<void**>(&control));
    if (FAILED(hr)) {
        std::fprintf(stderr, "control: CreateControlByProgId failed: 0x%08X\n", unsigned(hr));
        return 1;
    }
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* events = nullptr;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer,
                                       reinterpret_cast<void**>(&container))) ||
        FAILED(container->FindConnectionPoint(DIID__IFileTransferEvents, &events))) {
        std::fprintf(stderr, "control: no connection point for the events\n");
        return 1;
    }
    events->Release();
    container->Release();
    DISPID version = 0;
    VARIANT value;
    VariantInit(&value);
    hr = DispatchGetIdOfName(control, u"Version", &version);
    if (SUCCEEDED(hr)) hr = DispatchGetProperty(control, version, {}, &value);
    if (FAILED(hr) || value.vt != VT_BSTR) {
        std::fprintf(stderr, "control: reading Version failed: 0x%08X\n", unsigned(hr));
        return 1;
    }
    std::string text;
    for (UINT i = 0; i < SysStringLen(value.bstrVal); ++i)
        text += char(value.bstrVal[i]);
    std::printf("%s\n", text.c_str());
    VariantClear(&value);
    control->Release();
    return 0;
}
