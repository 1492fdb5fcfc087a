// The drawing application's clipboard work: turning native bytes and a picture
// into the bytes of an embeddable drawing, and reading the native bytes back out
// of one of this server's drawings on the clipboard.

#include <wrl/client.h>

#include <algorithm>
#include <utility>

#include "bridge/byte_array.h"
#include "bridge/dispinterface.h"
#include "embedded/clipboard_formats.h"
#include "embedded/embedded_object.h"
#include "embedded/stream_reading.h"
#include "server/handles.h"

using Microsoft::WRL::ComPtr;

namespace {

// A storage medium that carries a storage, released when done.
bool GetClipboardStorage(IDataObject* clipboard, CLIPFORMAT clipFormat, StgMediumGuard* medium)
{
    FORMATETC format = {clipFormat, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTORAGE};
    if (clipboard->QueryGetData(&format) != S_OK)
        return false;
    if (FAILED(clipboard->GetData(&format, medium->put())))
        return false;
    return (*medium)->tymed == TYMED_ISTORAGE && (*medium)->pstg;
}

} // namespace

STDMETHODIMP CDispinterface::TripForward(VARIANT a, VARIANT b, VARIANT* c)
{
    if (!c)
        return E_POINTER;
    OleInitializeGuard ole;

    UniqueHGlobal block;
    // The object keeps its own copy of the picture; this handle goes at the end of the call.
    UniqueEnhMetaFile metafile;
    HRESULT hr = ReadDrawingArguments(a, b, &block, &metafile);
    if (FAILED(hr))
        return hr;

    CComObject<CEmbeddedObject>* created = nullptr;
    hr = CComObject<CEmbeddedObject>::CreateInstance(&created);
    if (FAILED(hr))
        return hr;
    ComPtr<IPersistStorage> persist(static_cast<IPersistStorage*>(created));
    // The metafile was made only for the object: it takes it, and the block,
    // instead of copying them.
    created->AdoptContents(std::move(metafile), std::move(block));

    ComPtr<ILockBytes> lockBytes;
    hr = ::CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes);
    if (FAILED(hr))
        return hr;
    ComPtr<IStorage> storage;
    hr = ::StgCreateDocfileOnILockBytes(lockBytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                        0, &storage);
    if (FAILED(hr))
        return hr;

    hr = persist->InitNew(storage.Get());
    if (SUCCEEDED(hr))
        hr = persist->Save(storage.Get(), TRUE);
    if (SUCCEEDED(hr))
        hr = persist->SaveCompleted(nullptr);
    persist.Reset();
    if (FAILED(hr))
        return hr;

    hr = ::WriteClassStg(storage.Get(), CLSID_QuillmorphEmbeddedObject);
    if (FAILED(hr))
        return hr;
    hr = ::WriteFmtUserTypeStg(storage.Get(), CF_ENHMETAFILE, const_cast<LPOLESTR>(kEmbeddedUserType));
    if (FAILED(hr))
        return hr;
    hr = storage->Commit(STGC_DEFAULT);
    if (FAILED(hr))
        return hr;

    STATSTG stat = {};
    hr = lockBytes->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr))
        return hr;
    if (stat.cbSize.HighPart != 0)
        return STG_E_MEDIUMFULL; // a byte array counts its elements in 32 bits
    const ULONG size = stat.cbSize.LowPart;

    SafeArrayOwner result;
    hr = CreateByteArray(size, &result);
    if (FAILED(hr))
        return hr;
    if (size) {
        SafeArrayDataGuard bytes(result.get());
        if (FAILED(bytes.status()))
            return bytes.status();
        ULARGE_INTEGER offset = {};
        ULONG read = 0;
        hr = lockBytes->ReadAt(offset, bytes.bytes(), size, &read);
        if (FAILED(hr))
            return hr;
        if (read != size)
            return STG_E_READFAULT;
    }
    MoveByteArrayTo(&result, c);
    return S_OK;
}

STDMETHODIMP CDispinterface::TripBack(VARIANT* d)
{
    if (!d)
        return E_POINTER;
    OleInitializeGuard ole;

    ComPtr<IDataObject> clipboard;
    if (FAILED(::OleGetClipboard(&clipboard)) || !clipboard)
        return S_OK;
    StgMediumGuard medium;
    if (!GetClipboardStorage(clipboard.Get(), RegisterEmbeddedObjectFormat(), &medium) &&
        !GetClipboardStorage(clipboard.Get(), RegisterEmbedSourceFormat(), &medium))
        return S_OK;
    IStorage* storage = medium->pstg;

    CLSID storedClass = CLSID_NULL;
    ::ReadClassStg(storage, &storedClass);
    if (!::IsEqualCLSID(storedClass, CLSID_QuillmorphEmbeddedObject))
        return S_OK;

    ComPtr<IStream> stream;
    if (FAILED(storage->OpenStream(kNativeDataStream, nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                   &stream)) &&
        FAILED(storage->OpenStream(kNativeDataStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream)))
        return S_OK;
    // A stream that ends early gives what it holds, not a padded array; one
    // that claims 4 GiB or more is no drawing.
    UniqueHGlobal buffer;
    ULONG read = 0;
    ULONG claimed = 0;
    HRESULT hr = ReadClaimedBytes(stream.Get(), &buffer, &read, &claimed);
    if (hr == E_OUTOFMEMORY)
        return hr;
    if (FAILED(hr))
        return S_OK;

    SafeArrayOwner result;
    if (FAILED(CreateByteArray(read, &result)))
        return E_OUTOFMEMORY;
    if (read) {
        SafeArrayDataGuard bytes(result.get());
        if (FAILED(bytes.status()))
            return bytes.status();
        GlobalLockGuard from(buffer.get());
        if (!from)
            return E_OUTOFMEMORY;
        std::copy_n(static_cast<const BYTE*>(from.get()), read, bytes.bytes());
    }
    MoveByteArrayTo(&result, d);
    return S_OK;
}
