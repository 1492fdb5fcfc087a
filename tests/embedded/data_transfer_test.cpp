// What the drawing serves and accepts as data: the format table, the metafile
// picture, the native document, the storage written on request, new data with
// its notifications.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <climits>
#include <cstring>

#include "embedded/test_doubles.h"
#include "support/test_support.h"

using Microsoft::WRL::ComPtr;
using namespace embedded_test;

namespace {

// A picture made from bits as they are, unchecked, as a hostile caller can make one.
UniqueEnhMetaFile UncheckedPicture(const Bytes& bits)
{
    return UniqueEnhMetaFile(::SetEnhMetaFileBits(static_cast<UINT>(bits.size()), bits.data()));
}

// The bits of a small picture with its frame replaced.
Bytes PictureBitsWithFrame(const RECTL& frame)
{
    Bytes bits = PictureBits(MakePicture({0, 0, 100, 100}).get());
    ENHMETAHEADER header = {};
    std::memcpy(&header, bits.data(), sizeof(header));
    header.rclFrame = frame;
    std::memcpy(bits.data(), &header, sizeof(header));
    return bits;
}

class DataTransfer : public NewDrawingTest
{
protected:
    HRESULT Query(CLIPFORMAT format, DWORD tymed, DWORD aspect = DVASPECT_CONTENT)
    {
        FORMATETC f = Format(format, tymed, aspect);
        return data_->QueryGetData(&f);
    }

    // The stream name of the storage that GetDataHere fills for an embedding;
    // "failed" when it fills none or there is no such stream.
    Bytes StreamOfTheEmbedding(const wchar_t* name)
    {
        ComPtr<IStorage> storage = NewMemoryStorage();
        FORMATETC f = Format(EmbedSourceFormat(), TYMED_ISTORAGE);
        STGMEDIUM medium = {};
        medium.tymed = TYMED_ISTORAGE;
        medium.pstg = storage.Get();
        Bytes bytes;
        if (data_->GetDataHere(&f, &medium) != S_OK || ReadStream(storage.Get(), name, &bytes) != S_OK)
            return Bytes{'f', 'a', 'i', 'l', 'e', 'd'};
        return bytes;
    }

    HRESULT Get(CLIPFORMAT format, DWORD tymed, DWORD aspect = DVASPECT_CONTENT)
    {
        FORMATETC f = Format(format, tymed, aspect);
        StgMediumGuard medium;
        return data_->GetData(&f, medium.put());
    }
};

TEST_F(DataTransfer, QueryGetDataAnswersTheFormatTable)
{
    const DWORD allMedia =
        TYMED_HGLOBAL | TYMED_FILE | TYMED_ISTREAM | TYMED_ISTORAGE | TYMED_GDI | TYMED_MFPICT | TYMED_ENHMF;
    EXPECT_EQ(Query(CF_METAFILEPICT, TYMED_MFPICT), S_OK);
    EXPECT_EQ(Query(CF_METAFILEPICT, TYMED_MFPICT | TYMED_HGLOBAL), S_OK);
    EXPECT_EQ(Query(CF_METAFILEPICT, TYMED_HGLOBAL), DV_E_FORMATETC);
    EXPECT_EQ(Query(NativeFormat(), TYMED_HGLOBAL), S_OK);
    EXPECT_EQ(Query(NativeFormat(), TYMED_ISTREAM), DV_E_FORMATETC);
    EXPECT_EQ(Query(EmbedSourceFormat(), TYMED_ISTORAGE), S_OK);
    EXPECT_EQ(Query(EmbeddedObjectFormat(), TYMED_ISTORAGE | TYMED_HGLOBAL), S_OK);
    EXPECT_EQ(Query(EmbedSourceFormat(), TYMED_HGLOBAL), DV_E_FORMATETC);
    // Accepted by SetData, never served.
    EXPECT_EQ(Query(CF_ENHMETAFILE, TYMED_ENHMF), DV_E_FORMATETC);
    EXPECT_EQ(Query(CF_ENHMETAFILE, allMedia), DV_E_FORMATETC);
    EXPECT_EQ(Query(CF_TEXT, allMedia), DV_E_FORMATETC);
    EXPECT_EQ(Query(CF_BITMAP, TYMED_GDI), DV_E_FORMATETC);

    // The aspect is tested before the format.
    EXPECT_EQ(Query(CF_METAFILEPICT, TYMED_MFPICT, DVASPECT_CONTENT | DVASPECT_ICON), S_OK);
    EXPECT_EQ(Query(CF_METAFILEPICT, TYMED_MFPICT, DVASPECT_ICON), DV_E_DVASPECT);
    EXPECT_EQ(Query(CF_TEXT, TYMED_HGLOBAL, DVASPECT_THUMBNAIL), DV_E_DVASPECT);
    EXPECT_EQ(Get(CF_METAFILEPICT, TYMED_MFPICT, DVASPECT_ICON), DV_E_FORMATETC);
    EXPECT_EQ(Get(CF_TEXT, TYMED_HGLOBAL), DV_E_FORMATETC);
    EXPECT_EQ(Get(CF_ENHMETAFILE, TYMED_ENHMF), DV_E_FORMATETC);
    // The storage formats are written only into a caller's storage.
    EXPECT_EQ(Get(EmbedSourceFormat(), TYMED_ISTORAGE), E_UNEXPECTED);
    EXPECT_EQ(Get(EmbeddedObjectFormat(), TYMED_ISTORAGE), E_UNEXPECTED);

    IEnumFORMATETC* formats = nullptr;
    EXPECT_EQ(data_->EnumFormatEtc(DATADIR_GET, &formats), E_NOTIMPL);
    FORMATETC in = Format(CF_METAFILEPICT, TYMED_MFPICT);
    FORMATETC out = {};
    EXPECT_EQ(data_->GetCanonicalFormatEtc(&in, &out), E_NOTIMPL);
    EXPECT_EQ(data_->QueryGetData(nullptr), E_INVALIDARG);
    EXPECT_EQ(data_->GetData(&in, nullptr), E_INVALIDARG);
}

TEST_F(DataTransfer, TheMetafilePictureSpansThePicturesFrame)
{
    UniqueEnhMetaFile picture = MakePicture({0, 0, 5000, 2500});
    ASSERT_EQ(SetPicture(data_.Get(), picture.get()), S_OK);
    for (int round = 0; round < 2; ++round) {
        FORMATETC f = Format(CF_METAFILEPICT, TYMED_MFPICT);
        StgMediumGuard medium;
        ASSERT_EQ(data_->GetData(&f, medium.put()), S_OK);
        ASSERT_EQ(medium->tymed, static_cast<DWORD>(TYMED_MFPICT));
        EXPECT_EQ(medium->pUnkForRelease, nullptr);
        GlobalLockGuard locked(medium->hMetaFilePict);
        ASSERT_TRUE(locked);
        const auto* pict = static_cast<const METAFILEPICT*>(locked.get());
        EXPECT_EQ(pict->mm, MM_ANISOTROPIC);
        EXPECT_EQ(pict->xExt, 5000);
        EXPECT_EQ(pict->yExt, 2500);
        ASSERT_NE(pict->hMF, nullptr);
        EXPECT_GT(::GetMetaFileBitsEx(pict->hMF, 0, nullptr), 0u);
    }
    // A new picture is converted afresh.
    ASSERT_EQ(SetPicture(data_.Get(), MakePicture({100, 200, 1100, 700}).get()), S_OK);
    FORMATETC f = Format(CF_METAFILEPICT, TYMED_MFPICT);
    StgMediumGuard medium;
    ASSERT_EQ(data_->GetData(&f, medium.put()), S_OK);
    GlobalLockGuard locked(medium->hMetaFilePict);
    ASSERT_TRUE(locked);
    EXPECT_EQ(static_cast<const METAFILEPICT*>(locked.get())->xExt, 1000);
    EXPECT_EQ(static_cast<const METAFILEPICT*>(locked.get())->yExt, 500);
    SIZEL extent = {};
    EXPECT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 1000);
    EXPECT_EQ(extent.cy, 500);
}

TEST_F(DataTransfer, ADrawingWithoutPictureServesAnEmptyMetafile)
{
    FORMATETC f = Format(CF_METAFILEPICT, TYMED_MFPICT);
    StgMediumGuard medium;
    ASSERT_EQ(data_->GetData(&f, medium.put()), S_OK);
    GlobalLockGuard locked(medium->hMetaFilePict);
    ASSERT_TRUE(locked);
    const auto* pict = static_cast<const METAFILEPICT*>(locked.get());
    EXPECT_EQ(pict->mm, MM_ANISOTROPIC);
    EXPECT_EQ(pict->xExt, 0);
    EXPECT_EQ(pict->yExt, 0);
    EXPECT_NE(pict->hMF, nullptr) << "a metafile the container can play";
}

TEST_F(DataTransfer, TheNativeDocumentIsServedAsACopy)
{
    Bytes native = PatternBytes(1000, 11);
    ASSERT_EQ(SetNativeData(data_.Get(), native), S_OK);
    FORMATETC f = Format(NativeFormat(), TYMED_HGLOBAL);
    {
        StgMediumGuard medium;
        ASSERT_EQ(data_->GetData(&f, medium.put()), S_OK);
        ASSERT_EQ(medium->tymed, static_cast<DWORD>(TYMED_HGLOBAL));
        EXPECT_EQ(medium->pUnkForRelease, nullptr);
        EXPECT_EQ(::GlobalSize(medium->hGlobal), native.size());
        EXPECT_EQ(BlockBytes(medium->hGlobal), native);
        GlobalLockGuard locked(medium->hGlobal);
        locked.bytes()[0] ^= 0xFF;
    }
    Bytes again;
    ASSERT_EQ(GetNativeData(data_.Get(), &again), S_OK);
    EXPECT_EQ(again, native) << "changing the served block does not change the drawing";
}

TEST_F(DataTransfer, AnEmptyDocumentStaysEmpty)
{
    // Fresh, and after an empty document came in.
    for (int round = 0; round < 2; ++round) {
        FORMATETC f = Format(NativeFormat(), TYMED_HGLOBAL);
        StgMediumGuard medium;
        ASSERT_EQ(data_->GetData(&f, medium.put()), S_OK);
        EXPECT_EQ(medium->tymed, static_cast<DWORD>(TYMED_HGLOBAL));
        // A block that reads as zero bytes: a zero-byte fixed block may report one.
        ASSERT_NE(medium->hGlobal, nullptr);
        EXPECT_EQ(::GlobalSize(medium->hGlobal), 0u);
        ASSERT_EQ(SetNativeData(data_.Get(), Bytes{1, 2, 3}), S_OK);
        if (round == 0) {
            // The automation class hands an empty document over as a movable block of no bytes.
            FORMATETC native = Format(NativeFormat(), TYMED_HGLOBAL);
            STGMEDIUM empty = {};
            empty.tymed = TYMED_HGLOBAL;
            empty.hGlobal = ::GlobalAlloc(GMEM_MOVEABLE, 0);
            ASSERT_EQ(data_->SetData(&native, &empty, TRUE), S_OK);
        } else {
            ASSERT_EQ(SetNativeData(data_.Get(), Bytes{}), S_OK) << "no block at all";
        }
    }
    EXPECT_TRUE(StreamOfTheEmbedding(L"ZRN").empty());
}

TEST_F(DataTransfer, GetDataHereWritesOnlyTheTwoStreams)
{
    UniqueEnhMetaFile picture = MakePicture({0, 0, 800, 600});
    Bytes native = PatternBytes(5000, 2);
    ASSERT_EQ(SetNativeData(data_.Get(), native), S_OK);
    ASSERT_EQ(SetPicture(data_.Get(), picture.get()), S_OK);

    for (CLIPFORMAT format : {EmbedSourceFormat(), EmbeddedObjectFormat()}) {
        ComPtr<IStorage> storage = NewMemoryStorage();
        // Streams already there are replaced whole.
        ASSERT_EQ(WriteStream(storage.Get(), L"ZRN", PatternBytes(9000, 4)), S_OK);
        FORMATETC f = Format(format, TYMED_ISTORAGE, DVASPECT_ICON);
        STGMEDIUM medium = {};
        medium.tymed = TYMED_ISTORAGE;
        medium.pstg = storage.Get();
        ASSERT_EQ(data_->GetDataHere(&f, &medium), S_OK) << "the aspect is not examined";
        EXPECT_EQ(medium.pstg, storage.Get());
        EXPECT_EQ(medium.pUnkForRelease, nullptr);
        Bytes bytes;
        EXPECT_EQ(ReadStream(storage.Get(), L"ZRN", &bytes), S_OK);
        EXPECT_TRUE(bytes == native);
        EXPECT_EQ(ReadStream(storage.Get(), L"EMF", &bytes), S_OK);
        EXPECT_EQ(bytes, PictureBits(picture.get()));
        // No format record and no class: those are the container's.
        EXPECT_EQ(ReadStream(storage.Get(), L"\1CompObj", &bytes), STG_E_FILENOTFOUND);
        CLSID stored = {};
        EXPECT_EQ(::ReadClassStg(storage.Get(), &stored), S_OK);
        EXPECT_TRUE(IsEqualCLSID(stored, CLSID_NULL));
    }

    ComPtr<IStorage> storage = NewMemoryStorage();
    STGMEDIUM medium = {};
    medium.tymed = TYMED_ISTORAGE;
    medium.pstg = storage.Get();
    FORMATETC wrongMedium = Format(EmbedSourceFormat(), TYMED_HGLOBAL);
    EXPECT_EQ(data_->GetDataHere(&wrongMedium, &medium), DV_E_FORMATETC);
    FORMATETC native_ = Format(NativeFormat(), TYMED_ISTORAGE | TYMED_HGLOBAL);
    EXPECT_EQ(data_->GetDataHere(&native_, &medium), DV_E_FORMATETC);
    FORMATETC right = Format(EmbedSourceFormat(), TYMED_ISTORAGE);
    medium.pstg = nullptr;
    EXPECT_EQ(data_->GetDataHere(&right, &medium), DV_E_FORMATETC) << "no storage to write into";
}

TEST_F(DataTransfer, GetDataHereTakesNothingButAStorageForOne)
{
    // A global block of the caller's bytes where a storage should be: read as
    // one, its bytes would be called through as an object's method table.
    const Bytes fakeObject(256, 0x41);
    UniqueHGlobal block(MakeBlock(fakeObject));
    ContainerSite releaser; // any object will do as the caller's release interface
    IUnknown* const releaserUnknown = static_cast<IOleClientSite*>(&releaser);
    const ULONG releaserRefs = releaser.refs();
    FORMATETC request = Format(EmbedSourceFormat(), TYMED_ISTORAGE);
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block.get();
    medium.pUnkForRelease = releaserUnknown;
    EXPECT_EQ(data_->GetDataHere(&request, &medium), DV_E_FORMATETC);
    EXPECT_EQ(medium.tymed, static_cast<DWORD>(TYMED_HGLOBAL));
    EXPECT_EQ(medium.pUnkForRelease, releaserUnknown);
    EXPECT_EQ(releaser.refs(), releaserRefs);
    EXPECT_EQ(BlockBytes(block.get()), fakeObject);

    // A storage still gets the drawing, and the caller keeps its release interface.
    ComPtr<IStorage> storage = NewMemoryStorage();
    medium.tymed = TYMED_ISTORAGE;
    medium.pstg = storage.Get();
    ASSERT_EQ(data_->GetDataHere(&request, &medium), S_OK);
    EXPECT_EQ(medium.pUnkForRelease, releaserUnknown);
}

TEST_F(DataTransfer, APictureWhoseRecordsDoNotWalkToTheirEndIsRefusedAndChangesNothing)
{
    ASSERT_EQ(SetPicture(data_.Get(), MakePicture({0, 0, 800, 600}).get()), S_OK);
    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(persist_->InitNew(storage.Get()), S_OK);
    ASSERT_EQ(persist_->Save(storage.Get(), TRUE), S_OK);
    ASSERT_EQ(persist_->SaveCompleted(nullptr), S_OK);
    {
        // Converted once already, so that the time below is the conversion's alone.
        FORMATETC pict = Format(CF_METAFILEPICT, TYMED_MFPICT);
        StgMediumGuard warm;
        ASSERT_EQ(data_->GetData(&pict, warm.put()), S_OK);
    }

    // The record after the header claims no bytes: the platform's player would
    // step on it for good.
    Bytes bits = PictureBits(MakePicture({0, 0, 300, 200}).get());
    ENHMETAHEADER header = {};
    std::memcpy(&header, bits.data(), sizeof(header));
    ASSERT_LT(header.nSize + 8, bits.size());
    std::memset(&bits[header.nSize + 4], 0, 4);
    UniqueEnhMetaFile hostile = UncheckedPicture(bits);
    ASSERT_TRUE(hostile) << "the platform takes such bits as a metafile";

    FORMATETC f = Format(CF_ENHMETAFILE, TYMED_ENHMF);
    STGMEDIUM medium = {};
    medium.tymed = TYMED_ENHMF;
    medium.hEnhMetaFile = hostile.get();
    EXPECT_EQ(data_->SetData(&f, &medium, TRUE), DV_E_FORMATETC);
    EXPECT_EQ(PictureBits(hostile.get()), bits) << "the refused medium is not released";
    EXPECT_EQ(persist_->IsDirty(), S_FALSE);
    SIZEL extent = {};
    EXPECT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 800) << "the drawing keeps its picture";

    // The next conversion of the picture comes back at once. It runs on a
    // thread of its own so that a hang fails the test instead of stopping it;
    // a hung thread keeps its reference to the drawing.
    struct Conversion
    {
        IDataObject* data;
        HRESULT result;
    };
    auto* conversion = new Conversion{data_.Get(), E_PENDING};
    conversion->data->AddRef();
    UniqueKernelHandle thread(::CreateThread(
        nullptr, 0,
        [](void* context) -> DWORD {
            auto* c = static_cast<Conversion*>(context);
            FORMATETC pict = Format(CF_METAFILEPICT, TYMED_MFPICT);
            StgMediumGuard result;
            c->result = c->data->GetData(&pict, result.put());
            return 0;
        },
        conversion, 0, nullptr));
    ASSERT_TRUE(thread);
    ASSERT_EQ(::WaitForSingleObject(thread.get(), 1000), WAIT_OBJECT_0)
        << "GetData did not return within a second";
    EXPECT_EQ(conversion->result, S_OK);
    conversion->data->Release();
    delete conversion;
}

TEST_F(DataTransfer, ExtentsOfHostileFramesNeitherOverflowNorGoNegative)
{
    struct Case
    {
        const char* what;
        RECTL frame;
        LONG cx;
        LONG cy;
    };
    const Case cases[] = {
        {"the widest frame", {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, LONG_MAX, LONG_MAX},
        {"an inverted frame", {5000, 0, 0, 2500}, 0, 0},
        {"a frame inverted in height", {0, 2500, 5000, 0}, 0, 0},
        {"an ordinary frame", {-100, -200, 4900, 2300}, 5000, 2500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UniqueEnhMetaFile picture = UncheckedPicture(PictureBitsWithFrame(c.frame));
        ASSERT_TRUE(picture);
        ASSERT_EQ(SetPicture(data_.Get(), picture.get()), S_OK);
        SIZEL extent = {-1, -1};
        EXPECT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
        EXPECT_EQ(extent.cx, c.cx);
        EXPECT_EQ(extent.cy, c.cy);
        FORMATETC f = Format(CF_METAFILEPICT, TYMED_MFPICT);
        StgMediumGuard medium;
        if (data_->GetData(&f, medium.put()) != S_OK)
            continue; // a frame the platform cannot convert gives no picture at all
        GlobalLockGuard locked(medium->hMetaFilePict);
        ASSERT_TRUE(locked);
        EXPECT_EQ(static_cast<const METAFILEPICT*>(locked.get())->xExt, c.cx);
        EXPECT_EQ(static_cast<const METAFILEPICT*>(locked.get())->yExt, c.cy);
    }
}

TEST_F(DataTransfer, SetDataAcceptsOnlyContentInTheExactMedium)
{
    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(persist_->InitNew(storage.Get()), S_OK);
    ASSERT_EQ(persist_->Save(storage.Get(), TRUE), S_OK);
    ASSERT_EQ(persist_->SaveCompleted(nullptr), S_OK);
    ASSERT_EQ(persist_->IsDirty(), S_FALSE);

    Bytes native{1, 2, 3};
    HGLOBAL block = MakeBlock(native);
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block;
    FORMATETC withIcon = Format(NativeFormat(), TYMED_HGLOBAL, DVASPECT_CONTENT | DVASPECT_ICON);
    EXPECT_EQ(data_->SetData(&withIcon, &medium, TRUE), DV_E_FORMATETC);
    FORMATETC text = Format(CF_TEXT, TYMED_HGLOBAL);
    EXPECT_EQ(data_->SetData(&text, &medium, TRUE), DV_E_FORMATETC);
    FORMATETC picture = Format(CF_ENHMETAFILE, TYMED_ENHMF);
    EXPECT_EQ(data_->SetData(&picture, &medium, TRUE), DV_E_FORMATETC) << "the medium's own type is tested";
    FORMATETC native_ = Format(NativeFormat(), TYMED_HGLOBAL);
    EXPECT_EQ(data_->SetData(&native_, nullptr, FALSE), E_INVALIDARG);
    EXPECT_EQ(data_->SetData(nullptr, &medium, TRUE), E_INVALIDARG);
    // A refused call leaves the caller's block alone, whatever the release flag says.
    EXPECT_EQ(BlockBytes(block), native);
    EXPECT_EQ(persist_->IsDirty(), S_FALSE) << "nothing changed";

    // The request's medium type is not what counts; the medium's is.
    FORMATETC loose = Format(NativeFormat(), TYMED_ISTREAM);
    EXPECT_EQ(data_->SetData(&loose, &medium, FALSE), S_OK);
    EXPECT_EQ(BlockBytes(block), native) << "kept by the caller without the release flag";
    Bytes got;
    ASSERT_EQ(GetNativeData(data_.Get(), &got), S_OK);
    EXPECT_EQ(got, native);
    EXPECT_EQ(persist_->IsDirty(), S_OK);

    EXPECT_EQ(data_->SetData(&native_, &medium, TRUE), S_OK);
    EXPECT_EQ(::GlobalSize(block), 0u) << "released by the drawing";
}

TEST_F(DataTransfer, EachAcceptedSetDataNotifiesEverySinkOnce)
{
    RecordingAdviseSink first;
    RecordingAdviseSink second;
    FORMATETC any = Format(CF_METAFILEPICT, TYMED_MFPICT);
    DWORD firstCookie = 0;
    DWORD secondCookie = 0;
    ASSERT_EQ(data_->DAdvise(&any, 0, &first, &firstCookie), S_OK);
    ASSERT_EQ(data_->DAdvise(&any, ADVF_NODATA, &second, &secondCookie), S_OK);
    EXPECT_NE(firstCookie, secondCookie);

    ASSERT_EQ(SetNativeData(data_.Get(), Bytes{1}), S_OK);
    ASSERT_EQ(SetPicture(data_.Get(), MakePicture({0, 0, 10, 10}).get()), S_OK);
    EXPECT_EQ(first.dataChanges, 2);
    EXPECT_EQ(second.dataChanges, 2);

    // The editor's close signal counts as new data; refused calls do not.
    ASSERT_EQ(data_->SetData(nullptr, nullptr, FALSE), S_OK);
    FORMATETC text = Format(CF_TEXT, TYMED_HGLOBAL);
    STGMEDIUM medium = {};
    EXPECT_EQ(data_->SetData(&text, &medium, FALSE), DV_E_FORMATETC);
    EXPECT_EQ(first.dataChanges, 3);
    EXPECT_EQ(persist_->IsDirty(), S_OK);

    ComPtr<IEnumSTATDATA> connections;
    ASSERT_EQ(data_->EnumDAdvise(&connections), S_OK);
    STATDATA entries[3] = {};
    ULONG fetched = 0;
    connections->Next(3, entries, &fetched);
    EXPECT_EQ(fetched, 2u);
    for (ULONG i = 0; i < fetched; ++i)
        if (entries[i].pAdvSink)
            entries[i].pAdvSink->Release();
    connections.Reset();

    EXPECT_EQ(data_->DUnadvise(firstCookie), S_OK);
    EXPECT_EQ(data_->DUnadvise(firstCookie), OLE_E_NOCONNECTION);
    ASSERT_EQ(SetNativeData(data_.Get(), Bytes{2}), S_OK);
    EXPECT_EQ(first.dataChanges, 3);
    EXPECT_EQ(second.dataChanges, 4);
    EXPECT_EQ(data_->DUnadvise(secondCookie), S_OK);
    EXPECT_EQ(first.Release(), 0u) << "the holder gave back every sink reference";
    EXPECT_EQ(second.Release(), 0u);
}

TEST_F(DataTransfer, AdviseCallsBeforeAnyConnection)
{
    EXPECT_EQ(data_->DUnadvise(1), OLE_E_NOCONNECTION);
    IEnumSTATDATA* connections = reinterpret_cast<IEnumSTATDATA*>(0x1);
    EXPECT_EQ(data_->EnumDAdvise(&connections), E_FAIL);
    EXPECT_EQ(connections, nullptr);
    EXPECT_EQ(data_->EnumDAdvise(nullptr), E_POINTER);

    // The same for the drawing's own sinks, until the first one comes.
    EXPECT_EQ(ole_->Unadvise(1), E_FAIL);
    connections = reinterpret_cast<IEnumSTATDATA*>(0x1);
    EXPECT_EQ(ole_->EnumAdvise(&connections), E_FAIL);
    EXPECT_EQ(connections, nullptr);
    EXPECT_EQ(ole_->EnumAdvise(nullptr), E_POINTER);
    RecordingAdviseSink sink;
    DWORD cookie = 77;
    EXPECT_EQ(ole_->Advise(nullptr, &cookie), E_INVALIDARG);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(ole_->Advise(&sink, nullptr), E_POINTER);
    EXPECT_EQ(ole_->Unadvise(1), E_FAIL) << "refused calls make no holder";
}

TEST_F(DataTransfer, OleAdviseSinksHearWhenTheDrawingSavesAndCloses)
{
    RecordingAdviseSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(ole_->Advise(&sink, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    ComPtr<IEnumSTATDATA> connections;
    ASSERT_EQ(ole_->EnumAdvise(&connections), S_OK);
    STATDATA entry = {};
    ULONG fetched = 0;
    ASSERT_EQ(connections->Next(1, &entry, &fetched), S_OK);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(entry.pAdvSink, static_cast<IAdviseSink*>(&sink));
    EXPECT_EQ(entry.dwConnection, cookie);
    if (entry.pAdvSink)
        entry.pAdvSink->Release();
    connections.Reset();

    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(persist_->InitNew(storage.Get()), S_OK);
    ASSERT_EQ(persist_->Save(storage.Get(), TRUE), S_OK);
    ASSERT_EQ(persist_->SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(sink.saves, 1);
    ASSERT_EQ(ole_->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
    EXPECT_EQ(sink.saves, 2);
    EXPECT_EQ(sink.closes, 1);
    ASSERT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(sink.saves, 2);
    EXPECT_EQ(sink.closes, 2);

    EXPECT_EQ(ole_->Unadvise(cookie), S_OK);
    EXPECT_EQ(ole_->Unadvise(cookie), OLE_E_NOCONNECTION);
    ASSERT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(sink.closes, 2) << "a sink taken off hears nothing more";
    EXPECT_EQ(sink.Release(), 0u) << "the holder gave back every sink reference";
}

TEST_F(DataTransfer, PrimingASinkDeliversTheCurrentPicture)
{
    // A container's cache asks for the data at once when it connects.
    ASSERT_EQ(SetPicture(data_.Get(), MakePicture({0, 0, 400, 300}).get()), S_OK);
    RecordingAdviseSink sink;
    FORMATETC f = Format(CF_METAFILEPICT, TYMED_MFPICT);
    DWORD cookie = 0;
    ASSERT_EQ(data_->DAdvise(&f, ADVF_PRIMEFIRST, &sink, &cookie), S_OK);
    EXPECT_EQ(sink.dataChanges, 1);
    EXPECT_EQ(data_->DUnadvise(cookie), S_OK);
}

TEST_F(DataTransfer, ANullPictureIsADrawingWithoutPicture)
{
    ASSERT_EQ(SetPicture(data_.Get(), MakePicture({0, 0, 400, 300}).get()), S_OK);
    ASSERT_EQ(SetPicture(data_.Get(), nullptr), S_OK);
    SIZEL extent = {1, 1};
    EXPECT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 0);
    EXPECT_TRUE(StreamOfTheEmbedding(L"EMF").empty());
}

} // namespace
