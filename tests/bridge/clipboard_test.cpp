// The clipboard round trip in-process, with the real embedded drawing: the bytes
// TripForward makes, read back through the platform's storage and into a fresh
// drawing; TripBack against what another program leaves on the clipboard. The
// bytes of one TripForward are also written out for an independent reader.

#include <gtest/gtest.h>

#include <shlobj.h>

#include <wrl/client.h>

#include "bridge/dispinterface.h"
#include "embedded/embedded_object.h"
#include "support/clipboard_offer.h"
#include "support/lying_storage.h"
#include "support/test_support.h"
#include "tests/bridge/bridge_test_util.h"

using Microsoft::WRL::ComPtr;
using namespace bridge_test;
using testing_support::ClipboardOffer;
using testing_support::DrawingStorage;

namespace {

const wchar_t kUserType[] = L"Quillmorph Embedded Object";

class ClipboardRoundTrip : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
        ASSERT_EQ(CreateObjectInstance<CDispinterface>(nullptr, IID_PPV_ARGS(&bridge_)), S_OK);
    }
    void TearDown() override
    {
        ::OleSetClipboard(nullptr);
        bridge_.Reset();
        ::OleUninitialize();
    }

    Bytes TripForward(const Bytes& native, const Bytes& picture)
    {
        VariantGuard a, b, c;
        MakeByteArray(native, a.get());
        MakeByteArray(picture, b.get());
        EXPECT_EQ(bridge_->TripForward(*a.get(), *b.get(), c.get()), S_OK);
        EXPECT_EQ(c->vt, VT_ARRAY | VT_UI1);
        return BytesOf(*c.get());
    }

    // TripBack's answer with the offer on the clipboard; "untouched" when it left d alone.
    Bytes TripBackWith(ClipboardOffer* offer, bool* touched)
    {
        ComPtr<IDataObject> keep(offer);
        EXPECT_EQ(::OleSetClipboard(offer), S_OK);
        testing_support::PumpMessagesFor(100);
        VariantGuard d;
        EXPECT_EQ(bridge_->TripBack(d.get()), S_OK);
        *touched = d->vt != VT_EMPTY;
        ::OleSetClipboard(nullptr);
        return BytesOf(*d.get());
    }

    ComPtr<IQuillmorphOLE> bridge_;
};

TEST_F(ClipboardRoundTrip, TripForwardMakesADrawingThePlatformAndAFreshObjectReadBack)
{
    const Bytes native = PatternBytes(123457, 11);
    const Bytes picture = PictureBits(4);
    const Bytes bytes = TripForward(native, picture);
    ComPtr<IStorage> storage = StorageOver(bytes);
    ASSERT_TRUE(storage);

    CLSID clsid = CLSID_NULL;
    EXPECT_EQ(::ReadClassStg(storage.Get(), &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_QuillmorphEmbeddedObject);
    EXPECT_EQ(ReadStreamBytes(storage.Get(), L"ZRN"), native);
    EXPECT_EQ(ReadStreamBytes(storage.Get(), L"EMF"), picture);
    CLIPFORMAT format = 0xFFFF;
    LPOLESTR userType = nullptr;
    EXPECT_EQ(::ReadFmtUserTypeStg(storage.Get(), &format, &userType), S_OK);
    ASSERT_NE(userType, nullptr);
    EXPECT_STREQ(userType, kUserType);
    ::CoTaskMemFree(userType);
    // The record names the enhanced-metafile format; this platform keeps a
    // predefined format as an empty name, which reads back as 0.
    EXPECT_TRUE(format == CF_ENHMETAFILE || format == 0) << format;

    ComPtr<IPersistStorage> drawing;
    ASSERT_EQ(CreateObjectInstance<CEmbeddedObject>(nullptr, IID_IPersistStorage, &drawing), S_OK);
    ASSERT_EQ(drawing->Load(storage.Get()), S_OK);
    ComPtr<IDataObject> data;
    ASSERT_EQ(drawing.As(&data), S_OK);
    FORMATETC request = {testing_support::NativeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StgMediumGuard medium;
    ASSERT_EQ(data->GetData(&request, medium.put()), S_OK);
    const SIZE_T size = ::GlobalSize(medium->hGlobal);
    GlobalLockGuard lock(medium->hGlobal);
    EXPECT_EQ(Bytes(lock.bytes(), lock.bytes() + size), native);

    // For the independent reader run after this program.
    const std::string build = QUILLMORPH_BUILD_DIR_UNIX;
    const std::wstring base = L"Z:" + std::wstring(build.begin(), build.end()) + L"/bridge-trip-forward";
    EXPECT_TRUE(WriteFileBytes(base + L".bin", bytes));
    EXPECT_TRUE(WriteFileBytes(base + L".zrn", native));
    EXPECT_TRUE(WriteFileBytes(base + L".emf", picture));
}

TEST_F(ClipboardRoundTrip, EmptyOrUnreadableInputsGiveEmptyStreams)
{
    ComPtr<IStorage> storage = StorageOver(TripForward(Bytes{}, Bytes{'n', 'o', 't', ' ', 'E', 'M', 'F'}));
    ASSERT_TRUE(storage);
    EXPECT_TRUE(ReadStreamBytes(storage.Get(), L"ZRN").empty());
    EXPECT_TRUE(ReadStreamBytes(storage.Get(), L"EMF").empty());
    storage = StorageOver(TripForward(Bytes{42}, Bytes{}));
    ASSERT_TRUE(storage);
    EXPECT_EQ(ReadStreamBytes(storage.Get(), L"ZRN"), Bytes{42});

    // A record claiming no bytes would keep the platform's player looping: the
    // bits count as no picture.
    Bytes looping = PictureBits(4);
    ENHMETAHEADER header = {};
    std::memcpy(&header, looping.data(), sizeof(header));
    ASSERT_LT(header.nSize + 8, looping.size());
    std::memset(&looping[header.nSize + 4], 0, 4);
    storage = StorageOver(TripForward(Bytes{7}, looping));
    ASSERT_TRUE(storage);
    EXPECT_TRUE(ReadStreamBytes(storage.Get(), L"EMF").empty());
}

TEST_F(ClipboardRoundTrip, TripBackReadsTheNativeDocumentOfOurDrawingOnly)
{
    bool touched = false;
    const Bytes native = PatternBytes(4000, 5);

    auto* embedded = new ClipboardOffer;
    embedded->OfferDrawing("Embedded Object", CLSID_QuillmorphEmbeddedObject, native);
    EXPECT_EQ(TripBackWith(embedded, &touched), native);
    EXPECT_TRUE(touched);

    auto* source = new ClipboardOffer;
    source->OfferDrawing("Embed Source", CLSID_QuillmorphEmbeddedObject, Bytes{3, 2, 1});
    EXPECT_EQ(TripBackWith(source, &touched), (Bytes{3, 2, 1}));

    auto* both = new ClipboardOffer;
    both->OfferDrawing("Embed Source", CLSID_QuillmorphEmbeddedObject, Bytes{1});
    both->OfferDrawing("Embedded Object", CLSID_QuillmorphEmbeddedObject, Bytes{2});
    EXPECT_EQ(TripBackWith(both, &touched), Bytes{2}) << "\"Embedded Object\" comes first";

    auto* empty = new ClipboardOffer;
    empty->OfferDrawing("Embed Source", CLSID_QuillmorphEmbeddedObject, Bytes{});
    EXPECT_TRUE(TripBackWith(empty, &touched).empty());
    EXPECT_TRUE(touched) << "an empty document is still a result";

    auto* foreign = new ClipboardOffer;
    foreign->OfferDrawing("Embedded Object", CLSID_QuillmorphOLE, native);
    TripBackWith(foreign, &touched);
    EXPECT_FALSE(touched) << "another class's object";

    auto* text = new ClipboardOffer;
    text->entries.push_back({CF_UNICODETEXT, nullptr});
    TripBackWith(text, &touched);
    EXPECT_FALSE(touched) << "text only";
}

TEST_F(ClipboardRoundTrip, ADocumentStreamReportingMoreThanItWasAskedForIsUnreadable)
{
    ComPtr<testing_support::LyingStream> stream(new testing_support::LyingStream(5000));
    ComPtr<IStorage> drawing = DrawingStorage(CLSID_QuillmorphEmbeddedObject, PatternBytes(5000, 5));
    auto* offer = new ClipboardOffer;
    offer->entries.push_back({static_cast<CLIPFORMAT>(::RegisterClipboardFormatA("Embedded Object")),
                              new testing_support::LyingStorage(drawing.Get(), L"ZRN", stream.Get())});
    bool touched = true;
    TripBackWith(offer, &touched);
    EXPECT_FALSE(touched) << "answered as for any storage whose document cannot be read";
    EXPECT_EQ(stream->reads, 1u);
    EXPECT_LE(stream->largestRequest, 5000u) << "no read aims past the block";
}

TEST_F(ClipboardRoundTrip, OutPointersMustBeGiven)
{
    VariantGuard a;
    MakeByteArray(Bytes{1}, a.get());
    EXPECT_EQ(bridge_->TripForward(*a.get(), *a.get(), nullptr), E_POINTER);
    EXPECT_EQ(bridge_->TripBack(nullptr), E_POINTER);
}

TEST_F(ClipboardRoundTrip, ALargeDocumentTravelsWhole)
{
    const Bytes native = PatternBytes(96u << 20, 17);
    const ULONGLONG start = testing_support::NowMs();
    const Bytes bytes = TripForward(native, PictureBits(6));
    ComPtr<IStorage> storage = StorageOver(bytes);
    ASSERT_TRUE(storage);
    EXPECT_TRUE(ReadStreamBytes(storage.Get(), L"ZRN") == native);
    EXPECT_LT(testing_support::NowMs() - start, 60000u);
}

} // namespace
