// Every variant type and shape into the six methods of the automation
// interface, through the vtable and through IDispatch::Invoke with the
// registered type library: scalars of each type, by-reference forms (null
// pointers too), arrays of each element type with 0 to 3 dimensions and any
// lower bounds, descriptors that claim huge bounds without data, chains of
// by-reference variants. Only HRESULTs come back, and the table of open edits
// stays what its rules say.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <array>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include "bridge/dispinterface.h"
#include "bridge/open_edits.h"
#include "support/counted_unknown.h"
#include "support/data_object_double.h"
#include "support/excep_info.h"
#include "support/test_support.h"
#include "tests/fuzz/fuzz_support.h"

using Microsoft::WRL::ComPtr;

using namespace testing_support;

namespace {

// A drawing in the table of open edits, or one handed to Activate. It never
// delivers a native document, so that Activate cannot reach a launch; it counts
// what the bridge hands it.
class FuzzDrawing : public testing_support::DataObjectDouble<true>
{
public:
    explicit FuzzDrawing(uint32_t behaviour) : behaviour_(behaviour) {}
    virtual ~FuzzDrawing() = default;

    int closeSignals = 0;
    int dataReceived = 0;

    bool Answers(REFIID riid) const override
    {
        return riid == IID_IUnknown || (riid == IID_IDataObject && behaviour_ != 0);
    }
    STDMETHOD(GetData)(FORMATETC*, STGMEDIUM* medium) override
    {
        switch (behaviour_) {
        case 1:
            return E_FAIL;
        case 2:
            return DV_E_FORMATETC;
        case 3: // a medium of the wrong kind
            medium->tymed = TYMED_ISTREAM;
            medium->pstm = nullptr;
            medium->pUnkForRelease = nullptr;
            return S_OK;
        default: // a global medium without its block
            medium->tymed = TYMED_HGLOBAL;
            medium->hGlobal = nullptr;
            medium->pUnkForRelease = nullptr;
            return S_OK;
        }
    }
    STDMETHOD(SetData)(FORMATETC* format, STGMEDIUM* medium, BOOL) override
    {
        if (!format && !medium)
            ++closeSignals;
        else
            ++dataReceived;
        return S_OK;
    }

private:
    uint32_t behaviour_; // 0: no IDataObject; 1-4: how GetData fails
};

const VARTYPE kScalarTypes[] = {
    VT_EMPTY, VT_NULL,    VT_I2,      VT_I4, VT_R4,  VT_R8,  VT_CY,  VT_DATE, VT_BSTR, VT_DISPATCH, VT_ERROR,
    VT_BOOL,  VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8,   VT_UI8,  VT_INT,      VT_UINT};
const VARTYPE kElementTypes[] = {VT_I2,       VT_I4,    VT_R4,   VT_R8,      VT_CY,      VT_DATE,    VT_BSTR,
                                 VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1,
                                 VT_UI1,      VT_UI2,   VT_UI4,  VT_I8,      VT_UI8,     VT_INT,     VT_UINT};
// Tags no argument may carry: the dispatch layer refuses them, the methods see only the tag.
const VARTYPE kForeignTypes[] = {VT_VOID,   VT_HRESULT, VT_PTR, VT_LPSTR,
                                 VT_LPWSTR, VT_INT_PTR, 0x0FFF, 0x7FFF};

template <typename T> const T& Pick(fuzz::Random& random, const T* items, size_t count)
{
    return items[random.Below(static_cast<uint32_t>(count))];
}
#define PICK(random, table) Pick(random, table, sizeof(table) / sizeof(table[0]))

// Owns everything the variants of one call point at.
class Arena
{
public:
    explicit Arena(fuzz::Random& random, IQuillmorphOLE* bridge) : random_(random), bridge_(bridge) {}
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena()
    {
        for (SAFEARRAY* array : arrays_)
            ::SafeArrayDestroy(array);
        for (SAFEARRAY* descriptor : descriptors_)
            ::SafeArrayDestroyDescriptor(descriptor);
        for (BSTR text : strings_)
            ::SysFreeString(text);
    }

    // Whether a descriptor claiming bounds without data was handed out.
    bool HoldsBareDescriptors() const { return !descriptors_.empty(); }

    // A byte array as the interface wants it, with random content.
    VARIANT ByteArray(uint32_t largest)
    {
        const fuzz::Bytes bytes = random_.Fill(random_.Size(largest));
        SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        if (array && !bytes.empty())
            std::memcpy(array->pvData, bytes.data(), bytes.size());
        arrays_.push_back(array);
        VARIANT v;
        ::VariantInit(&v);
        v.vt = VT_ARRAY | VT_UI1;
        v.parray = array;
        return v;
    }

    VARIANT Any(int depth = 0)
    {
        VARIANT v;
        ::VariantInit(&v);
        switch (random_.Below(depth > 2 ? 4 : 6)) {
        case 0:
        case 1:
            v.vt = PICK(random_, kScalarTypes);
            FillScalar(&v);
            return v;
        case 2: // by reference, the pointer null now and then
            v.vt = static_cast<VARTYPE>(VT_BYREF | PICK(random_, kScalarTypes));
            if (v.vt == (VT_BYREF | VT_EMPTY) || v.vt == (VT_BYREF | VT_NULL))
                v.vt = VT_BYREF | VT_I4;
            v.byref = random_.OneIn(6) ? nullptr : Payload(v.vt & VT_TYPEMASK);
            return v;
        case 3:
            if (random_.OneIn(4)) {
                v.vt = PICK(random_, kForeignTypes);
                v.llVal = static_cast<LONGLONG>(random_.Next() & 0xFF);
                return v;
            }
            return Array(false);
        case 4:
            return Array(true);
        default: { // a by-reference variant, possibly a chain or a loop
            v.vt = VT_BYREF | VT_VARIANT;
            if (random_.OneIn(8)) {
                v.pvarVal = nullptr;
                return v;
            }
            variants_.push_back(Any(depth + 1));
            v.pvarVal = &variants_.back();
            if (random_.OneIn(10)) {
                variants_.back().vt = VT_BYREF | VT_VARIANT;
                variants_.back().pvarVal = &variants_.back();
            }
            return v;
        }
        }
    }

    IUnknown* NewDrawing(uint32_t behaviour)
    {
        auto* drawing = new FuzzDrawing(behaviour);
        drawings_.push_back(ComPtr<FuzzDrawing>(drawing));
        return static_cast<IDataObject*>(drawing);
    }

private:
    void FillScalar(VARIANT* v)
    {
        switch (v->vt) {
        case VT_BSTR:
            v->bstrVal = random_.OneIn(5) ? nullptr : Text();
            break;
        case VT_UNKNOWN:
            v->punkVal = Interface();
            break;
        case VT_DISPATCH: // only what really is a dispatch interface
            v->pdispVal =
                random_.OneIn(3) ? nullptr : static_cast<IDispatch*>(static_cast<IQuillmorphOLE*>(bridge_));
            break;
        case VT_DECIMAL: {
            const VARTYPE vt = v->vt;
            fuzz::Bytes noise = random_.Fill(sizeof(DECIMAL));
            std::memcpy(&v->decVal, noise.data(), sizeof(DECIMAL));
            v->vt = vt;
            break;
        }
        default:
            v->llVal = static_cast<LONGLONG>(random_.Next());
            if (random_.OneIn(3))
                v->llVal &= 0xF; // small keys name the table's edits
            break;
        }
    }

    BSTR Text()
    {
        static const wchar_t* kTexts[] = {L"0", L"1",          L"2",   L"-1",  L"12abc",
                                          L"",  L"4294967296", L"1e3", L"  3 "};
        BSTR text = ::SysAllocString(PICK(random_, kTexts));
        strings_.push_back(text);
        return text;
    }

    IUnknown* Interface()
    {
        switch (random_.Below(4)) {
        case 0:
            return nullptr;
        case 1:
            return bridge_;
        default:
            return NewDrawing(random_.Below(5));
        }
    }

    void* Payload(VARTYPE type)
    {
        payloads_.emplace_back();
        std::array<BYTE, 32>& bytes = payloads_.back();
        fuzz::Bytes noise = random_.Fill(bytes.size());
        std::memcpy(bytes.data(), noise.data(), bytes.size());
        if (type == VT_BSTR) {
            BSTR text = random_.OneIn(4) ? nullptr : Text();
            std::memcpy(bytes.data(), &text, sizeof(text));
        } else if (type == VT_UNKNOWN || type == VT_DISPATCH) {
            IUnknown* unknown = type == VT_UNKNOWN ? Interface() : (random_.OneIn(3) ? nullptr : bridge_);
            std::memcpy(bytes.data(), &unknown, sizeof(unknown));
        } else if (type == VT_BOOL) {
            bytes[0] = bytes[1] = random_.OneIn(2) ? 0xFF : 0;
        }
        return bytes.data();
    }

    VARIANT Array(bool byReference)
    {
        const VARTYPE element =
            random_.OneIn(3) ? static_cast<VARTYPE>(VT_UI1) : PICK(random_, kElementTypes);
        const UINT dimensions = random_.Below(4);
        SAFEARRAY* array = nullptr;
        if (dimensions > 0 && random_.OneIn(6)) {
            // A descriptor that claims huge bounds and holds no data.
            if (SUCCEEDED(::SafeArrayAllocDescriptorEx(element, dimensions, &array))) {
                for (UINT d = 0; d < dimensions; ++d) {
                    array->rgsabound[d].cElements = random_.OneIn(2) ? 0x7FFFFFFF : 0xFFFFFFFF;
                    array->rgsabound[d].lLbound = random_.OneIn(2) ? 0 : -1;
                }
                descriptors_.push_back(array);
            }
        } else if (dimensions > 0) {
            SAFEARRAYBOUND bounds[3] = {};
            for (UINT d = 0; d < dimensions; ++d) {
                bounds[d].cElements = random_.Below(dimensions == 1 ? 300 : 6);
                bounds[d].lLbound = random_.OneIn(2) ? 0 : static_cast<LONG>(random_.Below(11)) - 5;
                if (random_.OneIn(20))
                    bounds[d].lLbound = 0x7FFFFFF0;
            }
            array = ::SafeArrayCreate(element, dimensions, bounds);
            if (array && element == VT_UI1 && array->pvData) {
                ULONG total = 1;
                for (UINT d = 0; d < dimensions; ++d)
                    total *= bounds[d].cElements;
                for (ULONG i = 0; i < total; ++i)
                    static_cast<BYTE*>(array->pvData)[i] = random_.Byte();
            }
            arrays_.push_back(array);
        }
        // No dimensions: the variant carries no array at all.
        VARIANT v;
        ::VariantInit(&v);
        v.vt = static_cast<VARTYPE>(VT_ARRAY | element);
        if (!byReference) {
            v.parray = array;
            return v;
        }
        v.vt |= VT_BYREF;
        pointers_.push_back(array);
        v.pparray = random_.OneIn(6) ? nullptr : &pointers_.back();
        return v;
    }

    fuzz::Random& random_;
    IQuillmorphOLE* bridge_;
    std::vector<SAFEARRAY*> arrays_;
    std::vector<SAFEARRAY*> descriptors_;
    std::deque<SAFEARRAY*> pointers_;
    std::deque<VARIANT> variants_;
    std::deque<std::array<BYTE, 32>> payloads_;
    std::vector<BSTR> strings_;
    std::vector<ComPtr<FuzzDrawing>> drawings_;
};

bool AllowedMethodResult(HRESULT hr)
{
    return hr == S_OK || hr == E_INVALIDARG || hr == E_POINTER || hr == E_OUTOFMEMORY || hr == DV_E_TYMED ||
           hr == DV_E_FORMATETC || hr == E_FAIL;
}

bool AllowedInvokeResult(HRESULT hr)
{
    return AllowedMethodResult(hr) || HRESULT_FACILITY(hr) == FACILITY_DISPATCH;
}

class AutomationFuzz : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        testing_support::Apartment apartment;
        ASSERT_EQ(testing_support::RegisterServer(testing_support::ServerExePath()), 0u);
    }

    // Opens a few edits on drawings of the run's own, as Activate would.
    void FillTable(fuzz::Random& random)
    {
        while (open_.size() < 4) {
            auto* drawing = new FuzzDrawing(1 + random.Below(4));
            ComPtr<FuzzDrawing> owner(drawing);
            const LONG key = NextObjectKey();
            s_openObjects.File(key, static_cast<IDataObject*>(drawing));
            open_[key] = owner;
        }
    }

    // The table holds exactly the edits still open; each ended edit was told so
    // once, by a close signal or by new data (two SetData calls), never both.
    void CheckTable(uint32_t iteration, const char* call, HRESULT hr, size_t mayEnd)
    {
        size_t ended = 0;
        for (auto it = open_.begin(); it != open_.end();) {
            FuzzDrawing* drawing = it->second.Get();
            if (s_openObjects.Find(it->first)) {
                if (drawing->closeSignals || drawing->dataReceived || drawing->References() != 2)
                    findings_.Fail(iteration, std::string(call) + ": an open edit was touched");
                ++it;
                continue;
            }
            ++ended;
            const bool closed = drawing->closeSignals == 1 && drawing->dataReceived == 0;
            const bool updated = drawing->closeSignals == 0 && drawing->dataReceived == 2;
            if (!(closed || updated) || drawing->References() != 1)
                findings_.Fail(iteration, std::string(call) + ": an ended edit was not ended once");
            it = open_.erase(it);
        }
        if (ended > mayEnd)
            findings_.Fail(iteration, std::string(call) + ": ended " + std::to_string(ended) + " edits");
        if (ended && hr == E_INVALIDARG)
            findings_.Fail(iteration, std::string(call) + ": refused its arguments but ended an edit");
        if (s_openObjects.size() != open_.size())
            findings_.Fail(iteration, std::string(call) + ": the table holds edits nobody opened");
    }

    HRESULT CallVtable(fuzz::Random& random, Arena& arena, IQuillmorphOLE* bridge, DISPID method,
                       std::vector<VARIANT>& args)
    {
        VariantGuard out;
        const bool nullOut = random.OneIn(8);
        switch (method) {
        case kTripForward:
            return bridge->TripForward(args[0], args[1], nullOut ? nullptr : out.get());
        case kTripBack:
            return bridge->TripBack(nullOut ? nullptr : out.get());
        case kActivate:
            return bridge->Activate(args[0]);
        case kUpdateAndClose:
            return bridge->UpdateAndClose(args[0], args[1], args[2]);
        case kClose:
            return bridge->Close(args[0]);
        default:
            (void)arena;
            return bridge->CloseAll();
        }
    }

    HRESULT CallInvoke(fuzz::Random& random, IDispatch* bridge, DISPID method, std::vector<VARIANT>& args,
                       HRESULT* methodResult)
    {
        // The result of TripForward and TripBack comes back through pVarResult.
        // Handed in as an argument instead, the platform's Invoke passes the
        // method a copy of that argument as its out variant, which the method
        // rightly overwrites without reading: the copy (for a bare descriptor,
        // data of the size it claims) is then lost in the platform.
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        const bool returnsValue = method == kTripForward || method == kTripBack;
        if (method == kTripForward)
            reversed.erase(reversed.begin());
        // Now and then a wrong count of arguments, named ones, another kind of call.
        if (random.OneIn(12) && !reversed.empty())
            reversed.pop_back();
        if (random.OneIn(12) && !returnsValue)
            reversed.push_back(reversed.empty() ? VARIANT{} : reversed.front());
        DISPID named = 0;
        DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                             static_cast<UINT>(reversed.size()), 0};
        if (random.OneIn(15) && !reversed.empty()) {
            params.rgdispidNamedArgs = &named;
            params.cNamedArgs = 1;
        }
        static const WORD kFlags[] = {DISPATCH_METHOD,      DISPATCH_METHOD,
                                      DISPATCH_METHOD,      DISPATCH_PROPERTYGET,
                                      DISPATCH_PROPERTYPUT, DISPATCH_METHOD | DISPATCH_PROPERTYGET};
        VariantGuard result;
        testing_support::ExcepInfoOwner error;
        UINT argError = 0;
        const HRESULT hr = bridge->Invoke(random.OneIn(25) ? static_cast<DISPID>(random.Next()) : method,
                                          IID_NULL, LOCALE_USER_DEFAULT, PICK(random, kFlags), &params,
                                          random.OneIn(4) ? nullptr : result.get(), error.get(), &argError);
        *methodResult = hr == DISP_E_EXCEPTION ? error->scode : hr;
        return hr;
    }

    void Run(fuzz::Random& random, const fuzz::Budget& budget)
    {
        ComPtr<IQuillmorphOLE> bridge;
        ASSERT_EQ(CreateObjectInstance<CDispinterface>(nullptr, IID_PPV_ARGS(&bridge)), S_OK);
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(bridge.As(&dispatch), S_OK);
        static const DISPID kMethods[] = {kTripForward,    kTripBack, kActivate, kUpdateAndClose,
                                          kUpdateAndClose, kClose,    kClose,    kCloseAll};
        static const char* const kNames[] = {"TripForward",    "TripBack", "Activate",
                                             "UpdateAndClose", "Close",    "CloseAll"};
        // The peak address space counts from before the first call: a peak
        // reached early would hide every later one.
        fuzz::Memory baseline = fuzz::ProcessMemory();
        const SIZE_T startPeakVirtual = baseline.peakVirtual;
        uint32_t iteration = 0;
        for (; budget.More(iteration); ++iteration) {
            FillTable(random);
            Arena arena(random, bridge.Get());
            DISPID method = PICK(random, kMethods);
            if (method == kTripBack && !random.OneIn(4))
                method = kClose; // the clipboard is slow to ask; a few calls suffice
            const char* name = kNames[method - kTripForward];
            std::vector<VARIANT> args;
            const size_t count = method == kTripForward || method == kUpdateAndClose ? 3 : 1;
            for (size_t i = 0; i < count; ++i) {
                // Valid byte arrays half the time, so that the calls get past their checks.
                if ((method == kTripForward || method == kUpdateAndClose) && i < 2 && random.OneIn(2))
                    args.push_back(arena.ByteArray(method == kTripForward ? 2000 : 200));
                else
                    args.push_back(arena.Any());
            }
            if (method == kActivate && random.OneIn(2)) {
                // A drawing itself, each of whose answers stops short of a launch.
                ::VariantInit(&args[0]);
                args[0].vt = VT_UNKNOWN;
                args[0].punkVal = arena.NewDrawing(random.Below(5));
            }
            bool plainKey = false;
            if ((method == kUpdateAndClose || method == kClose) && random.OneIn(3) && !open_.empty()) {
                VARIANT& key = args.back();
                ::VariantInit(&key);
                key.vt = VT_I4;
                auto it = open_.begin();
                std::advance(it, random.Below(static_cast<uint32_t>(open_.size())));
                key.lVal = it->first;
                plainKey = true;
            }

            HRESULT hr = S_OK;
            HRESULT methodResult = S_OK;
            // The platform's Invoke copies each argument before the method sees it,
            // a bare descriptor as the gigabytes it claims: a caller that lies to
            // it about its own memory is answered in its own process, before this
            // server is reached. Across processes no such descriptor can arrive,
            // since the marshaller sends what an array really holds. So bare
            // descriptors go through the vtable only.
            const bool late = random.OneIn(2) && !arena.HoldsBareDescriptors();
            if (std::getenv("QUILLMORPH_FUZZ_TRACE")) {
                std::string shape = std::string(name) + (late ? " invoke" : " vtable");
                for (const VARIANT& arg : args) {
                    char text[64];
                    std::snprintf(text, sizeof(text), " vt=0x%04X ptr=%p", arg.vt, arg.byref);
                    shape += text;
                    if (arg.vt == (VT_BYREF | VT_VARIANT) && arg.pvarVal) {
                        std::snprintf(text, sizeof(text), "->0x%04X", arg.pvarVal->vt);
                        shape += text;
                    }
                }
                fuzz::Trace(iteration, shape.c_str());
            }
            if (late) {
                hr = CallInvoke(random, dispatch.Get(), method, args, &methodResult);
                if (!AllowedInvokeResult(hr) || !AllowedInvokeResult(methodResult))
                    findings_.Fail(iteration, std::string("Invoke ") + name + " gave " + fuzz::Hex(hr) +
                                                  " / " + fuzz::Hex(methodResult));
            } else {
                hr = methodResult = CallVtable(random, arena, bridge.Get(), method, args);
                if (!AllowedMethodResult(hr))
                    findings_.Fail(iteration, std::string(name) + " gave " + fuzz::Hex(hr));
            }
            const size_t before = open_.size();
            CheckTable(iteration, name, methodResult, method == kCloseAll ? before : 1);
            if (method == kCloseAll && hr == S_OK && !s_openObjects.empty())
                findings_.Fail(iteration, "CloseAll left edits open");
            if (!late && plainKey && method == kClose && open_.size() != before - 1)
                findings_.Fail(iteration, "Close of an open edit's key left it open");

            if (iteration == 50) {
                baseline = fuzz::ProcessMemory();
                baseline.peakVirtual = startPeakVirtual;
            }
            if (iteration >= 50 && iteration % 50 == 0) {
                const fuzz::Memory now = fuzz::ProcessMemory();
                const SIZE_T bound = 64u * 1024 * 1024;
                fuzz::ExpectBounded(findings_, iteration, now, &baseline, &fuzz::Memory::peakVirtual,
                                    "peak address space", bound, "");
                fuzz::ExpectBounded(findings_, iteration, now, &baseline, &fuzz::Memory::privateBytes,
                                    "private bytes", bound, "");
            }
        }
        bridge->CloseAll();
        CheckTable(iteration, "final CloseAll", S_OK, open_.size());
        findings_.Report(iteration, budget);
        EXPECT_EQ(findings_.failures(), 0u);
    }

    testing_support::Apartment apartment_;
    std::map<LONG, ComPtr<FuzzDrawing>> open_;
    fuzz::Findings findings_{"automation"};
};

TEST_F(AutomationFuzz, EveryVariantShapeGivesOnlyResultsAndKeepsTheTableOfEdits)
{
    fuzz::Random random(fuzz::Seed(0xA070A710Aull));
    fuzz::Budget budget(20000);
    Run(random, budget);
}

} // namespace

namespace {

// Keys that are no number, text or truth value name no edit, and nothing of
// them is read: a null reference, a bare descriptor claiming huge bounds.
TEST(AutomationFuzzRegressions, KeysThatAreNoValuesNameNoEditAndAreNotRead)
{
    testing_support::Apartment apartment;
    ComPtr<IQuillmorphOLE> bridge;
    ASSERT_EQ(CreateObjectInstance<CDispinterface>(nullptr, IID_PPV_ARGS(&bridge)), S_OK);
    ComPtr<FuzzDrawing> drawing(new FuzzDrawing(1));
    const LONG key = NextObjectKey();
    s_openObjects.File(key, static_cast<IDataObject*>(drawing.Get()));

    VARIANT nullReference;
    ::VariantInit(&nullReference);
    nullReference.vt = VT_BYREF | VT_I4;
    nullReference.plVal = nullptr;
    EXPECT_EQ(bridge->Close(nullReference), S_OK);

    SAFEARRAY* descriptor = nullptr;
    ASSERT_EQ(::SafeArrayAllocDescriptorEx(VT_I4, 2, &descriptor), S_OK);
    descriptor->rgsabound[0].cElements = 0x7FFFFFFF;
    descriptor->rgsabound[1].cElements = 0x7FFFFFFF;
    VARIANT bare;
    ::VariantInit(&bare);
    bare.vt = VT_ARRAY | VT_I4;
    bare.parray = descriptor;
    EXPECT_EQ(bridge->Close(bare), S_OK);
    SAFEARRAY** reference = &descriptor;
    bare.vt = VT_BYREF | VT_ARRAY | VT_I4;
    bare.pparray = reference;
    EXPECT_EQ(bridge->Close(bare), S_OK);
    ::SafeArrayDestroyDescriptor(descriptor);

    VARIANT object;
    ::VariantInit(&object);
    object.vt = VT_UNKNOWN;
    object.punkVal = static_cast<IDataObject*>(drawing.Get());
    EXPECT_EQ(bridge->Close(object), S_OK);
    EXPECT_NE(s_openObjects.Find(key), nullptr) << "none of these named the edit";
    EXPECT_EQ(drawing->closeSignals, 0);

    LONG number = key;
    VARIANT byReference;
    ::VariantInit(&byReference);
    byReference.vt = VT_BYREF | VT_I4;
    byReference.plVal = &number;
    EXPECT_EQ(bridge->Close(byReference), S_OK);
    EXPECT_EQ(s_openObjects.Find(key), nullptr) << "a number by reference is a key";
    EXPECT_EQ(drawing->closeSignals, 1);
}

} // namespace
