#include "embedded/test_doubles.h"

#include <gtest/gtest.h>

#include <cstring>

#include "embedded/embedded_object.h"

using Microsoft::WRL::ComPtr;

namespace embedded_test {

STDMETHODIMP DistantStorage::CreateStream(const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2,
                                          IStream** stream)
{
    const HRESULT hr = real_->CreateStream(name, mode, r1, r2, stream);
    testing_support::PumpMessagesFor(20);
    if (afterMessages)
        afterMessages(name ? name : L"");
    return hr;
}

bool RecordingAutomation::Answers(REFIID riid) const
{
    if (InlineIsEqualGUID(riid, IID_IUnknown))
        return true;
    return answerAutomationInterface &&
           (InlineIsEqualGUID(riid, IID_IDispatch) || InlineIsEqualGUID(riid, IID_IQuillmorphOLE));
}

STDMETHODIMP RecordingAutomation::Activate(VARIANT e)
{
    ++activations;
    lastType = e.vt;
    lastIdentity = nullptr;
    if (e.vt == VT_UNKNOWN && e.punkVal) {
        ComPtr<IUnknown> identity;
        if (SUCCEEDED(e.punkVal->QueryInterface(IID_PPV_ARGS(&identity))))
            lastIdentity = identity.Get();
        if (SUCCEEDED(activateResult))
            kept.emplace_back(e.punkVal);
    }
    return activateResult;
}

void RecordingAutomation::ReleaseKept()
{
    kept.clear();
}

StandInClassObject::~StandInClassObject()
{
    if (cookie_)
        ::CoRevokeClassObject(cookie_);
}

HRESULT StandInClassObject::Register()
{
    return ::CoRegisterClassObject(CLSID_QuillmorphOLE, this, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER,
                                   REGCLS_MULTIPLEUSE, &cookie_);
}

STDMETHODIMP StandInClassObject::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    ++creations;
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (FAILED(createResult))
        return createResult;
    return automation_->QueryInterface(riid, ppv);
}

ComPtr<IOleObject> NewDrawing()
{
    ComPtr<IOleObject> drawing;
    EXPECT_EQ(CreateObjectInstance<CEmbeddedObject>(nullptr, IID_PPV_ARGS(&drawing)), S_OK);
    return drawing;
}

ULONG RefCount(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

ComPtr<IStorage> NewMemoryStorage()
{
    ComPtr<ILockBytes> bytes;
    EXPECT_EQ(::CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes), S_OK);
    ComPtr<IStorage> storage;
    EXPECT_EQ(::StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                             0, &storage),
              S_OK);
    return storage;
}

UniqueEnhMetaFile MakePicture(const RECT& frame)
{
    HDC recorder = ::CreateEnhMetaFileA(nullptr, nullptr, &frame, "test\0picture\0");
    EXPECT_NE(recorder, nullptr);
    ::Rectangle(recorder, 10, 10, 200, 100);
    ::Ellipse(recorder, 20, 20, 120, 90);
    return UniqueEnhMetaFile(::CloseEnhMetaFile(recorder));
}

HGLOBAL MakeBlock(const Bytes& bytes)
{
    if (bytes.empty())
        return nullptr;
    HGLOBAL block = ::GlobalAlloc(GMEM_FIXED, bytes.size());
    EXPECT_NE(block, nullptr);
    if (block)
        std::memcpy(static_cast<void*>(block), bytes.data(), bytes.size());
    return block;
}

Bytes BlockBytes(HGLOBAL block)
{
    if (!block)
        return {};
    SIZE_T size = ::GlobalSize(block);
    GlobalLockGuard locked(block);
    if (!locked)
        return {};
    return Bytes(locked.bytes(), locked.bytes() + size);
}

HRESULT ReadStream(IStorage* storage, const wchar_t* name, Bytes* bytes)
{
    bytes->clear();
    ComPtr<IStream> stream;
    HRESULT hr = storage->OpenStream(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (FAILED(hr))
        return hr;
    STATSTG stat = {};
    hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr))
        return hr;
    bytes->resize(static_cast<size_t>(stat.cbSize.QuadPart));
    if (bytes->empty())
        return S_OK;
    ULONG read = 0;
    hr = stream->Read(bytes->data(), static_cast<ULONG>(bytes->size()), &read);
    if (FAILED(hr))
        return hr;
    return read == bytes->size() ? S_OK : E_FAIL;
}

FORMATETC Format(CLIPFORMAT format, DWORD tymed, DWORD aspect)
{
    FORMATETC f = {format, nullptr, aspect, -1, tymed};
    return f;
}

CLIPFORMAT EmbedSourceFormat()
{
    return static_cast<CLIPFORMAT>(::RegisterClipboardFormatA("Embed Source"));
}
CLIPFORMAT EmbeddedObjectFormat()
{
    return static_cast<CLIPFORMAT>(::RegisterClipboardFormatA("Embedded Object"));
}

HRESULT SetNativeData(IDataObject* data, const Bytes& bytes)
{
    FORMATETC format = Format(NativeFormat(), TYMED_HGLOBAL);
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = MakeBlock(bytes);
    return data->SetData(&format, &medium, TRUE);
}

HRESULT SetPicture(IDataObject* data, HENHMETAFILE picture)
{
    FORMATETC format = Format(CF_ENHMETAFILE, TYMED_ENHMF);
    STGMEDIUM medium = {};
    medium.tymed = TYMED_ENHMF;
    medium.hEnhMetaFile = picture;
    return data->SetData(&format, &medium, FALSE);
}

HRESULT GetNativeData(IDataObject* data, Bytes* bytes)
{
    bytes->clear();
    FORMATETC format = Format(NativeFormat(), TYMED_HGLOBAL);
    StgMediumGuard medium;
    HRESULT hr = data->GetData(&format, medium.put());
    if (FAILED(hr))
        return hr;
    if (medium->tymed != TYMED_HGLOBAL)
        return E_UNEXPECTED;
    *bytes = BlockBytes(medium->hGlobal);
    return S_OK;
}

} // namespace embedded_test
