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
#include "server/return_if_failed.h"

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

// The drawing saved into storage as an embedded drawing of its own: its
// streams, its class and its user type, committed. The drawing goes once its
// streams are written.
HRESULT SaveAsEmbeddedDrawing(ComPtr<IPersistStorage> drawing, IStorage* storage)
{
    RETURN_IF_FAILED(drawing->InitNew(storage));
    RETURN_IF_FAILED(drawing->Save(storage, TRUE));
    RETURN_IF_FAILED(drawing->SaveCompleted(nullptr));
    drawing.Reset();
    RETURN_IF_FAILED(::WriteClassStg(storage, CLSID_QuillmorphEmbeddedObject));
    RETURN_IF_FAILED(::WriteFmtUserTypeStg(storage, CF_ENHMETAFILE, const_cast<LPOLESTR>(kEmbeddedUserType)));
    return storage->Commit(STGC_DEFAULT);
}

// Every byte of bytes as a byte array in *array.
HRESULT ByteArrayOf(ILockBytes* bytes, VARIANT* array)
{
    STATSTG stat = {};
    RETURN_IF_FAILED(bytes->Stat(&stat, STATFLAG_NONAME));
    if (stat.cbSize.HighPart != 0)
        return STG_E_MEDIUMFULL; // a byte array counts its elements in 32 bits
    const ULONG size = stat.cbSize.LowPart;

    SafeArrayOwner result;
    RETURN_IF_FAILED(CreateByteArray(size, &result));
    if (size) {
        SafeArrayDataGuard data(result.get());
        RETURN_IF_FAILED(data.status());
        ULARGE_INTEGER offset = {};
        ULONG read = 0;
        RETURN_IF_FAILED(bytes->ReadAt(offset, data.bytes(), size, &read));
        if (read != size)
            return STG_E_READFAULT;
    }
    MoveByteArrayTo(&result, array);
    return S_OK;
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
    RETURN_IF_FAILED(ReadDrawingArguments(a, b, &block, &metafile));

    CComObject<CEmbeddedObject>* created = nullptr;
    RETURN_IF_FAILED(CComObject<CEmbeddedObject>::CreateInstance(&created));
    ComPtr<IPersistStorage> persist(static_cast<IPersistStorage*>(created));
    // The metafile was made only for the object: it takes it, and the block,
    // instead of copying them.
    created->AdoptContents(std::move(metafile), std::move(block));

    ComPtr<ILockBytes> lockBytes;
    RETURN_IF_FAILED(::CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes));
    ComPtr<IStorage> storage;
    RETURN_IF_FAILED(::StgCreateDocfileOnILockBytes(
        lockBytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage));
    RETURN_IF_FAILED(SaveAsEmbeddedDrawing(std::move(persist), storage.Get()));
    return ByteArrayOf(lockBytes.Get(), c);
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
