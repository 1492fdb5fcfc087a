#pragma once

// Stand-ins for what lies outside the drawing: an advise sink and the
// automation class the open verb hands the drawing to (the container's site is
// the shared one, support/container_site.h).
// Plus helpers that make real storages, pictures and native documents.

#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

#include "server/class_ids.h"
#include "server/handles.h"
#include "support/container_site.h"
#include "support/counted_unknown.h"
#include "support/forwarding_storage.h"
#include "support/pictures.h"
#include "support/test_support.h"

namespace embedded_test {

using Bytes = std::vector<BYTE>;
using testing_support::ContainerSite;

// An advise sink that counts data changes and keeps the data object it was told about.
class RecordingAdviseSink : public testing_support::CountedUnknown<IAdviseSink>
{
public:
    STDMETHOD_(void, OnDataChange)(FORMATETC*, STGMEDIUM*) override { ++dataChanges; }
    STDMETHOD_(void, OnViewChange)(DWORD, LONG) override { ++viewChanges; }
    STDMETHOD_(void, OnRename)(IMoniker*) override {}
    STDMETHOD_(void, OnSave)() override { ++saves; }
    STDMETHOD_(void, OnClose)() override { ++closes; }

    int dataChanges = 0;
    int viewChanges = 0;
    int saves = 0;
    int closes = 0;
};

// The automation class as the open verb sees it: records each Activate and, when
// it succeeds, keeps a reference of its own to the drawing, as the table of open
// edits does.
class RecordingAutomation : public testing_support::CountedUnknown<IQuillmorphOLE>
{
public:
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(TripForward)(VARIANT, VARIANT, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(TripBack)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(Activate)(VARIANT e) override;
    STDMETHOD(UpdateAndClose)(VARIANT, VARIANT, VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(Close)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(CloseAll)() override { return E_NOTIMPL; }

    // Releases the references kept for the drawings, as ending the edits would.
    void ReleaseKept();

    HRESULT activateResult = S_OK;
    bool answerAutomationInterface = true;
    int activations = 0;
    VARTYPE lastType = VT_EMPTY;
    IUnknown* lastIdentity = nullptr; // not counted: compared only
    std::vector<Microsoft::WRL::ComPtr<IUnknown>> kept;

protected:
    bool Answers(REFIID riid) const override;
};

// The class object of the stand-in, registered in this process for the
// automation class's id for the lifetime of the registration.
class StandInClassObject : public testing_support::CountedUnknown<IClassFactory>
{
public:
    explicit StandInClassObject(RecordingAutomation* automation) : automation_(automation) {}
    ~StandInClassObject();
    HRESULT Register();

    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHOD(LockServer)(BOOL) override { return S_OK; }

    HRESULT createResult = S_OK;
    int creations = 0;

private:
    RecordingAutomation* automation_;
    DWORD cookie_ = 0;
};

// A container's storage in another process, as the drawing meets it: every
// call goes to a real storage, and creating a stream lets the calling thread's
// messages run, as a call across processes does while it waits.
class DistantStorage : public testing_support::ForwardingStorage<>
{
public:
    explicit DistantStorage(IStorage* inner) : ForwardingStorage(inner) {}

    STDMETHOD(CreateStream)(const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2, IStream** stream) override;

    // Called (with the stream's name) each time the thread's messages have run.
    std::function<void(const std::wstring&)> afterMessages;
};

// A new drawing made directly, as the class object makes it.
Microsoft::WRL::ComPtr<IOleObject> NewDrawing();

// Tests of one new drawing in this process, with its storage and data
// interfaces at hand.
class NewDrawingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(apartment_.status()));
        ole_ = NewDrawing();
        ASSERT_TRUE(ole_);
        ASSERT_EQ(ole_.As(&persist_), S_OK);
        ASSERT_EQ(ole_.As(&data_), S_OK);
    }

    testing_support::Apartment apartment_;
    Microsoft::WRL::ComPtr<IOleObject> ole_;
    Microsoft::WRL::ComPtr<IPersistStorage> persist_;
    Microsoft::WRL::ComPtr<IDataObject> data_;
};

// The object's reference count, read without changing it.
ULONG RefCount(IUnknown* object);

// A root storage over memory.
Microsoft::WRL::ComPtr<IStorage> NewMemoryStorage();

// A picture whose frame is frame (0.01 mm) with a few records in it.
UniqueEnhMetaFile MakePicture(const RECT& frame);
using testing_support::PictureBits;

// A fixed global block holding bytes (no block for no bytes).
HGLOBAL MakeBlock(const Bytes& bytes);
Bytes BlockBytes(HGLOBAL block);
using testing_support::PatternBytes;

// The whole content of a stream of storage, or an error.
HRESULT ReadStream(IStorage* storage, const wchar_t* name, Bytes* bytes);
using testing_support::WriteStream;

FORMATETC Format(CLIPFORMAT format, DWORD tymed, DWORD aspect = DVASPECT_CONTENT);
using testing_support::NativeFormat;
CLIPFORMAT EmbedSourceFormat();
CLIPFORMAT EmbeddedObjectFormat();

// Hands the drawing a native document or a picture through SetData.
HRESULT SetNativeData(IDataObject* data, const Bytes& bytes);
HRESULT SetPicture(IDataObject* data, HENHMETAFILE picture);
// The native document as the drawing serves it.
HRESULT GetNativeData(IDataObject* data, Bytes* bytes);

} // namespace embedded_test
