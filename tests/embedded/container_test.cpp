// A container at work, as a word processor does it: the platform's default
// handler in this process, the real server process behind it, a compound
// document file on disk. New data cannot be pushed into a running server
// through the handler here (the platform's cross-process SetData proxy answers
// E_NOTIMPL without reaching the server), so drawings with content come from a
// document written beforehand.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <string>

#include "embedded/test_doubles.h"
#include "support/test_support.h"

using Microsoft::WRL::ComPtr;
using namespace embedded_test;
using namespace testing_support;

namespace {

class Container : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { registered_ = RegisterServer(ServerExePath()); }

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(apartment_.status()));
        ASSERT_EQ(registered_, 0u) << "the server registers itself";
        // A new activation while an old server pauses before it ends would fail.
        ASSERT_TRUE(WaitForNoProcess(kServerImage, 15000));
        wchar_t folder[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, folder);
        wchar_t name[MAX_PATH] = {};
        ::GetTempFileNameW(folder, L"doc", 0, name);
        path_ = name;
    }

    void TearDown() override { ::DeleteFileW(path_.c_str()); }

    // The container's document and the drawing's storage inside it.
    void OpenDocument(bool create)
    {
        storage_.Reset();
        document_.Reset();
        DWORD mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
        if (create) {
            ASSERT_EQ(::StgCreateDocfile(path_.c_str(), mode | STGM_CREATE, 0, &document_), S_OK);
            ASSERT_EQ(document_->CreateStorage(kDrawingStorage, mode | STGM_CREATE, 0, 0, &storage_), S_OK);
        } else {
            ASSERT_EQ(::StgOpenStorage(path_.c_str(), nullptr, mode, nullptr, 0, &document_), S_OK);
            ASSERT_EQ(document_->OpenStorage(kDrawingStorage, nullptr, mode, nullptr, 0, &storage_), S_OK);
        }
    }

    void CloseDocument()
    {
        storage_.Reset();
        if (document_) {
            EXPECT_EQ(document_->Commit(STGC_DEFAULT), S_OK);
        }
        document_.Reset();
    }

    // Saves the drawing into its storage as the container's save command does.
    void SaveDrawing(IOleObject* ole)
    {
        ComPtr<IPersistStorage> persist;
        ASSERT_EQ(ole->QueryInterface(IID_PPV_ARGS(&persist)), S_OK);
        ASSERT_EQ(::OleSave(persist.Get(), storage_.Get(), TRUE), S_OK);
        ASSERT_EQ(persist->SaveCompleted(nullptr), S_OK);
        ASSERT_EQ(storage_->Commit(STGC_DEFAULT), S_OK);
    }

    // Ends the drawing's life in the container and waits for the server to go.
    void Dismiss(ComPtr<IOleObject>& ole)
    {
        EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
        ole->SetClientSite(nullptr);
        ole.Reset();
        EXPECT_TRUE(WaitForNoProcess(kServerImage, 15000)) << "the server ends after the last release";
    }

    static Bytes PictFileBits(IDataObject* data, LONG* xExt, LONG* yExt)
    {
        FORMATETC f = Format(CF_METAFILEPICT, TYMED_MFPICT);
        StgMediumGuard medium;
        HRESULT hr = data->GetData(&f, medium.put());
        EXPECT_EQ(hr, S_OK);
        if (FAILED(hr))
            return {};
        GlobalLockGuard locked(medium->hMetaFilePict);
        if (!locked)
            return {};
        const auto* pict = static_cast<const METAFILEPICT*>(locked.get());
        *xExt = pict->xExt;
        *yExt = pict->yExt;
        UINT size = ::GetMetaFileBitsEx(pict->hMF, 0, nullptr);
        Bytes bits(size);
        if (size)
            ::GetMetaFileBitsEx(pict->hMF, size, bits.data());
        return bits;
    }

    static DWORD registered_;
    Apartment apartment_;
    ContainerSite site_;
    std::wstring path_;
    ComPtr<IStorage> document_;
    ComPtr<IStorage> storage_;
};

DWORD Container::registered_ = 1;

TEST_F(Container, InsertingANewDrawingSavesAnEmptyDrawingIntoTheDocument)
{
    OpenDocument(true);
    ComPtr<IOleObject> ole;
    ASSERT_EQ(::OleCreate(CLSID_QuillmorphEmbeddedObject, IID_IOleObject, OLERENDER_DRAW, nullptr, &site_,
                          storage_.Get(), &ole),
              S_OK);
    ASSERT_EQ(::OleRun(ole.Get()), S_OK);
    EXPECT_FALSE(FindProcesses(kServerImage).empty()) << "the drawing runs in the server process";

    // What the registration tells the platform about the drawing.
    CLSID clsid = {};
    ASSERT_EQ(ole->GetUserClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_QuillmorphEmbeddedObject));
    UniqueTaskMemory userType;
    LPOLESTR text = nullptr;
    ASSERT_EQ(ole->GetUserType(USERCLASSTYPE_FULL, &text), S_OK);
    userType.reset(text);
    EXPECT_STREQ(text, L"Quillmorph OLE");
    ComPtr<IEnumOLEVERB> verbs;
    ASSERT_EQ(ole->EnumVerbs(&verbs), S_OK);
    OLEVERB verb[8] = {};
    ULONG count = 0;
    verbs->Next(8, verb, &count);
    EXPECT_EQ(count, 4u);
    for (ULONG i = 0; i < count; ++i)
        ::CoTaskMemFree(verb[i].lpszVerbName);

    // A new drawing has no picture; the container still gets one to show.
    ComPtr<IDataObject> data;
    ASSERT_EQ(ole.As(&data), S_OK);
    LONG xExt = -1;
    LONG yExt = -1;
    PictFileBits(data.Get(), &xExt, &yExt);
    EXPECT_EQ(xExt, 0);
    EXPECT_EQ(yExt, 0);

    // Hiding and closing come back to the container's site through the handler.
    site_.ClearCalls();
    EXPECT_EQ(ole->DoVerb(OLEIVERB_HIDE, nullptr, &site_, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site_, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(site_.Calls(), (std::vector<std::string>{"OnShowWindow(FALSE)"}));

    SaveDrawing(ole.Get());
    Dismiss(ole);
    CloseDocument();

    OpenDocument(false);
    CLSID stored = {};
    EXPECT_EQ(::ReadClassStg(storage_.Get(), &stored), S_OK);
    EXPECT_TRUE(IsEqualCLSID(stored, CLSID_QuillmorphEmbeddedObject));
    Bytes bytes{1};
    EXPECT_EQ(ReadStream(storage_.Get(), L"EMF", &bytes), S_OK);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(ReadStream(storage_.Get(), L"ZRN", &bytes), S_OK);
    EXPECT_TRUE(bytes.empty());
}

TEST_F(Container, ASavedDrawingComesBackWithItsDocumentAndCachedPicture)
{
    UniqueEnhMetaFile picture = MakePicture({0, 0, 5000, 2500});
    Bytes pictureBits = PictureBits(picture.get());
    Bytes native = PatternBytes(200000, 9);
    OpenDocument(true);
    ASSERT_EQ(::WriteClassStg(storage_.Get(), CLSID_QuillmorphEmbeddedObject), S_OK);
    ASSERT_EQ(WriteStream(storage_.Get(), L"EMF", pictureBits), S_OK);
    ASSERT_EQ(WriteStream(storage_.Get(), L"ZRN", native), S_OK);
    CloseDocument();

    // Opened by the container: the handler loads it, the server serves it.
    OpenDocument(false);
    ComPtr<IOleObject> ole;
    ASSERT_EQ(::OleLoad(storage_.Get(), IID_IOleObject, &site_, &ole), S_OK);
    ComPtr<IOleCache> cache;
    ASSERT_EQ(ole.As(&cache), S_OK);
    FORMATETC pictureFormat = Format(CF_METAFILEPICT, TYMED_MFPICT);
    DWORD connection = 0;
    EXPECT_TRUE(SUCCEEDED(cache->Cache(&pictureFormat, ADVF_PRIMEFIRST, &connection)));
    ASSERT_EQ(::OleRun(ole.Get()), S_OK);

    ComPtr<IDataObject> data;
    ASSERT_EQ(ole.As(&data), S_OK);
    LONG xExt = 0;
    LONG yExt = 0;
    Bytes served = PictFileBits(data.Get(), &xExt, &yExt);
    EXPECT_EQ(xExt, 5000);
    EXPECT_EQ(yExt, 2500);
    EXPECT_FALSE(served.empty());
    Bytes document;
    ASSERT_EQ(GetNativeData(data.Get(), &document), S_OK);
    EXPECT_TRUE(document == native) << "the native document, byte for byte, across the process boundary";

    SaveDrawing(ole.Get());
    Dismiss(ole);
    cache.Reset();
    data.Reset();
    CloseDocument();

    OpenDocument(false);
    Bytes bytes;
    EXPECT_EQ(ReadStream(storage_.Get(), L"ZRN", &bytes), S_OK);
    EXPECT_TRUE(bytes == native);
    EXPECT_EQ(ReadStream(storage_.Get(), L"EMF", &bytes), S_OK);
    EXPECT_EQ(bytes, pictureBits);
    EXPECT_EQ(ReadStream(storage_.Get(), L"\2OlePres000", &bytes), S_OK) << "the handler's cached picture";

    // Loaded again but not run, the handler shows the picture from its cache:
    // the same one the server served.
    ASSERT_EQ(::OleLoad(storage_.Get(), IID_IOleObject, &site_, &ole), S_OK);
    ASSERT_EQ(ole.As(&data), S_OK);
    xExt = yExt = 0;
    Bytes cached = PictFileBits(data.Get(), &xExt, &yExt);
    EXPECT_EQ(xExt, 5000);
    EXPECT_EQ(yExt, 2500);
    EXPECT_EQ(cached, served);
    EXPECT_TRUE(FindProcesses(kServerImage).empty()) << "the cache answers without the server";
    data.Reset();
    ole.Reset();
    CloseDocument();
}

} // namespace
