#include "documents/drawing_view.h"

#include <wrl/client.h>

#include <shlwapi.h>

#include <cwchar>

#include "embedded/stream_reading.h"
#include "server/com_object.h"

using Microsoft::WRL::ComPtr;

namespace {

// Reading is all a check may do, whatever the caller asks for.
constexpr DWORD kReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;

// The platform's record of a pending conversion, which Load asks for.
constexpr const wchar_t kOleStream[] = L"\1Ole";
constexpr ULONG kLargestOleRecord = 4096;

class CDrawingView : public CComObjectRootEx<CComSingleThreadModel>, public Implements<CDrawingView, IStorage>
{
public:
    HRESULT Attach(IStorage* storage, const ReadStream& picture, const ReadStream& native, bool keepStorage)
    {
        streams_[0] = picture;
        streams_[1] = native;
        HRESULT hr = storage->Stat(&stat_, STATFLAG_NONAME);
        if (FAILED(hr))
            return hr;
        ComPtr<IStream> record;
        if (SUCCEEDED(storage->OpenStream(kOleStream, nullptr, kReadMode, 0, &record))) {
            // The record is a few words long; a larger one is read where it lies.
            ULONG read = 0;
            ULARGE_INTEGER size = {};
            if (SUCCEEDED(::IStream_Size(record.Get(), &size)) && size.QuadPart <= kLargestOleRecord)
                hr = ReadClaimedBytes(record.Get(), &oleRecord_, &read, &size.LowPart);
            hasOleRecord_ = SUCCEEDED(hr) && size.QuadPart <= kLargestOleRecord;
            keepStorage = keepStorage || !hasOleRecord_;
        }
        if (keepStorage)
            storage_ = storage;
        return S_OK;
    }

    STDMETHOD(CreateStream)(const OLECHAR*, DWORD, DWORD, DWORD, IStream**) override { return Refused(); }
    STDMETHOD(OpenStream)(const OLECHAR* name, void* reserved, DWORD, DWORD, IStream** stream) override
    {
        if (!stream)
            return STG_E_INVALIDPOINTER;
        *stream = nullptr;
        for (const ReadStream& read : streams_) {
            if (name && read.name && std::wcscmp(name, read.name) == 0 && read.whole)
                return MemoryStream(read.bytes, stream);
        }
        if (name && hasOleRecord_ && std::wcscmp(name, kOleStream) == 0)
            return MemoryStream(oleRecord_.get(), stream);
        if (!storage_)
            return STG_E_FILENOTFOUND;
        return storage_->OpenStream(name, reserved, kReadMode, 0, stream);
    }
    STDMETHOD(CreateStorage)(const OLECHAR*, DWORD, DWORD, DWORD, IStorage**) override { return Refused(); }
    STDMETHOD(OpenStorage)
    (const OLECHAR* name, IStorage* priority, DWORD, SNB exclude, DWORD, IStorage** storage) override
    {
        if (!storage_)
            return STG_E_FILENOTFOUND;
        return storage_->OpenStorage(name, priority, kReadMode, exclude, 0, storage);
    }
    STDMETHOD(CopyTo)(DWORD, const IID*, SNB, IStorage*) override { return Refused(); }
    STDMETHOD(MoveElementTo)(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) override { return Refused(); }
    STDMETHOD(Commit)(DWORD) override { return S_OK; }
    STDMETHOD(Revert)() override { return S_OK; }
    STDMETHOD(EnumElements)
    (DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** elements) override
    {
        return storage_->EnumElements(reserved1, reserved2, reserved3, elements);
    }
    STDMETHOD(DestroyElement)(const OLECHAR*) override { return Refused(); }
    STDMETHOD(RenameElement)(const OLECHAR*, const OLECHAR*) override { return Refused(); }
    STDMETHOD(SetElementTimes)(const OLECHAR*, const FILETIME*, const FILETIME*, const FILETIME*) override
    {
        return Refused();
    }
    STDMETHOD(SetClass)(REFCLSID) override { return Refused(); }
    STDMETHOD(SetStateBits)(DWORD, DWORD) override { return Refused(); }
    STDMETHOD(Stat)(STATSTG* stat, DWORD) override
    {
        if (!stat)
            return STG_E_INVALIDPOINTER;
        *stat = stat_;
        return S_OK;
    }

private:
    static HRESULT Refused() { return STG_E_ACCESSDENIED; }

    static HRESULT MemoryStream(HGLOBAL bytes, IStream** stream)
    {
        // An empty stream has no block: the platform makes one, and frees it.
        return ::CreateStreamOnHGlobal(bytes, bytes ? FALSE : TRUE, stream);
    }

    ComPtr<IStorage> storage_;
    ReadStream streams_[2];
    STATSTG stat_ = {};
    UniqueHGlobal oleRecord_;
    bool hasOleRecord_ = false;
};

} // namespace

HRESULT MakeDrawingView(IStorage* storage, const ReadStream& picture, const ReadStream& native,
                        bool keepStorage, IStorage** view)
{
    if (!storage || !view)
        return E_POINTER;
    *view = nullptr;
    std::unique_ptr<CComObjectNoLock<CDrawingView>> object;
    HRESULT hr = ConstructObject(&object);
    if (FAILED(hr))
        return hr;
    hr = object->Attach(storage, picture, native, keepStorage || !picture.whole || !native.whole);
    if (FAILED(hr))
        return hr;
    return HandOutObject(std::move(object), IID_PPV_ARGS(view));
}
