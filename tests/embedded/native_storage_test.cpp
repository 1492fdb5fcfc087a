// The drawing in its container's storage: the protocol and its states, what the
// streams and records hold, round trips, and the corruption message.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <winternl.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "embedded/embedded_object.h"
#include "embedded/test_doubles.h"
#include "support/lying_storage.h"
#include "support/test_support.h"

using Microsoft::WRL::ComPtr;
using namespace embedded_test;

namespace {

const char kFlavourName[] = "JAVA_DATAFLAVOR:chemical/x-vantrelis-zrn; class=java.io.InputStream";

class Drawing : public NewDrawingTest
{
protected:
    // A drawing loaded from a storage that holds native and picture.
    void GiveContent(const Bytes& native, HENHMETAFILE picture)
    {
        ASSERT_EQ(SetNativeData(data_.Get(), native), S_OK);
        ASSERT_EQ(SetPicture(data_.Get(), picture), S_OK);
    }

    // The drawing still holds what the tests give it ({4, 5, 6} and a picture
    // 3000 wide): a failed load changed nothing.
    void ExpectTheGivenContent(const char* why = "")
    {
        Bytes native;
        ASSERT_EQ(GetNativeData(data_.Get(), &native), S_OK);
        EXPECT_EQ(native, (Bytes{4, 5, 6}));
        SIZEL extent = {};
        EXPECT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
        EXPECT_EQ(extent.cx, 3000) << why;
    }
};

// The record the platform keeps beside the streams, read straight from its
// stream: the user type and the clipboard format.
struct FormatRecord
{
    std::string userType;
    DWORD formatId = 0;     // a predefined format
    std::string formatName; // a registered format
};

bool ReadLengthPrefixed(const Bytes& bytes, size_t* at, std::string* text)
{
    if (*at + 4 > bytes.size())
        return false;
    DWORD length = *reinterpret_cast<const DWORD*>(&bytes[*at]);
    *at += 4;
    if (*at + length > bytes.size())
        return false;
    // The length counts the closing zero.
    *text = length ? std::string(reinterpret_cast<const char*>(&bytes[*at]), length - 1) : std::string();
    *at += length;
    return true;
}

bool ReadFormatRecord(IStorage* storage, FormatRecord* record)
{
    Bytes bytes;
    if (FAILED(ReadStream(storage, L"\1CompObj", &bytes)))
        return false;
    size_t at = 28; // the fixed header
    if (!ReadLengthPrefixed(bytes, &at, &record->userType) || at + 4 > bytes.size())
        return false;
    DWORD marker = *reinterpret_cast<const DWORD*>(&bytes[at]);
    if (marker == 0xFFFFFFFF || marker == 0xFFFFFFFE) {
        if (at + 8 > bytes.size())
            return false;
        record->formatId = *reinterpret_cast<const DWORD*>(&bytes[at + 4]);
        return true;
    }
    return ReadLengthPrefixed(bytes, &at, &record->formatName);
}

void ExpectFlavourRecord(IStorage* storage)
{
    FormatRecord record;
    ASSERT_TRUE(ReadFormatRecord(storage, &record));
    EXPECT_EQ(record.userType, "Quillmorph Embedded Object");
    // The platform here keeps at most 63 characters of a registered format name;
    // the full name is what the drawing asks for, the cut one is accepted.
    std::string full = kFlavourName;
    EXPECT_TRUE(record.formatName == full || record.formatName == full.substr(0, 63))
        << "format name: " << record.formatName;
}

TEST_F(Drawing, ANewDrawingSavesTwoEmptyStreamsAndItsRecord)
{
    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(persist_->InitNew(storage.Get()), S_OK);
    EXPECT_EQ(persist_->IsDirty(), S_OK);
    ASSERT_EQ(persist_->Save(storage.Get(), TRUE), S_OK);
    EXPECT_EQ(persist_->IsDirty(), S_FALSE);
    EXPECT_EQ(persist_->SaveCompleted(nullptr), S_OK);

    Bytes bytes;
    EXPECT_EQ(ReadStream(storage.Get(), L"EMF", &bytes), S_OK);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(ReadStream(storage.Get(), L"ZRN", &bytes), S_OK);
    EXPECT_TRUE(bytes.empty());
    ExpectFlavourRecord(storage.Get());

    // The class is the container's to write, not the drawing's.
    CLSID stored = {};
    EXPECT_EQ(::ReadClassStg(storage.Get(), &stored), S_OK);
    EXPECT_TRUE(IsEqualCLSID(stored, CLSID_NULL));
}

TEST_F(Drawing, StorageProtocolRefusesCallsOutOfOrder)
{
    ComPtr<IStorage> storage = NewMemoryStorage();
    EXPECT_EQ(persist_->Save(storage.Get(), TRUE), E_UNEXPECTED) << "before InitNew";
    EXPECT_EQ(persist_->SaveCompleted(storage.Get()), E_UNEXPECTED);
    EXPECT_EQ(persist_->HandsOffStorage(), E_UNEXPECTED);
    EXPECT_EQ(persist_->InitNew(nullptr), E_POINTER);
    EXPECT_EQ(persist_->Load(nullptr), E_POINTER);
    EXPECT_EQ(persist_->GetClassID(nullptr), E_POINTER);

    ASSERT_EQ(persist_->InitNew(storage.Get()), S_OK);
    EXPECT_EQ(persist_->SaveCompleted(nullptr), E_UNEXPECTED) << "normal state";
    EXPECT_EQ(persist_->Save(nullptr, TRUE), E_POINTER);
    ASSERT_EQ(persist_->Save(storage.Get(), TRUE), S_OK);
    EXPECT_EQ(persist_->Save(storage.Get(), TRUE), E_UNEXPECTED) << "no scribble until SaveCompleted";
    EXPECT_EQ(persist_->HandsOffStorage(), E_UNEXPECTED) << "no scribble";
    ASSERT_EQ(persist_->SaveCompleted(storage.Get()), S_OK);

    ASSERT_EQ(persist_->HandsOffStorage(), S_OK);
    EXPECT_EQ(persist_->HandsOffStorage(), S_OK) << "again in hands-off";
    EXPECT_EQ(persist_->Save(storage.Get(), TRUE), E_UNEXPECTED);
    ASSERT_EQ(persist_->SaveCompleted(storage.Get()), S_OK);
    EXPECT_EQ(persist_->Save(storage.Get(), TRUE), S_OK) << "normal again";
}

TEST_F(Drawing, TheStorageIsHeldUntilHandsOff)
{
    ComPtr<IStorage> storage = NewMemoryStorage();
    ULONG before = RefCount(storage.Get());
    ASSERT_EQ(persist_->InitNew(storage.Get()), S_OK);
    EXPECT_EQ(RefCount(storage.Get()), before + 1);
    ASSERT_EQ(persist_->HandsOffStorage(), S_OK);
    EXPECT_EQ(RefCount(storage.Get()), before);
    // A storage given back is not kept.
    ASSERT_EQ(persist_->SaveCompleted(storage.Get()), S_OK);
    EXPECT_EQ(RefCount(storage.Get()), before);
}

TEST_F(Drawing, InitNewLeavesStreamsAlreadyThere)
{
    ComPtr<IStorage> storage = NewMemoryStorage();
    Bytes native = PatternBytes(100, 1);
    ASSERT_EQ(WriteStream(storage.Get(), L"ZRN", native), S_OK);
    ASSERT_EQ(WriteStream(storage.Get(), L"EMF", Bytes{1, 2, 3}), S_OK);
    EXPECT_EQ(persist_->InitNew(storage.Get()), S_OK);
    Bytes bytes;
    EXPECT_EQ(ReadStream(storage.Get(), L"ZRN", &bytes), S_OK);
    EXPECT_EQ(bytes, native);
    EXPECT_EQ(ReadStream(storage.Get(), L"EMF", &bytes), S_OK);
    EXPECT_EQ(bytes, (Bytes{1, 2, 3}));
}

TEST_F(Drawing, SaveThenLoadGivesBackTheSameBytes)
{
    UniqueEnhMetaFile picture = MakePicture({0, 0, 5000, 2500});
    Bytes pictureBits = PictureBits(picture.get());
    for (size_t size : {size_t(0), size_t(1), size_t(37), size_t(3) * 1024 * 1024 + 5}) {
        SCOPED_TRACE(size);
        ComPtr<IOleObject> source = NewDrawing();
        ComPtr<IPersistStorage> sourcePersist;
        ComPtr<IDataObject> sourceData;
        ASSERT_EQ(source.As(&sourcePersist), S_OK);
        ASSERT_EQ(source.As(&sourceData), S_OK);
        Bytes native = PatternBytes(size, static_cast<unsigned>(size));
        ComPtr<IStorage> storage = NewMemoryStorage();
        ASSERT_EQ(sourcePersist->InitNew(storage.Get()), S_OK);
        ASSERT_EQ(SetNativeData(sourceData.Get(), native), S_OK);
        ASSERT_EQ(SetPicture(sourceData.Get(), picture.get()), S_OK);
        ASSERT_EQ(sourcePersist->Save(storage.Get(), TRUE), S_OK);

        // The streams hold the bare bytes: no prefix, no padding.
        Bytes bytes;
        EXPECT_EQ(ReadStream(storage.Get(), L"ZRN", &bytes), S_OK);
        EXPECT_TRUE(bytes == native);
        EXPECT_EQ(ReadStream(storage.Get(), L"EMF", &bytes), S_OK);
        EXPECT_EQ(bytes, pictureBits);

        ComPtr<IOleObject> copy = NewDrawing();
        ComPtr<IPersistStorage> copyPersist;
        ComPtr<IDataObject> copyData;
        ASSERT_EQ(copy.As(&copyPersist), S_OK);
        ASSERT_EQ(copy.As(&copyData), S_OK);
        ASSERT_EQ(copyPersist->Load(storage.Get()), S_OK);
        EXPECT_EQ(copyPersist->IsDirty(), S_OK) << "a loaded drawing is dirty until saved";
        Bytes loaded;
        ASSERT_EQ(GetNativeData(copyData.Get(), &loaded), S_OK);
        EXPECT_EQ(loaded.size(), native.size());
        EXPECT_TRUE(loaded == native);

        // Saving the loaded drawing writes the same picture bits again.
        ComPtr<IStorage> again = NewMemoryStorage();
        ASSERT_EQ(copyPersist->Save(again.Get(), FALSE), S_OK);
        EXPECT_EQ(ReadStream(again.Get(), L"EMF", &bytes), S_OK);
        EXPECT_EQ(bytes, pictureBits);
        EXPECT_EQ(ReadStream(again.Get(), L"ZRN", &bytes), S_OK);
        EXPECT_TRUE(bytes == native);
    }
}

TEST_F(Drawing, ASecondLoadReplacesTheContent)
{
    ComPtr<IStorage> first = NewMemoryStorage();
    ASSERT_EQ(WriteStream(first.Get(), L"EMF", {}), S_OK);
    ASSERT_EQ(WriteStream(first.Get(), L"ZRN", Bytes{1, 2, 3}), S_OK);
    ComPtr<IStorage> second = NewMemoryStorage();
    UniqueEnhMetaFile picture = MakePicture({0, 0, 1000, 1000});
    ASSERT_EQ(WriteStream(second.Get(), L"EMF", PictureBits(picture.get())), S_OK);
    ASSERT_EQ(WriteStream(second.Get(), L"ZRN", Bytes{9, 8}), S_OK);

    ASSERT_EQ(persist_->Load(first.Get()), S_OK);
    ASSERT_EQ(persist_->Load(second.Get()), S_OK);
    Bytes native;
    ASSERT_EQ(GetNativeData(data_.Get(), &native), S_OK);
    EXPECT_EQ(native, (Bytes{9, 8}));
    SIZEL extent = {};
    EXPECT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 1000);
    EXPECT_EQ(extent.cy, 1000);
}

TEST_F(Drawing, AFailedLoadKeepsTheDrawingAndTakesNoStorage)
{
    UniqueEnhMetaFile picture = MakePicture({0, 0, 3000, 2000});
    GiveContent(Bytes{4, 5, 6}, picture.get());

    ComPtr<IStorage> withoutPicture = NewMemoryStorage();
    ASSERT_EQ(WriteStream(withoutPicture.Get(), L"ZRN", Bytes{7}), S_OK);
    ULONG before = RefCount(withoutPicture.Get());
    EXPECT_EQ(persist_->Load(withoutPicture.Get()), STG_E_FILENOTFOUND);
    EXPECT_EQ(RefCount(withoutPicture.Get()), before);

    ComPtr<IStorage> withoutNative = NewMemoryStorage();
    ASSERT_EQ(WriteStream(withoutNative.Get(), L"EMF", PictureBits(MakePicture({0, 0, 10, 10}).get())), S_OK);
    EXPECT_EQ(persist_->Load(withoutNative.Get()), STG_E_FILENOTFOUND);

    ExpectTheGivenContent("the picture is still the old one");
    // Nothing is bound: the drawing cannot be saved until it is given a storage.
    EXPECT_EQ(persist_->Save(NewMemoryStorage().Get(), TRUE), E_UNEXPECTED);
}

TEST_F(Drawing, BytesThatAreNoPictureLoadAsADrawingWithoutPicture)
{
    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(WriteStream(storage.Get(), L"EMF", PatternBytes(64, 3)), S_OK);
    ASSERT_EQ(WriteStream(storage.Get(), L"ZRN", Bytes{1}), S_OK);
    ASSERT_EQ(persist_->Load(storage.Get()), S_OK);
    ComPtr<IStorage> saved = NewMemoryStorage();
    ASSERT_EQ(persist_->Save(saved.Get(), TRUE), S_OK);
    Bytes bytes;
    EXPECT_EQ(ReadStream(saved.Get(), L"EMF", &bytes), S_OK);
    EXPECT_TRUE(bytes.empty());
}

// A drawing's storage, saved to a file over memory whose directory then says
// that `stream` holds `claim` bytes; the file itself stays a few kilobytes.
// Both streams are big enough to live in sectors of their own, so that the
// claim leaves their chains as they are.
ComPtr<IStorage> StorageClaiming(const wchar_t* stream, DWORD claim)
{
    ComPtr<ILockBytes> bytes;
    EXPECT_EQ(::CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes), S_OK);
    {
        ComPtr<IStorage> storage;
        EXPECT_EQ(::StgCreateDocfileOnILockBytes(
                      bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage),
                  S_OK);
        EXPECT_EQ(WriteStream(storage.Get(), L"EMF", PatternBytes(6000, 2)), S_OK);
        EXPECT_EQ(WriteStream(storage.Get(), L"ZRN", PatternBytes(5000, 1)), S_OK);
        EXPECT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
    }
    HGLOBAL block = nullptr;
    EXPECT_EQ(::GetHGlobalFromILockBytes(bytes.Get(), &block), S_OK);
    GlobalLockGuard file(block);
    auto* at = static_cast<BYTE*>(file.get());
    const size_t nameBytes = (std::wcslen(stream) + 1) * sizeof(wchar_t);
    bool patched = false;
    // Directory entries are 128 bytes in 512-byte sectors; the size is at 0x78.
    for (size_t entry = 512; entry + 128 <= ::GlobalSize(block) && !patched; entry += 128) {
        if (std::memcmp(at + entry, stream, nameBytes) == 0 && at[entry + 0x40] == nameBytes) {
            std::memcpy(at + entry + 0x78, &claim, sizeof(claim));
            patched = true;
        }
    }
    EXPECT_TRUE(patched);
    ComPtr<IStorage> storage;
    EXPECT_EQ(::StgOpenStorageOnILockBytes(bytes.Get(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                           nullptr, 0, &storage),
              S_OK);
    return storage;
}

// The most address space this process has ever held, as the kernel counts it.
SIZE_T PeakVirtualSize()
{
    VM_COUNTERS counters = {};
    EXPECT_EQ(::NtQueryInformationProcess(::GetCurrentProcess(), ProcessVmCounters, &counters,
                                          sizeof(counters), nullptr),
              0);
    return counters.PeakVirtualSize;
}

TEST_F(Drawing, AStreamClaimingMoreThanItsFileHoldsFailsWithoutTakingTheClaimedMemory)
{
    const SIZE_T peakBefore = PeakVirtualSize();
    const DWORD claims[] = {0xFFFFFFF0u, 0x7FFFFFFFu, 0x40000000u, 0x2000000u};
    // A picture that arrives short is no picture, and the document still
    // loads; whether the platform's storage answers a read past the end of a
    // chain with an error or with fewer bytes differs from run to run.
    for (DWORD claim : claims) {
        const HRESULT hr = persist_->Load(StorageClaiming(L"EMF", claim).Get());
        EXPECT_TRUE(hr == STG_E_READFAULT || hr == S_OK) << std::hex << hr << " for " << claim;
        if (hr != S_OK)
            continue;
        Bytes native;
        EXPECT_EQ(GetNativeData(data_.Get(), &native), S_OK);
        EXPECT_TRUE(native == PatternBytes(5000, 1)) << claim;
        SIZEL extent = {};
        EXPECT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
        EXPECT_EQ(extent.cx, 0) << "no picture, " << claim;
    }
    // A native document that arrives short is a failed load that changes nothing.
    GiveContent(Bytes{4, 5, 6}, MakePicture({0, 0, 3000, 2000}).get());
    for (DWORD claim : claims)
        EXPECT_EQ(persist_->Load(StorageClaiming(L"ZRN", claim).Get()), STG_E_READFAULT) << claim;
    EXPECT_LT(PeakVirtualSize() - peakBefore, SIZE_T(256) << 20)
        << "memory was taken for what the files only claim";
    ExpectTheGivenContent();
}

TEST_F(Drawing, AStreamReportingMoreThanItWasAskedForFailsTheLoadAtOnceAndChangesNothing)
{
    using testing_support::LyingStorage;
    using testing_support::LyingStream;
    GiveContent(Bytes{4, 5, 6}, MakePicture({0, 0, 3000, 2000}).get());
    for (const wchar_t* liar : {L"EMF", L"ZRN"}) {
        ComPtr<IStorage> real = NewMemoryStorage();
        ASSERT_EQ(WriteStream(real.Get(), L"EMF", {}), S_OK);
        ASSERT_EQ(WriteStream(real.Get(), L"ZRN", Bytes{7, 8, 9}), S_OK);
        ComPtr<LyingStream> stream(new LyingStream(1000));
        ComPtr<IStorage> storage(new LyingStorage(real.Get(), liar, stream.Get()));
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_EQ(persist_->Load(storage.Get()), STG_E_READFAULT) << liar;
        EXPECT_LT(::GetTickCount64() - start, 1000u) << liar;
        EXPECT_EQ(stream->reads, 1u) << liar << ": the first count above the request ends the reading";
        EXPECT_LE(stream->largestRequest, 1000u) << liar << ": no read aims past the block";
    }
    ExpectTheGivenContent();
}

TEST_F(Drawing, AFailedSaveLeavesTheDrawingDirty)
{
    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(persist_->InitNew(storage.Get()), S_OK);
    GiveContent(PatternBytes(4096, 5), MakePicture({0, 0, 100, 100}).get());
    ASSERT_EQ(persist_->Save(storage.Get(), TRUE), S_OK);
    ASSERT_EQ(persist_->SaveCompleted(nullptr), S_OK);
    ASSERT_EQ(SetNativeData(data_.Get(), Bytes{1, 2}), S_OK);
    ASSERT_EQ(persist_->IsDirty(), S_OK);

    // A storage that can be read but not written to: the streams cannot be made.
    ComPtr<ILockBytes> lockBytes;
    ASSERT_EQ(::CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes), S_OK);
    {
        ComPtr<IStorage> writer;
        ASSERT_EQ(::StgCreateDocfileOnILockBytes(
                      lockBytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &writer),
                  S_OK);
    }
    ComPtr<IStorage> readOnly;
    ASSERT_EQ(::StgOpenStorageOnILockBytes(lockBytes.Get(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                           nullptr, 0, &readOnly),
              S_OK);
    EXPECT_TRUE(FAILED(persist_->Save(readOnly.Get(), FALSE)));
    EXPECT_EQ(persist_->IsDirty(), S_OK) << "the container must not be told the drawing is safe";
    EXPECT_EQ(persist_->Save(storage.Get(), TRUE), S_OK) << "still in the normal state";
    EXPECT_EQ(persist_->IsDirty(), S_FALSE);
}

TEST_F(Drawing, TheStoredClassIsReportedButNotTheUserClass)
{
    // {11111111-2222-3333-4444-555555555555}: some other program's class.
    const CLSID other = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(::WriteClassStg(storage.Get(), other), S_OK);
    ASSERT_EQ(WriteStream(storage.Get(), L"EMF", {}), S_OK);
    ASSERT_EQ(WriteStream(storage.Get(), L"ZRN", {}), S_OK);

    CLSID clsid = {};
    ASSERT_EQ(persist_->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_QuillmorphEmbeddedObject)) << "before any load";
    ASSERT_EQ(persist_->Load(storage.Get()), S_OK);
    ASSERT_EQ(persist_->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, other));
    ASSERT_EQ(ole_->GetUserClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_QuillmorphEmbeddedObject));
    EXPECT_EQ(ole_->GetUserClassID(nullptr), E_POINTER);
}

TEST_F(Drawing, SavingAConvertedDrawingClearsTheConvertBit)
{
    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(WriteStream(storage.Get(), L"EMF", {}), S_OK);
    ASSERT_EQ(WriteStream(storage.Get(), L"ZRN", Bytes{1, 2, 3}), S_OK);
    ASSERT_EQ(::WriteFmtUserTypeStg(storage.Get(), CF_TEXT, const_cast<LPOLESTR>(L"Older Drawing")), S_OK);
    ASSERT_EQ(::SetConvertStg(storage.Get(), TRUE), S_OK);
    ASSERT_EQ(::GetConvertStg(storage.Get()), S_OK);

    ASSERT_EQ(persist_->Load(storage.Get()), S_OK);
    ASSERT_EQ(persist_->Save(storage.Get(), TRUE), S_OK);
    EXPECT_EQ(::GetConvertStg(storage.Get()), S_FALSE);
    ExpectFlavourRecord(storage.Get());
}

TEST_F(Drawing, SetContentsCopiesThePictureAndTakesTheBlock)
{
    CEmbeddedObject* object =
        static_cast<CEmbeddedObject*>(static_cast<CComObject<CEmbeddedObject>*>(ole_.Get()));
    UniqueEnhMetaFile picture = MakePicture({0, 0, 5000, 2500});
    Bytes native = PatternBytes(300, 7);
    ASSERT_EQ(persist_->InitNew(NewMemoryStorage().Get()), S_OK);
    ASSERT_EQ(object->SetContents(picture.get(), MakeBlock(native)), S_OK);

    // The caller's picture is still the caller's.
    EXPECT_EQ(PictureBits(picture.get()).empty(), false);
    EXPECT_EQ(persist_->Save(NewMemoryStorage().Get(), TRUE), E_UNEXPECTED) << "back to a fresh drawing";
    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(persist_->InitNew(storage.Get()), S_OK);
    ASSERT_EQ(persist_->Save(storage.Get(), TRUE), S_OK);
    Bytes bytes;
    EXPECT_EQ(ReadStream(storage.Get(), L"ZRN", &bytes), S_OK);
    EXPECT_TRUE(bytes == native);
    EXPECT_EQ(ReadStream(storage.Get(), L"EMF", &bytes), S_OK);
    EXPECT_EQ(bytes, PictureBits(picture.get()));
}

// Finds the message box by its caption, keeps its texts and dismisses it.
class MessageBoxWatcher
{
public:
    MessageBoxWatcher()
        : thread_([this] {
              while (!stop_) {
                  HWND box = ::FindWindowA(nullptr, "Quillmorph OLE");
                  if (box && ::IsWindowVisible(box)) {
                      ::EnumChildWindows(box, &CollectText, reinterpret_cast<LPARAM>(&texts_));
                      ++boxes_;
                      ::PostMessageA(box, WM_COMMAND, IDOK, 0);
                      while (::IsWindow(box) && !stop_)
                          ::Sleep(20);
                  }
                  ::Sleep(20);
              }
          })
    {
    }
    ~MessageBoxWatcher()
    {
        stop_ = true;
        thread_.join();
    }
    int boxes() const { return boxes_; }
    bool sawText(const std::string& text) const
    {
        for (const std::string& t : texts_)
            if (t == text)
                return true;
        return false;
    }

private:
    static BOOL CALLBACK CollectText(HWND child, LPARAM param)
    {
        char text[512] = {};
        ::GetWindowTextA(child, text, sizeof(text));
        reinterpret_cast<std::vector<std::string>*>(param)->push_back(text);
        return TRUE;
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> boxes_{0};
    std::vector<std::string> texts_;
    std::thread thread_;
};

TEST_F(Drawing, LosingTheStorageForGoodIsReportedOncePerDrawing)
{
    MessageBoxWatcher watcher;
    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(persist_->InitNew(storage.Get()), S_OK);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(persist_->HandsOffStorage(), S_OK);
        EXPECT_EQ(persist_->SaveCompleted(nullptr), E_INVALIDARG);
        EXPECT_EQ(persist_->Save(storage.Get(), TRUE), E_UNEXPECTED) << "still hands-off";
    }
    testing_support::PumpMessagesFor(300);
    EXPECT_EQ(watcher.boxes(), 1);
    EXPECT_TRUE(watcher.sawText("This object has become corrupted. You will have to delete it and paste the "
                                "figure from Quillmorph again."));

    // A corrupted drawing is not opened by its primary verb; showing it still
    // hands it to the editor.
    RecordingAutomation automation;
    StandInClassObject classObject(&automation);
    ASSERT_EQ(classObject.Register(), S_OK);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, nullptr, 0, nullptr, nullptr),
              OLEOBJ_S_CANNOT_DOVERB_NOW);
    EXPECT_EQ(automation.activations, 0);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_SHOW, nullptr, nullptr, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(automation.activations, 1);
    automation.ReleaseKept();

    // Loading it again makes it whole: the message may come once more.
    ComPtr<IStorage> fresh = NewMemoryStorage();
    ASSERT_EQ(WriteStream(fresh.Get(), L"EMF", {}), S_OK);
    ASSERT_EQ(WriteStream(fresh.Get(), L"ZRN", {}), S_OK);
    ASSERT_EQ(persist_->Load(fresh.Get()), S_OK);
    ASSERT_EQ(persist_->HandsOffStorage(), S_OK);
    EXPECT_EQ(persist_->SaveCompleted(nullptr), E_INVALIDARG);
    testing_support::PumpMessagesFor(300);
    EXPECT_EQ(watcher.boxes(), 2);
}

} // namespace
