// Opening and ending edits in-process, with recording drawings: the table of open
// edits and its references, the object keys, the ".ZRN" file, what reaches a
// drawing when its edit ends, and the variants the methods refuse.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <set>

#include "bridge/dispinterface.h"
#include "bridge/editor_paths.h"
#include "bridge/open_edits.h"
#include "support/test_support.h"
#include "tests/bridge/bridge_test_util.h"
#include "tests/bridge/installed_main.h"
#include "tests/bridge/recording_drawing.h"

using Microsoft::WRL::ComPtr;
using namespace bridge_test;

// Memory that runs out on request: with a count set, the allocation of this
// thread that comes after that many others fails, once. Every allocation of
// the program comes here, the server's code and the standard library's alike.
namespace {
thread_local long t_allocationsBeforeFailure = -1;
thread_local bool t_allocationFailed = false;
} // namespace

void* operator new(std::size_t size)
{
    if (t_allocationsBeforeFailure == 0) {
        t_allocationsBeforeFailure = -1;
        t_allocationFailed = true;
        throw std::bad_alloc();
    }
    if (t_allocationsBeforeFailure > 0)
        --t_allocationsBeforeFailure;
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace {

const CLIPFORMAT kNativeFormat = testing_support::NativeFormat();

VARIANT UnknownArg(IUnknown* p)
{
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = p;
    return v;
}

class OpenEdits : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateObjectInstance<CDispinterface>(nullptr, IID_PPV_ARGS(&bridge_)), S_OK);
        // Each test writes its temporary files into a folder of its own.
        temp_ = FreshFolder(L"open edits");
        ::SetEnvironmentVariableW(L"TMP", temp_.c_str());
        ::SetEnvironmentVariableW(L"TEMP", temp_.c_str());
        bridge_->CloseAll();
        log_.clear();
    }

    void TearDown() override
    {
        if (bridge_)
            bridge_->CloseAll();
    }

    // A drawing held by the test (one reference) that delivers native.
    ComPtr<RecordingDrawing> NewDrawing(const wchar_t* name, const Bytes& native = Bytes{1, 2, 3})
    {
        ComPtr<RecordingDrawing> drawing(new RecordingDrawing(name, &log_));
        drawing->native = native;
        return drawing;
    }

    LONG Open(RecordingDrawing* drawing)
    {
        const LONG key = s_nextObjectKey;
        EXPECT_EQ(bridge_->Activate(UnknownArg(static_cast<IDataObject*>(drawing))), S_OK);
        return key;
    }

    testing_support::Apartment apartment_;
    ComPtr<IQuillmorphOLE> bridge_;
    std::wstring temp_;
    std::vector<ReceivedData> log_;
};

TEST_F(OpenEdits, ActivateFilesUnderSuccessiveKeysWithAReferenceOfItsOwn)
{
    auto drawing = NewDrawing(L"one");
    const ULONG before = drawing->References();
    const LONG first = s_nextObjectKey;

    EXPECT_EQ(Open(drawing.Get()), first);
    EXPECT_EQ(Open(drawing.Get()), first + 1);
    EXPECT_EQ(Open(drawing.Get()), first + 2);
    EXPECT_EQ(drawing->References(), before + 3) << "one reference per entry; the caller's stays";
    EXPECT_EQ(s_openObjects.size(), 3u);
    EXPECT_EQ(drawing->getDataCalls, 3);

    // Ending one key leaves the others open; the key is never handed out again.
    EXPECT_EQ(bridge_->Close(KeyArgument(first + 1)), S_OK);
    EXPECT_EQ(drawing->References(), before + 2);
    EXPECT_EQ(Open(drawing.Get()), first + 3);
    EXPECT_EQ(s_openObjects.Find(first + 1), nullptr);
    EXPECT_EQ(drawing->References(), before + 3);

    EXPECT_EQ(bridge_->CloseAll(), S_OK);
    EXPECT_EQ(drawing->References(), before);
    EXPECT_TRUE(s_openObjects.empty());
    EXPECT_EQ(s_nextObjectKey, first + 4) << "CloseAll does not reset the key counter";
    EXPECT_TRUE(ListFiles(temp_, L"*").empty()) << "every edit took its files with it";
}

TEST_F(OpenEdits, ActivateWritesTheWholeDocumentBesideTheReservedTemporaryName)
{
    const Bytes native = PatternBytes(300000, 7);
    auto drawing = NewDrawing(L"big", native);
    Open(drawing.Get());

    auto zrn = ListFiles(temp_, L"*.ZRN");
    auto tmp = ListFiles(temp_, L"*.tmp");
    ASSERT_EQ(zrn.size(), 1u);
    ASSERT_EQ(tmp.size(), 1u) << "the reserved name stays";
    EXPECT_EQ(zrn[0].substr(0, 3), L"OLE");
    EXPECT_EQ(zrn[0].substr(0, zrn[0].size() - 4), tmp[0].substr(0, tmp[0].size() - 4));
    EXPECT_EQ(ReadFileBytes(temp_ + L"\\" + zrn[0]), native);
    EXPECT_TRUE(ReadFileBytes(temp_ + L"\\" + tmp[0]).empty());
}

// Documents planted under the names the platform's temporary numbering hands
// out. The numbering starts from the millisecond clock and walks up past every
// name whose ".tmp" is taken. So a stretch of names a little ahead of the clock
// gets its ".tmp" files planted, all but a run of names at its end: wherever
// the clock stands within the stretch when the server asks, each reservation
// lands on the next name of the run, in order, however fast or slow the server
// is between its tries. Documents are planted on the first names of the run.
class PlantedDocuments
{
public:
    static const DWORD kRun = 16;

    explicit PlantedDocuments(const std::wstring& folder) : folder_(folder) {}

    // Plants a stretch whose run has a ".ZRN" on its first `taken` names and
    // waits until the clock stands inside the stretch. False when planting
    // cannot keep ahead of the clock.
    bool PlantAndWait(DWORD taken)
    {
        // A name read while the clock is inside an earlier stretch would be
        // one walked up to, not where the clock stands.
        const LONG inside = static_cast<LONG>(start_ + kStretch - ::GetTickCount());
        if (start_ && inside > 0)
            ::Sleep(static_cast<DWORD>(inside));
        for (DWORD lead = 2000; lead <= 16000; lead *= 2) {
            // Where the numbering stands now, read from a name it hands out.
            wchar_t probe[MAX_PATH] = {};
            if (::GetTempFileNameW(folder_.c_str(), L"OLE", 0, probe) == 0)
                return false;
            const DWORD now = ::GetTickCount();
            ::DeleteFileW(probe);
            const DWORD number = std::wcstoul(probe + folder_.size() + 4, nullptr, 16);
            run_ = number + lead + kStretch - kRun;
            for (DWORD i = 0; i < kStretch - kRun; ++i)
                if (!Plant(NameOf(number + lead + i, L".tmp")))
                    return false;
            for (DWORD i = 0; i < taken; ++i)
                if (!Plant(NameOf(run_ + i, L".ZRN")))
                    return false;
            // A little past the start: the clock read here and the one the
            // numbering uses may differ by a few milliseconds.
            start_ = now + lead;
            const LONG left = static_cast<LONG>(start_ - ::GetTickCount());
            if (left > 20) {
                ::Sleep(static_cast<DWORD>(left) + 50);
                return true;
            }
        }
        return false;
    }

    // True while the clock has not reached the run: every reservation made
    // since the wait was aimed at the run. A machine that stalls for most of
    // a second between the wait and the call makes the try inconclusive.
    bool ClockStillAhead() const
    {
        return static_cast<LONG>(::GetTickCount() - start_) < static_cast<LONG>(kStretch - kRun - 100);
    }

    // The document name of the run's i-th name.
    std::wstring RunDocument(DWORD i) const { return Upper(NameOf(run_ + i, L".ZRN")); }

    static std::wstring Upper(std::wstring text)
    {
        ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
        return text;
    }

    bool IsPlanted(const std::wstring& name) const { return names_.count(Upper(name)) != 0; }

    // Every planted file is there with its content, and nothing else is.
    void ExpectUntouchedAndAlone() const
    {
        std::set<std::wstring> present;
        for (const std::wstring& name : ListFiles(folder_, L"*"))
            present.insert(Upper(name));
        EXPECT_EQ(present, names_);
        size_t changed = 0;
        for (const std::wstring& name : names_)
            changed += ReadFileBytes(folder_ + L"\\" + name) != kContent;
        EXPECT_EQ(changed, 0u) << "planted files were written to";
    }

private:
    // Names half a second's worth of the clock.
    static const DWORD kStretch = 500;

    bool Plant(const std::wstring& name)
    {
        names_.insert(Upper(name));
        return WriteFileBytes(folder_ + L"\\" + name, kContent);
    }

    static std::wstring NameOf(DWORD number, const wchar_t* extension)
    {
        // The numbers run from 1 to FFFF, written as the platform writes them.
        wchar_t name[16] = {};
        std::swprintf(name, 16, L"OLE%x%ls", static_cast<unsigned>((number - 1) % 0xFFFF + 1), extension);
        return name;
    }

    const Bytes kContent = {'p', 'l', 'a', 'n', 't', 'e', 'd'};
    std::wstring folder_;
    std::set<std::wstring> names_;
    DWORD run_ = 0;
    DWORD start_ = 0;
};

TEST_F(OpenEdits, ADocumentAlreadyUnderTheReservedNameIsLeftAsItIsAndAnotherNameIsTried)
{
    const Bytes native = PatternBytes(1000, 3);
    PlantedDocuments planted(temp_);
    std::wstring name;
    EditFiles files;
    // The document written with the run's first names taken. A call that ends
    // after the clock reached the run proves nothing and is made again;
    // E_PENDING when no call could be aimed in three tries, E_ABORT when
    // planting could not keep ahead of the clock.
    auto WriteWithRunTaken = [&](DWORD taken) {
        for (int tries = 0; tries < 3; ++tries) {
            if (!planted.PlantAndWait(taken))
                return E_ABORT;
            const HRESULT hr = WriteNativeDocumentFile(native.data(), native.size(), &name, &files);
            if (planted.ClockStillAhead())
                return hr;
            files.Remove();
        }
        return E_PENDING;
    };

    // Every name the server could reserve is taken: it gives up after a few,
    // and leaves nothing of its own behind.
    EXPECT_EQ(WriteWithRunTaken(PlantedDocuments::kRun), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
    EXPECT_TRUE(files.document().empty());
    planted.ExpectUntouchedAndAlone();

    // With the sixth name of the run free, the server reserves five taken
    // names in turn and writes the sixth.
    ASSERT_EQ(WriteWithRunTaken(5), S_OK);
    const std::wstring document = name.substr(name.rfind(L'\\') + 1);
    EXPECT_EQ(PlantedDocuments::Upper(document), planted.RunDocument(5));
    EXPECT_FALSE(planted.IsPlanted(document));
    EXPECT_EQ(ReadFileBytes(name), native);
    EXPECT_EQ(files.document(), name);
    files.Remove();
    planted.ExpectUntouchedAndAlone();
}

TEST_F(OpenEdits, ActivateFilesNothingWhenTheDocumentOrItsFileCannotBeHad)
{
    auto drawing = NewDrawing(L"refusing");
    const ULONG before = drawing->References();
    const LONG key = s_nextObjectKey;

    drawing->getDataResult = E_OUTOFMEMORY;
    EXPECT_EQ(bridge_->Activate(UnknownArg(static_cast<IDataObject*>(drawing.Get()))), E_OUTOFMEMORY);
    drawing->getDataResult = DV_E_FORMATETC;
    EXPECT_EQ(bridge_->Activate(UnknownArg(static_cast<IDataObject*>(drawing.Get()))), DV_E_FORMATETC);

    drawing->getDataResult = S_OK;
    const std::wstring missing = temp_ + L"\\no such folder";
    ::SetEnvironmentVariableW(L"TMP", missing.c_str());
    ::SetEnvironmentVariableW(L"TEMP", missing.c_str());
    EXPECT_TRUE(FAILED(bridge_->Activate(UnknownArg(static_cast<IDataObject*>(drawing.Get())))));

    EXPECT_EQ(s_nextObjectKey, key) << "no key is used up";
    EXPECT_TRUE(s_openObjects.empty());
    EXPECT_EQ(drawing->References(), before);
    EXPECT_TRUE(ListFiles(temp_, L"*").empty());
}

TEST_F(OpenEdits, RunningOutOfMemoryAnywhereInActivateOpensNothingAndLeavesNoFile)
{
    auto drawing = NewDrawing(L"short of memory");
    const ULONG before = drawing->References();
    long failures = 0;
    for (long allocations = 0; allocations < 1000; ++allocations) {
        t_allocationFailed = false;
        t_allocationsBeforeFailure = allocations;
        const HRESULT hr = bridge_->Activate(UnknownArg(static_cast<IDataObject*>(drawing.Get())));
        t_allocationsBeforeFailure = -1;
        if (!t_allocationFailed) {
            EXPECT_EQ(hr, S_OK) << "with memory enough";
            break;
        }
        ++failures;
        EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << allocations;
        EXPECT_TRUE(s_openObjects.empty()) << "allocation " << allocations;
        EXPECT_EQ(drawing->References(), before) << "allocation " << allocations;
        EXPECT_TRUE(ListFiles(temp_, L"*").empty()) << "allocation " << allocations;
    }
    EXPECT_GE(failures, 5) << "each of Activate's allocations failed once";
    // The server goes on serving: the edit that had memory enough is open, and ends as any other.
    EXPECT_EQ(s_openObjects.size(), 1u);
    EXPECT_EQ(bridge_->CloseAll(), S_OK);
    EXPECT_EQ(drawing->References(), before);
    EXPECT_TRUE(ListFiles(temp_, L"*").empty());
}

TEST_F(OpenEdits, ActivateEndsTheEditAgainWhenTheEditorCannotBeStarted)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring editor = MakeEditorPath(self);
    const std::wstring away = editor + L".away";
    ASSERT_TRUE(::MoveFileW(editor.c_str(), away.c_str()));
    auto drawing = NewDrawing(L"no editor");
    const ULONG before = drawing->References();
    const HRESULT hr = bridge_->Activate(UnknownArg(static_cast<IDataObject*>(drawing.Get())));
    ::MoveFileW(away.c_str(), editor.c_str());
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(s_openObjects.empty());
    EXPECT_EQ(drawing->References(), before);
    EXPECT_TRUE(ListFiles(temp_, L"*").empty()) << "neither the document nor its reserved name is left";
}

TEST_F(OpenEdits, EndingAnEditDeletesItsFilesUnlessItsEditorStillHoldsTheDocument)
{
    auto drawing = NewDrawing(L"files");
    // Each edit's document: the one file that its Activate added.
    std::vector<std::wstring> documents;
    std::vector<LONG> keys;
    for (int i = 0; i < 3; ++i) {
        const auto before = ListFiles(temp_, L"*.ZRN");
        keys.push_back(Open(drawing.Get()));
        for (const auto& name : ListFiles(temp_, L"*.ZRN"))
            if (std::find(before.begin(), before.end(), name) == before.end())
                documents.push_back(name);
    }
    ASSERT_EQ(documents.size(), 3u);
    ASSERT_EQ(ListFiles(temp_, L"*.tmp").size(), 3u);
    // The third edit's editor keeps its document open, as a drawing application may.
    UniqueKernelHandle held = AdoptFileHandle(::CreateFileW((temp_ + L"\\" + documents[2]).c_str(),
                                                            GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                            nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    VariantGuard f, g;
    MakeByteArray(Bytes{1}, f.get());
    MakeByteArray(PictureBits(1), g.get());
    EXPECT_EQ(bridge_->UpdateAndClose(*f.get(), *g.get(), KeyArgument(keys[0])), S_OK);
    EXPECT_EQ(bridge_->Close(KeyArgument(keys[1])), S_OK);
    EXPECT_EQ(bridge_->CloseAll(), S_OK);
    const std::wstring stem = documents[2].substr(0, documents[2].size() - 4);
    auto left = ListFiles(temp_, L"*");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::wstring>{documents[2], stem + L".tmp"}))
        << "the held document stays, and its name stays reserved";
    held.reset();
}

TEST_F(OpenEdits, ActivateIgnoresArgumentsThatCarryNoDataObject)
{
    const LONG key = s_nextObjectKey;
    VARIANT empty;
    ::VariantInit(&empty);
    EXPECT_EQ(bridge_->Activate(empty), S_OK);
    // An integer that looks like a pointer must not be read as one.
    VARIANT number = KeyArgument(0x1234);
    EXPECT_EQ(bridge_->Activate(number), S_OK);
    VARIANT nullUnknown = UnknownArg(nullptr);
    EXPECT_EQ(bridge_->Activate(nullUnknown), S_OK);
    auto plain = NewDrawing(L"plain");
    plain->answersDataObject = false;
    EXPECT_EQ(bridge_->Activate(UnknownArg(static_cast<IDataObject*>(plain.Get()))), S_OK);
    EXPECT_EQ(plain->References(), 1u);
    EXPECT_EQ(s_nextObjectKey, key);
    EXPECT_TRUE(s_openObjects.empty());

    // The by-reference form of an interface pointer is an interface pointer too.
    auto drawing = NewDrawing(L"by reference");
    IUnknown* unknown = static_cast<IDataObject*>(drawing.Get());
    VARIANT byRef;
    ::VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_UNKNOWN;
    byRef.ppunkVal = &unknown;
    EXPECT_EQ(bridge_->Activate(byRef), S_OK);
    EXPECT_EQ(s_openObjects.Find(key), static_cast<IUnknown*>(static_cast<IDataObject*>(drawing.Get())));
}

TEST_F(OpenEdits, UpdateAndCloseHandsNativeDataThenPictureAndEndsTheEdit)
{
    auto drawing = NewDrawing(L"edited");
    const ULONG before = drawing->References();
    const LONG key = Open(drawing.Get());

    const Bytes native = PatternBytes(70001, 3);
    const Bytes picture = PictureBits(5);
    VariantGuard f, g;
    MakeByteArray(native, f.get());
    MakeByteArray(picture, g.get());
    EXPECT_EQ(bridge_->UpdateAndClose(*f.get(), *g.get(), KeyArgument(key)), S_OK);

    ASSERT_EQ(log_.size(), 2u);
    EXPECT_EQ(log_[0].format, kNativeFormat);
    EXPECT_EQ(log_[0].tymed, static_cast<DWORD>(TYMED_HGLOBAL));
    EXPECT_EQ(log_[0].aspect, static_cast<DWORD>(DVASPECT_CONTENT));
    EXPECT_EQ(log_[0].release, FALSE);
    EXPECT_EQ(log_[0].bytes, native);
    EXPECT_EQ(log_[1].format, CF_ENHMETAFILE);
    EXPECT_EQ(log_[1].tymed, static_cast<DWORD>(TYMED_ENHMF));
    EXPECT_EQ(log_[1].release, FALSE);
    EXPECT_EQ(log_[1].bytes, picture);
    EXPECT_EQ(drawing->References(), before);
    EXPECT_EQ(s_openObjects.Find(key), nullptr);

    // The key no longer names anything.
    EXPECT_EQ(bridge_->UpdateAndClose(*f.get(), *g.get(), KeyArgument(key)), S_OK);
    EXPECT_EQ(bridge_->Close(KeyArgument(key)), S_OK);
    EXPECT_EQ(log_.size(), 2u);
}

TEST_F(OpenEdits, UpdateAndCloseWithBytesThatAreNoPictureStillHandsTheDocumentOver)
{
    auto drawing = NewDrawing(L"no picture");
    const LONG key = Open(drawing.Get());
    VariantGuard f, g;
    MakeByteArray(Bytes{}, f.get());
    MakeByteArray(Bytes{'n', 'o', 'p', 'e'}, g.get());
    EXPECT_EQ(bridge_->UpdateAndClose(*f.get(), *g.get(), KeyArgument(key)), S_OK);
    ASSERT_EQ(log_.size(), 2u);
    EXPECT_EQ(log_[0].format, kNativeFormat);
    EXPECT_FALSE(log_[0].nullHandle) << "an empty document is still a block";
    EXPECT_TRUE(log_[0].bytes.empty()) << "and it reads as no bytes at all";
    EXPECT_EQ(log_[1].format, CF_ENHMETAFILE);
    EXPECT_TRUE(log_[1].nullHandle);
    EXPECT_TRUE(s_openObjects.empty());
}

TEST_F(OpenEdits, BadByteArraysAreRefusedAndLeaveTheEditOpen)
{
    auto drawing = NewDrawing(L"kept open");
    const LONG key = Open(drawing.Get());
    VariantGuard good;
    MakeByteArray(Bytes{9, 8, 7}, good.get());

    std::vector<VariantGuard> bad(6);
    bad[0]->vt = VT_I4; // a number where an array belongs
    bad[0]->lVal = 0x1000;
    bad[1]->vt = VT_ARRAY | VT_UI1; // the tag without an array
    bad[1]->parray = nullptr;
    MakeByteArray(Bytes{1, 2, 3}, bad[2].get(), 1); // lower bound 1
    SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
    bad[3]->vt = VT_ARRAY | VT_UI1; // two dimensions
    bad[3]->parray = ::SafeArrayCreate(VT_UI1, 2, square);
    bad[4]->vt = VT_ARRAY | VT_UI1; // elements of four bytes under a byte tag
    bad[4]->parray = ::SafeArrayCreateVector(VT_I4, 0, 4);
    bad[5]->vt = VT_BSTR;
    bad[5]->bstrVal = ::SysAllocString(L"bytes");

    for (size_t i = 0; i < bad.size(); ++i) {
        EXPECT_EQ(bridge_->UpdateAndClose(*bad[i].get(), *good.get(), KeyArgument(key)), E_INVALIDARG)
            << "f #" << i;
        EXPECT_EQ(bridge_->UpdateAndClose(*good.get(), *bad[i].get(), KeyArgument(key)), E_INVALIDARG)
            << "g #" << i;
        // With an unknown key the arrays are not looked at.
        EXPECT_EQ(bridge_->UpdateAndClose(*bad[i].get(), *bad[i].get(), KeyArgument(key + 1000)), S_OK);
        VARIANT c;
        ::VariantInit(&c);
        EXPECT_EQ(bridge_->TripForward(*bad[i].get(), *good.get(), &c), E_INVALIDARG) << "a #" << i;
        EXPECT_EQ(c.vt, VT_EMPTY);
    }
    EXPECT_TRUE(log_.empty());
    EXPECT_NE(s_openObjects.Find(key), nullptr);

    // The by-reference form of a byte array is accepted.
    SAFEARRAY* array = good->parray;
    VARIANT byRef;
    ::VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    byRef.pparray = &array;
    EXPECT_EQ(bridge_->UpdateAndClose(byRef, *good.get(), KeyArgument(key)), S_OK);
    ASSERT_EQ(log_.size(), 2u);
    EXPECT_EQ(log_[0].bytes, (Bytes{9, 8, 7}));

    // Script hosts pass a variable by reference, as a variant pointing at the
    // script's own variant; one level is followed, a second is refused.
    VARIANT byVariantRef;
    ::VariantInit(&byVariantRef);
    byVariantRef.vt = VT_BYREF | VT_VARIANT;
    byVariantRef.pvarVal = good.get();
    VariantGuard made;
    EXPECT_EQ(bridge_->TripForward(byVariantRef, byVariantRef, made.get()), S_OK);
    EXPECT_EQ(made->vt, VT_ARRAY | VT_UI1);
    VARIANT twice;
    ::VariantInit(&twice);
    twice.vt = VT_BYREF | VT_VARIANT;
    twice.pvarVal = &byVariantRef;
    VariantGuard refused;
    EXPECT_EQ(bridge_->TripForward(twice, *good.get(), refused.get()), E_INVALIDARG);
}

TEST_F(OpenEdits, KeysAreReadThroughVariantConversionAndAnythingElseIsUnknown)
{
    auto drawing = NewDrawing(L"short key");
    // Key 0 must be open to see that a missing key is not read as 0; the counter
    // is put back at once.
    const LONG next = s_nextObjectKey;
    s_nextObjectKey = 0;
    const LONG key = Open(drawing.Get());
    s_nextObjectKey = next;
    const LONG other = Open(drawing.Get());
    ASSERT_EQ(key, 0);
    VariantGuard text;
    text->vt = VT_BSTR;
    text->bstrVal = ::SysAllocString(L"not a number");
    EXPECT_EQ(bridge_->Close(*text.get()), S_OK);
    VARIANT nothing;
    ::VariantInit(&nothing);
    EXPECT_EQ(bridge_->Close(nothing), S_OK);
    nothing.vt = VT_NULL;
    EXPECT_EQ(bridge_->Close(nothing), S_OK);
    EXPECT_TRUE(log_.empty()) << "no key given closes nothing";

    VARIANT shortKey;
    ::VariantInit(&shortKey);
    shortKey.vt = VT_I2;
    shortKey.iVal = static_cast<SHORT>(key);
    EXPECT_EQ(bridge_->Close(shortKey), S_OK);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_TRUE(log_[0].closeSignal);
    EXPECT_EQ(s_openObjects.Find(key), nullptr);
    EXPECT_NE(s_openObjects.Find(other), nullptr);
}

TEST_F(OpenEdits, CloseAllSignalsEveryEditOnceInKeyOrder)
{
    auto first = NewDrawing(L"first");
    auto second = NewDrawing(L"second");
    auto third = NewDrawing(L"third");
    const LONG skipped = Open(third.Get());
    Open(first.Get());
    Open(second.Get());
    Open(third.Get());
    ASSERT_EQ(bridge_->Close(KeyArgument(skipped)), S_OK);
    log_.clear();

    EXPECT_EQ(bridge_->CloseAll(), S_OK);
    ASSERT_EQ(log_.size(), 3u);
    EXPECT_EQ(log_[0].owner, L"first");
    EXPECT_EQ(log_[1].owner, L"second");
    EXPECT_EQ(log_[2].owner, L"third");
    for (const auto& received : log_) {
        EXPECT_TRUE(received.closeSignal);
        EXPECT_EQ(received.release, FALSE);
    }
    EXPECT_TRUE(s_openObjects.empty());
    EXPECT_EQ(first->References(), 1u);
    EXPECT_EQ(third->References(), 1u);
    EXPECT_EQ(bridge_->Close(KeyArgument(5000)), S_OK);
}

TEST(EditorLaunch, TheBetaEditorIsPreferredWhenItIsThere)
{
    const std::wstring folder = FreshFolder(L"Quillmorph Install");
    const std::wstring module = folder + L"\\resources\\QuillmorphOLE.exe";
    EXPECT_EQ(MakeEditorPath(module), folder + L"\\Quillmorph.exe");
    ASSERT_TRUE(WriteFileBytes(folder + L"\\Quillmorph-beta.exe", Bytes{}));
    EXPECT_EQ(MakeEditorPath(module), folder + L"\\Quillmorph-beta.exe");
    EXPECT_EQ(MakeWorkingFolder(module), folder + L" ");

    // A server run from elsewhere keeps its own path for both.
    EXPECT_EQ(MakeEditorPath(folder + L"\\QuillmorphOLE.exe"), folder + L"\\QuillmorphOLE.exe");
    EXPECT_EQ(MakeWorkingFolder(folder + L"\\QuillmorphOLE.exe"), folder + L"\\QuillmorphOLE.exe");
}

TEST(EditorLaunch, TheEditorIsFoundWhateverTheLetterCaseOrShortFormOfTheServersPath)
{
    const std::wstring folder = FreshFolder(L"Quillmorph Long Folder Name");
    ::CreateDirectoryW((folder + L"\\Resources").c_str(), nullptr);
    const std::wstring module = folder + L"\\Resources\\QuillmorphOLE.exe";
    ASSERT_TRUE(WriteFileBytes(module, Bytes{}));
    EXPECT_EQ(MakeEditorPath(module), folder + L"\\Quillmorph.exe");
    EXPECT_EQ(MakeWorkingFolder(module), folder + L" ");
    EXPECT_EQ(MakeEditorPath(folder + L"\\RESOURCES\\quillmorphole.EXE"), folder + L"\\Quillmorph.exe");

    // Registered through the 8.3 form of its path, the server is started by it.
    wchar_t shortPath[MAX_PATH] = {};
    ASSERT_GT(::GetShortPathNameW(module.c_str(), shortPath, MAX_PATH), 0u);
    ASSERT_EQ(std::wstring(shortPath).find(L"Long Folder Name"), std::wstring::npos) << "a short form";
    EXPECT_EQ(MakeEditorPath(shortPath), folder + L"\\Quillmorph.exe");
    EXPECT_EQ(MakeWorkingFolder(shortPath), folder + L" ");
}

TEST(EditorLaunch, TheCommandLineQuotesBothPathsAndEndsWithTheKey)
{
    EXPECT_EQ(MakeZrnFileName(L"C:\\Users\\A B\\Temp\\OLE4A1F.tmp"), L"C:\\Users\\A B\\Temp\\OLE4A1F.ZRN");
    EXPECT_EQ(MakeZrnFileName(L"C:\\Temp\\OLE4A1F.TMP"), L"C:\\Temp\\OLE4A1F.TMP.ZRN")
        << "the trim is case-sensitive";
    EXPECT_EQ(MakeEditorCommandLine(L"C:\\Program Files\\Q\\Quillmorph.exe", L"C:\\A B\\OLE1.ZRN", 0),
              L"\"C:\\Program Files\\Q\\Quillmorph.exe\" \"C:\\A B\\OLE1.ZRN\" -ole 0");
    EXPECT_EQ(MakeEditorCommandLine(L"e.exe", L"f.ZRN", -12), L"\"e.exe\" \"f.ZRN\" -ole -12");
    EXPECT_EQ(ReplaceAll(L"aXXbXXXc", L"XX", L"-"), L"a-b-Xc");
}

} // namespace

QUILLMORPH_BRIDGE_INSTALLED_MAIN
