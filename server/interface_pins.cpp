#include "server/interface_pins.h"

HRESULT InterfacePins::Pin(IUnknown* object, REFIID iid)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    HRESULT hr = ::CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (FAILED(hr))
        return hr;
    hr = ::CoMarshalInterface(stream.Get(), iid, object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG);
    if (FAILED(hr))
        return hr;
    m_marshalled.push_back(std::move(stream));
    return S_OK;
}

void InterfacePins::Clear()
{
    for (auto& stream : m_marshalled) {
        const LARGE_INTEGER start = {};
        if (SUCCEEDED(stream->Seek(start, STREAM_SEEK_SET, nullptr)))
            ::CoReleaseMarshalData(stream.Get());
    }
    m_marshalled.clear();
}
