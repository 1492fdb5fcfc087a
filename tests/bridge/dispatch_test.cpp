// Late binding in-process: the type library registered in the prefix, names
// resolved through the cache and through the type information, calls through
// Invoke reaching the methods with their variants unconverted.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include "bridge/dispinterface.h"
#include "bridge/open_edits.h"
#include "support/excep_info.h"
#include "support/test_support.h"
#include "tests/bridge/bridge_test_util.h"
#include "tests/bridge/installed_main.h"
#include "tests/bridge/recording_drawing.h"

using Microsoft::WRL::ComPtr;
using namespace bridge_test;

using namespace testing_support;

namespace {

HRESULT UnregisterLibrary()
{
    ComPtr<ITypeLib> library;
    HRESULT hr = ::LoadTypeLibEx(testing_support::ServerExePath().c_str(), REGKIND_NONE, &library);
    if (FAILED(hr))
        return hr;
    TLIBATTR* attr = nullptr;
    hr = library->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    hr = ::UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    library->ReleaseTLibAttr(attr);
    return hr;
}

ComPtr<IDispatch> NewBridge()
{
    ComPtr<IDispatch> bridge;
    EXPECT_EQ(CreateObjectInstance<CDispinterface>(nullptr, IID_PPV_ARGS(&bridge)), S_OK);
    return bridge;
}

HRESULT IdOf(IDispatch* bridge, const wchar_t* name, DISPID* id)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return bridge->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

// Invoke as a method; args in call order (Invoke takes them last first).
HRESULT Call(IDispatch* bridge, DISPID id, std::vector<VARIANT> args, VARIANT* result = nullptr,
             HRESULT* methodResult = nullptr)
{
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    testing_support::ExcepInfoOwner error;
    UINT argError = 0;
    HRESULT hr = bridge->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                                error.get(), &argError);
    if (methodResult)
        *methodResult = error->scode;
    return hr;
}

// Runs first, before anything in this process has loaded the type information.
TEST(LateBindingUnregistered, FailsWhileVtableCallsStillWork)
{
    testing_support::Apartment apartment;
    UnregisterLibrary();
    ComPtr<IDispatch> bridge = NewBridge();
    DISPID id = 0;
    EXPECT_TRUE(FAILED(IdOf(bridge.Get(), L"CloseAll", &id)));
    ComPtr<ITypeInfo> info;
    ITypeInfo* raw = reinterpret_cast<ITypeInfo*>(0x1);
    EXPECT_TRUE(FAILED(bridge->GetTypeInfo(0, LOCALE_USER_DEFAULT, &raw)));
    EXPECT_EQ(raw, nullptr);
    EXPECT_TRUE(FAILED(Call(bridge.Get(), kCloseAll, {})));

    ComPtr<IQuillmorphOLE> early;
    ASSERT_EQ(bridge.As(&early), S_OK);
    EXPECT_EQ(early->CloseAll(), S_OK);

    // Loading is tried again once the library is back.
    ASSERT_EQ(testing_support::RegisterServer(testing_support::ServerExePath()), 0u);
    EXPECT_EQ(IdOf(bridge.Get(), L"CloseAll", &id), S_OK);
    EXPECT_EQ(id, kCloseAll);
}

class LateBinding : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        testing_support::Apartment apartment;
        ASSERT_EQ(testing_support::RegisterServer(testing_support::ServerExePath()), 0u);
    }

    void SetUp() override
    {
        bridge_ = NewBridge();
        ASSERT_TRUE(bridge_);
    }

    testing_support::Apartment apartment_;
    ComPtr<IDispatch> bridge_;
    std::vector<ReceivedData> log_;
};

TEST_F(LateBinding, TypeInformationIsOneDualInterface)
{
    UINT count = 0;
    EXPECT_EQ(bridge_->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(bridge_->GetTypeInfoCount(nullptr), E_POINTER);

    ComPtr<ITypeInfo> info;
    EXPECT_EQ(bridge_->GetTypeInfo(1, LOCALE_USER_DEFAULT, &info), DISP_E_BADINDEX);
    EXPECT_EQ(bridge_->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
    ASSERT_EQ(bridge_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID_IQuillmorphOLE);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    const WORD wanted = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(attr->wTypeFlags & wanted, wanted);
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FHIDDEN | TYPEFLAG_FRESTRICTED | TYPEFLAG_FNONEXTENSIBLE), 0);
    info->ReleaseTypeAttr(attr);

    // The vtable half of the dual interface is the OLE-automation one.
    HREFTYPE vtableHalf = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableHalf), S_OK);
    ComPtr<ITypeInfo> vtableInfo;
    ASSERT_EQ(info->GetRefTypeInfo(vtableHalf, &vtableInfo), S_OK);
    ASSERT_EQ(vtableInfo->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL),
              TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL);
    EXPECT_EQ(attr->cFuncs, 6);
    vtableInfo->ReleaseTypeAttr(attr);
}

TEST_F(LateBinding, NamesResolveExactlyThroughTheCacheAndOtherwiseThroughTheTypeInformation)
{
    const std::pair<const wchar_t*, DISPID> methods[] = {
        {L"TripForward", kTripForward},       {L"TripBack", kTripBack}, {L"Activate", kActivate},
        {L"UpdateAndClose", kUpdateAndClose}, {L"Close", kClose},       {L"CloseAll", kCloseAll},
    };
    for (const auto& method : methods) {
        DISPID id = 0;
        EXPECT_EQ(IdOf(bridge_.Get(), method.first, &id), S_OK);
        EXPECT_EQ(id, method.second);
    }
    // "Close" must not be taken for the longer "CloseAll", nor the other way round.
    DISPID id = 0;
    EXPECT_EQ(IdOf(bridge_.Get(), L"closeall", &id), S_OK);
    EXPECT_EQ(id, kCloseAll);
    EXPECT_EQ(IdOf(bridge_.Get(), L"TRIPFORWARD", &id), S_OK);
    EXPECT_EQ(id, kTripForward);
    EXPECT_EQ(IdOf(bridge_.Get(), L"Clos", &id), DISP_E_UNKNOWNNAME);

    LPOLESTR withParameter[] = {const_cast<LPOLESTR>(L"UpdateAndClose"), const_cast<LPOLESTR>(L"h")};
    DISPID ids[2] = {};
    EXPECT_EQ(bridge_->GetIDsOfNames(IID_NULL, withParameter, 2, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], kUpdateAndClose);
    EXPECT_EQ(ids[1], 2);
}

TEST_F(LateBinding, InvokeReachesEveryMethodWithItsVariantsUnconverted)
{
    ComPtr<RecordingDrawing> drawing(new RecordingDrawing(L"late bound", &log_));
    drawing->native = Bytes{5, 6, 7};
    const ULONG before = drawing->References();

    VARIANT unknown;
    ::VariantInit(&unknown);
    unknown.vt = VT_UNKNOWN;
    unknown.punkVal = static_cast<IDataObject*>(drawing.Get());
    LONG key = s_nextObjectKey;
    EXPECT_EQ(Call(bridge_.Get(), kActivate, {unknown}), S_OK);
    EXPECT_NE(s_openObjects.Find(key), nullptr);
    EXPECT_EQ(drawing->References(), before + 1) << "the caller's reference is left alone";

    // A short integer key reaches Close as it was sent and is converted there.
    VARIANT shortKey;
    ::VariantInit(&shortKey);
    shortKey.vt = VT_I2;
    shortKey.iVal = static_cast<SHORT>(key);
    EXPECT_EQ(Call(bridge_.Get(), kClose, {shortKey}), S_OK);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_TRUE(log_[0].closeSignal);
    EXPECT_EQ(drawing->References(), before);

    key = s_nextObjectKey;
    EXPECT_EQ(Call(bridge_.Get(), kActivate, {unknown}), S_OK);
    VariantGuard f, g;
    MakeByteArray(Bytes{1, 1, 2, 3, 5, 8}, f.get());
    MakeByteArray(PictureBits(2), g.get());
    EXPECT_EQ(Call(bridge_.Get(), kUpdateAndClose, {*f.get(), *g.get(), KeyArgument(key)}), S_OK);
    ASSERT_EQ(log_.size(), 3u);
    EXPECT_EQ(log_[1].bytes, (Bytes{1, 1, 2, 3, 5, 8}));
    EXPECT_EQ(log_[2].bytes, PictureBits(2));

    // A bad array comes back as the method's own failure.
    VARIANT notAnArray = KeyArgument(3);
    key = s_nextObjectKey;
    EXPECT_EQ(Call(bridge_.Get(), kActivate, {unknown}), S_OK);
    // The platform's Invoke reports a failing method as an exception carrying its code.
    HRESULT methodResult = S_OK;
    EXPECT_EQ(Call(bridge_.Get(), kUpdateAndClose, {notAnArray, *g.get(), KeyArgument(key)}, nullptr,
                   &methodResult),
              DISP_E_EXCEPTION);
    EXPECT_EQ(methodResult, E_INVALIDARG);
    EXPECT_NE(s_openObjects.Find(key), nullptr);
    EXPECT_EQ(Call(bridge_.Get(), kCloseAll, {}), S_OK);
    EXPECT_TRUE(s_openObjects.empty());
    EXPECT_EQ(drawing->References(), before);

    // With nothing of ours on the clipboard the result stays empty.
    ASSERT_EQ(::OleInitialize(nullptr), S_OK);
    ::OleSetClipboard(nullptr);
    VariantGuard back;
    EXPECT_EQ(Call(bridge_.Get(), kTripBack, {}, back.get()), S_OK);
    EXPECT_EQ(back->vt, VT_EMPTY);
    ::OleUninitialize();

    EXPECT_EQ(Call(bridge_.Get(), kClose, {}), DISP_E_BADPARAMCOUNT);
}

TEST_F(LateBinding, TripForwardThroughInvokeReturnsACompoundFile)
{
    VariantGuard a, b, c;
    MakeByteArray(PatternBytes(1000, 1), a.get());
    MakeByteArray(PictureBits(1), b.get());
    ASSERT_EQ(Call(bridge_.Get(), kTripForward, {*a.get(), *b.get()}, c.get()), S_OK);
    const Bytes bytes = BytesOf(*c.get());
    ASSERT_GE(bytes.size(), 512u);
    const Bytes signature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    EXPECT_TRUE(std::equal(signature.begin(), signature.end(), bytes.begin()));
}

} // namespace

QUILLMORPH_BRIDGE_INSTALLED_MAIN
