// The smallest local server the runtime can start: one class whose object does
// nothing of its own. It is the measure for the real server's calls and
// activation: IQuillmorphOLE goes through the same registered type library, and
// IPersistStorage through the platform's own proxies, as the real server's do.
// Its only work is the platform's part of a save: Save writes the two streams
// into the storage it is given, as large as the arrays the last UpdateAndClose
// carried. Started with /KeepDocument (as the soak registers it), it also does
// the platform's part of keeping a document: the native bytes that arrive are
// kept in a global block, made anew for each edit as a drawing's is (a block
// from the array, the kept copy from that block), and GetData hands out a copy
// of it; the benchmarks start it without, as the floor of a call. It ends as
// soon as its last object is released, and by itself after a minute when
// nobody connects.

#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <utility>
#include <vector>

#include <wrl/client.h>

#include "bench/bench_common.h"
#include "server/class_ids.h"
#include "server/handles.h"

namespace {

LONG s_objects = 0;
bool s_keepDocument = false;
// The native bytes of the last UpdateAndClose, in one fixed block.
UniqueHGlobal s_document;
DWORD s_mainThread = 0;
bool s_everCreated = false;

// A fixed block holding a copy of size bytes, or none.
UniqueHGlobal CopyBytes(const void* bytes, SIZE_T size)
{
    UniqueHGlobal block(::GlobalAlloc(GMEM_FIXED, size));
    if (block)
        std::memcpy(block.get(), bytes, size);
    return block;
}

class EmptyObject : public IQuillmorphOLE, public IPersistStorage, public IDataObject
{
public:
    EmptyObject()
    {
        ::InterlockedIncrement(&s_objects);
        s_everCreated = true;
    }
    virtual ~EmptyObject()
    {
        if (::InterlockedDecrement(&s_objects) == 0)
            ::PostThreadMessageW(s_mainThread, WM_QUIT, 0, 0);
    }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IQuillmorphOLE)
            *ppv = static_cast<IQuillmorphOLE*>(this);
        else if (riid == IID_IPersist || riid == IID_IPersistStorage)
            *ppv = static_cast<IPersistStorage*>(this);
        else if (riid == IID_IDataObject)
            *ppv = static_cast<IDataObject*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    STDMETHOD_(ULONG, Release)() override
    {
        const LONG count = ::InterlockedDecrement(&refs_);
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }

    // IDispatch: calls come through the vtable only.
    STDMETHOD(GetTypeInfoCount)(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    // IQuillmorphOLE
    STDMETHOD(TripForward)(VARIANT, VARIANT, VARIANT*) override { return S_OK; }
    STDMETHOD(TripBack)(VARIANT*) override { return S_OK; }
    STDMETHOD(Activate)(VARIANT) override { return S_OK; }
    STDMETHOD(UpdateAndClose)(VARIANT f, VARIANT g, VARIANT) override
    {
        nativeSize_ = ArraySize(f);
        pictureSize_ = ArraySize(g);
        void* bytes = nullptr;
        if (!s_keepDocument || nativeSize_ == 0 || FAILED(::SafeArrayAccessData(f.parray, &bytes)))
            return S_OK;
        const UniqueHGlobal arrived = CopyBytes(bytes, nativeSize_);
        ::SafeArrayUnaccessData(f.parray);
        UniqueHGlobal kept = arrived ? CopyBytes(arrived.get(), nativeSize_) : UniqueHGlobal();
        if (kept)
            s_document = std::move(kept);
        return S_OK;
    }
    STDMETHOD(Close)(VARIANT) override { return S_OK; }
    STDMETHOD(CloseAll)() override { return S_OK; }

    // IPersistStorage
    STDMETHOD(GetClassID)(CLSID* clsid) override
    {
        *clsid = bench::kMinimalServerClass;
        return S_OK;
    }
    STDMETHOD(IsDirty)() override { return S_FALSE; }
    STDMETHOD(InitNew)(IStorage*) override { return S_OK; }
    STDMETHOD(Load)(IStorage*) override { return S_OK; }
    STDMETHOD(Save)(IStorage* storage, BOOL) override
    {
        if (!storage)
            return E_POINTER;
        for (const auto& stream :
             {std::make_pair(L"EMF", pictureSize_), std::make_pair(L"ZRN", nativeSize_)}) {
            Microsoft::WRL::ComPtr<IStream> written;
            HRESULT hr = storage->CreateStream(stream.first, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE,
                                               0, 0, &written);
            if (FAILED(hr))
                return hr;
            if (stream.second == 0)
                continue;
            std::vector<BYTE> bytes(stream.second);
            ULONG count = 0;
            hr = written->Write(bytes.data(), stream.second, &count);
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }
    STDMETHOD(SaveCompleted)(IStorage*) override { return S_OK; }
    STDMETHOD(HandsOffStorage)() override { return S_OK; }

    // IDataObject: the kept document, as a copy, in any global-memory request.
    STDMETHOD(GetData)(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (!format || !medium)
            return E_INVALIDARG;
        if (!(format->tymed & TYMED_HGLOBAL) || !s_document)
            return DV_E_FORMATETC;
        medium->tymed = TYMED_HGLOBAL;
        medium->pUnkForRelease = nullptr;
        medium->hGlobal = CopyBytes(s_document.get(), ::GlobalSize(s_document.get())).release();
        return medium->hGlobal ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHOD(GetDataHere)(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHOD(QueryGetData)(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHOD(GetCanonicalFormatEtc)(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHOD(SetData)(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHOD(EnumFormatEtc)(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHOD(DAdvise)(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHOD(DUnadvise)(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHOD(EnumDAdvise)(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    static ULONG ArraySize(const VARIANT& value)
    {
        return value.vt == (VT_ARRAY | VT_UI1) && value.parray && value.parray->cDims == 1
                   ? value.parray->rgsabound[0].cElements
                   : 0;
    }

    LONG refs_ = 0;
    ULONG nativeSize_ = 0;
    ULONG pictureSize_ = 0;
};

class Factory : public IClassFactory
{
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory)
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // A static object: the registration does not count.
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto* object = new (std::nothrow) EmptyObject();
        if (!object)
            return E_OUTOFMEMORY;
        object->AddRef();
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    STDMETHOD(LockServer)(BOOL) override { return S_OK; }
};

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    s_mainThread = ::GetCurrentThreadId();
    s_keepDocument = std::strstr(commandLine, "/KeepDocument") != nullptr;
    if (FAILED(::CoInitialize(nullptr)))
        return 1;
    static Factory factory;
    DWORD cookie = 0;
    HRESULT hr = ::CoRegisterClassObject(bench::kMinimalServerClass, &factory, CLSCTX_LOCAL_SERVER,
                                         REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(hr)) {
        ::SetTimer(nullptr, 0, 60000, nullptr);
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_TIMER && msg.hwnd == nullptr && !s_everCreated)
                break;
            ::DispatchMessageW(&msg);
        }
        ::CoRevokeClassObject(cookie);
    }
    ::CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}
