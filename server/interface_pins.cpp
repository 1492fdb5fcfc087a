#include "server/interface_pins.h"

#include "server/catch_return.h"

HRESULT InterfacePins::Pin(IUnknown* object, REFIID iid)
try {
    // Room first: marshalled data that found no place here would pin the
    // interface with no way to let it go.
    m_marshalled.reserve(m_marshalled.size() + 1);
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
CATCH_RETURN_HRESULT()

void InterfacePins::Clear()
{
    for (auto& stream : m_marshalled) {
        const LARGE_INTEGER start = {};
        if (SUCCEEDED(stream->Seek(start, STREAM_SEEK_SET, nullptr)))
            ::CoReleaseMarshalData(stream.Get());
    }
    m_marshalled.clear();
}
