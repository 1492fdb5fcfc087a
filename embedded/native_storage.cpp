// The drawing in its container's storage: the "EMF" stream (the picture's
// enhanced-metafile bits), the "ZRN" stream (the native document's bytes), the
// format and user-type record, and the storage protocol with its dirty flag.

#include "embedded/embedded_object.h"

#include <climits>
#include <memory>
#include <new>
#include <utility>

#include "embedded/clipboard_formats.h"
#include "embedded/metafile_picture.h"
#include "embedded/native_data.h"
#include "embedded/stream_reading.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kOpenMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
// Each save replaces both streams whole.
constexpr DWORD kReplaceMode = STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE;

constexpr const char kCorruptionCaption[] = "Quillmorph OLE";
constexpr const char kCorruptionText[] = "This object has become corrupted. You will have to delete it and "
                                         "paste the figure from Quillmorph again.";

void WriteFormatRecord(IStorage* storage)
{
    // The record is for other programs that look at the storage; the object
    // never reads it back, so a failure to write it does not fail the save.
    ::WriteFmtUserTypeStg(storage, RegisterNativeDataFormat(), const_cast<LPOLESTR>(kEmbeddedUserType));
}

// Creates "EMF", then "ZRN", each replacing what was there; a failure of either
// is the caller's result.
HRESULT CreateContentStreams(IStorage* storage, ComPtr<IStream>* picture, ComPtr<IStream>* native)
{
    HRESULT hr = storage->CreateStream(kPictureStream, kReplaceMode, 0, 0, picture->ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return hr;
    return storage->CreateStream(kNativeDataStream, kReplaceMode, 0, 0, native->ReleaseAndGetAddressOf());
}

HRESULT WriteAll(IStream* stream, const void* bytes, ULONG size)
{
    ULONG written = 0;
    HRESULT hr = stream->Write(bytes, size, &written);
    if (FAILED(hr) || written != size)
        return STG_E_WRITEFAULT;
    return S_OK;
}

} // namespace

STDMETHODIMP CEmbeddedObject::GetClassID(CLSID* pClassID)
{
    if (!pClassID)
        return E_POINTER;
    *pClassID = m_clsidStorage;
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::IsDirty()
{
    return m_bDirty == 1 ? S_OK : S_FALSE;
}

STDMETHODIMP CEmbeddedObject::InitNew(IStorage* pStg)
{
    if (!pStg)
        return E_POINTER;
    // Streams that are already there (a container re-initialising a storage) are
    // left as they are; only a general failure of the storage ends the call.
    for (const wchar_t* name : {kPictureStream, kNativeDataStream}) {
        ComPtr<IStream> stream;
        HRESULT hr = pStg->CreateStream(name, kOpenMode, 0, 0, &stream);
        if (hr == E_FAIL)
            return E_FAIL;
    }
    WriteFormatRecord(pStg);
    m_spStorage = pStg;
    m_nStorageState = StorageNormal;
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::Load(IStorage* pStg)
{
    if (m_nStorageState != StorageUninitialized)
        ResetPersistentState();
    if (!pStg)
        return E_POINTER;

    // Everything is read aside first and taken over only when the whole storage
    // has been read, so that a failed load leaves the drawing as it was.
    BOOL convertPending = ::GetConvertStg(pStg) == S_OK;
    CLSID storedClass = m_clsidStorage;
    ::ReadClassStg(pStg, &storedClass);

    ComPtr<IStream> pictureStream;
    HRESULT hr = pStg->OpenStream(kPictureStream, nullptr, kOpenMode, 0, &pictureStream);
    if (FAILED(hr))
        return hr;
    UniqueEnhMetaFile picture;
    hr = ReadPicture(pictureStream.Get(), &picture);
    if (FAILED(hr))
        return hr == E_OUTOFMEMORY ? hr : STG_E_READFAULT;

    ComPtr<IStream> nativeStream;
    hr = pStg->OpenStream(kNativeDataStream, nullptr, kOpenMode, 0, &nativeStream);
    if (FAILED(hr))
        return hr;
    UniqueHGlobal nativeData;
    hr = ReadNativeData(nativeStream.Get(), &nativeData);
    if (FAILED(hr))
        return hr == E_OUTOFMEMORY ? hr : STG_E_READFAULT;

    m_bConvertPending = convertPending;
    m_clsidStorage = storedClass;
    ReplacePicture(std::move(picture));
    m_hNativeData = std::move(nativeData);
    m_spStorage = pStg;
    m_nStorageState = StorageNormal;
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::Save(IStorage* pStgSave, BOOL /*fSameAsLoad*/)
{
    if (m_nStorageState != StorageNormal)
        return E_UNEXPECTED;
    if (!pStgSave)
        return E_POINTER;
    HRESULT hr = S_OK;
    {
        // Writing into a container's storage from another process lets this
        // thread's loop run: the end of an edit waits until the save is done.
        CallDepthScope scope(&m_nSaveDepth);
        hr = SaveContents(pStgSave);
    }
    // A failed save leaves the storage as it was, and an ended edit may be told.
    ResumeEditEnd();
    return hr;
}

HRESULT CEmbeddedObject::SaveContents(IStorage* pStgSave)
{
    // The drawing is always written into the storage it is given.
    ComPtr<IStream> pictureStream;
    ComPtr<IStream> nativeStream;
    HRESULT hr = CreateContentStreams(pStgSave, &pictureStream, &nativeStream);
    if (FAILED(hr))
        return hr;

    WriteFormatRecord(pStgSave);
    HRESULT pictureWritten = WritePicture(pictureStream.Get());
    pictureStream.Reset();
    HRESULT nativeWritten = WriteNativeData(nativeStream.Get());
    nativeStream.Reset();

    if (m_bConvertPending) {
        // A container converted an older object to this class: the storage now
        // carries this class's record, and the conversion is done.
        WriteFormatRecord(pStgSave);
        ::SetConvertStg(pStgSave, FALSE);
        m_bConvertPending = FALSE;
    }

    // A drawing that did not reach the storage stays dirty, so that the
    // container is not told its document is safe.
    if (FAILED(pictureWritten) || FAILED(nativeWritten))
        return STG_E_WRITEFAULT;
    m_bDirty = 0;
    m_nStorageState = StorageNoScribble;
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::SaveCompleted(IStorage* pStgNew)
{
    if (m_nStorageState != StorageNoScribble && m_nStorageState != StorageHandsOff)
        return E_UNEXPECTED;
    if (!pStgNew && m_nStorageState == StorageHandsOff) {
        // The container took the storage away and gives none back: the drawing
        // can no longer be saved. The user is told once per object; the flag is
        // set first because the message box lets other calls in while it shows.
        if (!m_bCorruptionReported) {
            m_bCorruptionReported = TRUE;
            ReportCorruption();
        }
        return E_INVALIDARG;
    }
    if (m_spOleAdviseHolder)
        m_spOleAdviseHolder->SendOnSave();
    m_nStorageState = StorageNormal;
    // An edit that ended while the container saved is told now.
    ResumeEditEnd();
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::HandsOffStorage()
{
    if (m_nStorageState == StorageUninitialized || m_nStorageState == StorageNoScribble)
        return E_UNEXPECTED;
    m_spStorage.Reset();
    m_nStorageState = StorageHandsOff;
    return S_OK;
}

HRESULT CEmbeddedObject::WriteContentsToStorage(IStorage* storage)
{
    if (!storage)
        return E_POINTER;
    ComPtr<IStream> pictureStream;
    ComPtr<IStream> nativeStream;
    HRESULT hr = CreateContentStreams(storage, &pictureStream, &nativeStream);
    if (FAILED(hr))
        return hr;
    hr = WritePicture(pictureStream.Get());
    if (FAILED(hr))
        return hr;
    return WriteNativeData(nativeStream.Get());
}

void CEmbeddedObject::ResetPersistentState()
{
    m_nStorageState = StorageUninitialized;
    m_bConvertPending = FALSE;
    m_clsidStorage = CLSID_QuillmorphEmbeddedObject;
    m_bDirty = 1;
    m_bCorruptionReported = FALSE;
    m_bEditing = FALSE;
}

HRESULT CEmbeddedObject::SetContents(HENHMETAFILE picture, HGLOBAL nativeData)
{
    UniqueHGlobal block(nativeData);
    UniqueEnhMetaFile copy;
    if (picture) {
        copy.reset(::CopyEnhMetaFileA(picture, nullptr));
        if (!copy)
            return E_INVALIDARG;
    }
    AdoptContents(std::move(copy), std::move(block));
    return S_OK;
}

void CEmbeddedObject::AdoptContents(UniqueEnhMetaFile picture, UniqueHGlobal nativeData)
{
    if (NativeDataSize(nativeData.get()) == 0)
        nativeData.reset();
    ReplacePicture(std::move(picture));
    m_hNativeData = std::move(nativeData);
    ResetPersistentState();
}

HRESULT CEmbeddedObject::WritePicture(IStream* stream)
{
    // A drawing without a picture leaves the stream empty.
    if (!m_hEnhMetaFile)
        return S_OK;
    UINT size = ::GetEnhMetaFileBits(m_hEnhMetaFile.get(), 0, nullptr);
    if (size == 0)
        return STG_E_WRITEFAULT;
    std::unique_ptr<BYTE[]> bits(new (std::nothrow) BYTE[size]);
    if (!bits)
        return E_OUTOFMEMORY;
    if (::GetEnhMetaFileBits(m_hEnhMetaFile.get(), size, bits.get()) != size)
        return STG_E_WRITEFAULT;
    return WriteAll(stream, bits.get(), size);
}

HRESULT CEmbeddedObject::WriteNativeData(IStream* stream)
{
    // An empty document leaves the stream empty; nothing is handed to the
    // stream, which may refuse a write from no buffer.
    SIZE_T size = NativeDataSize(m_hNativeData.get());
    if (size == 0)
        return S_OK;
    if (size > ULONG_MAX)
        return STG_E_WRITEFAULT;
    GlobalLockGuard bytes(m_hNativeData.get());
    if (!bytes)
        return STG_E_WRITEFAULT;
    return WriteAll(stream, bytes.get(), static_cast<ULONG>(size));
}

HRESULT CEmbeddedObject::ReadPicture(IStream* stream, UniqueEnhMetaFile* picture)
{
    picture->reset();
    UniqueHGlobal bits;
    ULONG read = 0;
    ULONG claimed = 0;
    HRESULT hr = ReadClaimedBytes(stream, &bits, &read, &claimed);
    if (FAILED(hr))
        return hr;
    if (read == 0)
        return S_OK;
    // Bytes that are no metafile give a drawing without a picture, not a
    // failure: the native document is what matters to the user.
    GlobalLockGuard bytes(bits.get());
    if (!bytes)
        return E_OUTOFMEMORY;
    const auto* at = static_cast<const BYTE*>(bytes.get());
    *picture = EnhMetaFileFromBits(at, read);
    return S_OK;
}

HRESULT CEmbeddedObject::ReadNativeData(IStream* stream, UniqueHGlobal* nativeData)
{
    nativeData->reset();
    UniqueHGlobal block;
    ULONG read = 0;
    ULONG claimed = 0;
    HRESULT hr = ReadClaimedBytes(stream, &block, &read, &claimed);
    if (FAILED(hr))
        return hr;
    // A short read would hand the editor a document with an undefined tail.
    if (read != claimed)
        return STG_E_READFAULT;
    *nativeData = std::move(block);
    return S_OK;
}

void CEmbeddedObject::ReportCorruption()
{
    ::MessageBoxA(nullptr, kCorruptionText, kCorruptionCaption, MB_ICONERROR | MB_SETFOREGROUND);
}
