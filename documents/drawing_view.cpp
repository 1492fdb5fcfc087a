#include "documents/drawing_view.h"

#include <wrl/client.h>

#include <cwchar>

#include "server/com_object.h"

using Microsoft::WRL::ComPtr;

namespace {

// Reading is all a check may do, whatever the caller asks for.
constexpr DWORD kReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;

class CDrawingView : public CComObjectRootEx<CComSingleThreadModel>, public Implements<CDrawingView, IStorage>
{
public:
    void Attach(IStorage* storage, const ReadStream& picture, const ReadStream& native)
    {
        storage_ = storage;
        streams_[0] = picture;
        streams_[1] = native;
    }

    STDMETHOD(CreateStream)(const OLECHAR*, DWORD, DWORD, DWORD, IStream**) override { return Refused(); }
    STDMETHOD(OpenStream)(const OLECHAR* name, void* reserved, DWORD, DWORD, IStream** stream) override
    {
        if (!stream)
            return STG_E_INVALIDPOINTER;
        *stream = nullptr;
        for (const ReadStream& read : streams_) {
            if (name && read.name && std::wcscmp(name, read.name) == 0 && read.whole)
                // An empty stream has no block: the platform makes one, and frees it.
                return ::CreateStreamOnHGlobal(read.bytes, read.bytes ? FALSE : TRUE, stream);
        }
        return storage_->OpenStream(name, reserved, kReadMode, 0, stream);
    }
    STDMETHOD(CreateStorage)(const OLECHAR*, DWORD, DWORD, DWORD, IStorage**) override { return Refused(); }
    STDMETHOD(OpenStorage)
    (const OLECHAR* name, IStorage* priority, DWORD, SNB exclude, DWORD, IStorage** storage) override
    {
        return storage_->OpenStorage(name, priority, kReadMode, exclude, 0, storage);
    }
    STDMETHOD(CopyTo)(DWORD count, const IID* excluded, SNB exclude, IStorage* destination) override
    {
        return storage_->CopyTo(count, excluded, exclude, destination);
    }
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
    STDMETHOD(Stat)(STATSTG* stat, DWORD flags) override { return storage_->Stat(stat, flags); }

private:
    static HRESULT Refused() { return STG_E_ACCESSDENIED; }

    ComPtr<IStorage> storage_;
    ReadStream streams_[2];
};

} // namespace

HRESULT MakeDrawingView(IStorage* storage, const ReadStream& picture, const ReadStream& native,
                        IStorage** view)
{
    if (!storage || !view)
        return E_POINTER;
    *view = nullptr;
    std::unique_ptr<CComObjectNoLock<CDrawingView>> object;
    HRESULT hr = ConstructObject(&object);
    if (FAILED(hr))
        return hr;
    object->Attach(storage, picture, native);
    return HandOutObject(std::move(object), IID_IStorage, reinterpret_cast<void**>(view));
}
