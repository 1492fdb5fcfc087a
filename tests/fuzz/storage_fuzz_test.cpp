// Drawings as containers hand them over: compound files over memory, made by the
// drawing itself and by TripForward, then mutated (bytes, truncation, streams
// removed, emptied, claimed huge or replaced by storages, garbage picture bits,
// a foreign class, the convert bit) and fed to Load, GetData, GetDataHere, Save
// and SetData. Only HRESULTs may come back; memory stays bounded by the input's
// real size; what the drawing accepted survives a save and a reload.

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <wrl/client.h>

#include <cstring>

#include "bridge/dispinterface.h"
#include "embedded/clipboard_formats.h"
#include "embedded/embedded_object.h"
#include "embedded/metafile_picture.h"
#include "support/test_support.h"
#include "tests/fuzz/fuzz_support.h"

using fuzz::Bytes;
using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kOpenMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kCreateMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

ComPtr<IOleObject> NewDrawing()
{
    ComPtr<IOleObject> drawing;
    CreateObjectInstance<CEmbeddedObject>(nullptr, IID_PPV_ARGS(&drawing));
    return drawing;
}

UniqueHGlobal BlockOf(const Bytes& bytes)
{
    UniqueHGlobal block(::GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    if (block && !bytes.empty()) {
        GlobalLockGuard locked(block.get());
        std::memcpy(locked.get(), bytes.data(), bytes.size());
    }
    return block;
}

// A storage over a memory block holding bytes; null when the platform refuses them.
ComPtr<IStorage> OpenStorageOn(const Bytes& bytes, ComPtr<ILockBytes>* lockBytes)
{
    UniqueHGlobal block = BlockOf(bytes);
    if (!block || FAILED(::CreateILockBytesOnHGlobal(block.get(), TRUE, lockBytes->ReleaseAndGetAddressOf())))
        return nullptr;
    block.release();
    ComPtr<IStorage> storage;
    if (FAILED(::StgOpenStorageOnILockBytes(lockBytes->Get(), nullptr, kOpenMode, nullptr, 0, &storage)))
        return nullptr;
    return storage;
}

ComPtr<IStorage> NewStorage(ComPtr<ILockBytes>* lockBytes)
{
    ComPtr<IStorage> storage;
    if (SUCCEEDED(::CreateILockBytesOnHGlobal(nullptr, TRUE, lockBytes->ReleaseAndGetAddressOf())))
        ::StgCreateDocfileOnILockBytes(lockBytes->Get(), kCreateMode, 0, &storage);
    return storage;
}

Bytes BytesOf(ILockBytes* lockBytes)
{
    STATSTG stat = {};
    if (FAILED(lockBytes->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.HighPart)
        return {};
    Bytes bytes(stat.cbSize.LowPart);
    ULONG read = 0;
    ULARGE_INTEGER at = {};
    if (!bytes.empty() && FAILED(lockBytes->ReadAt(at, bytes.data(), stat.cbSize.LowPart, &read)))
        return {};
    bytes.resize(read);
    return bytes;
}

using testing_support::PictureBits;

UniqueEnhMetaFile MakePicture(fuzz::Random& random)
{
    RECT frame = {0, 0, 1000 + static_cast<LONG>(random.Below(20000)),
                  1000 + static_cast<LONG>(random.Below(20000))};
    HDC recorder = ::CreateEnhMetaFileA(nullptr, nullptr, &frame, "fuzz\0picture\0");
    for (uint32_t shape = random.Below(6); shape > 0; --shape) {
        const int x = static_cast<int>(random.Below(400));
        const int y = static_cast<int>(random.Below(400));
        if (random.OneIn(2))
            ::Rectangle(recorder, x, y, x + 50, y + 30);
        else
            ::Ellipse(recorder, x, y, x + 40, y + 60);
    }
    if (random.OneIn(2))
        ::TextOutA(recorder, 5, 5, "Quillmorph", 10);
    return UniqueEnhMetaFile(::CloseEnhMetaFile(recorder));
}

HRESULT SetNative(IDataObject* data, const Bytes& bytes)
{
    FORMATETC format = {RegisterNativeDataFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = BlockOf(bytes).release();
    HRESULT hr = data->SetData(&format, &medium, TRUE);
    if (hr != S_OK)
        ::ReleaseStgMedium(&medium);
    return hr;
}

HRESULT SetPicture(IDataObject* data, HENHMETAFILE picture)
{
    FORMATETC format = {CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};
    STGMEDIUM medium = {};
    medium.tymed = TYMED_ENHMF;
    medium.hEnhMetaFile = picture;
    return data->SetData(&format, &medium, FALSE);
}

HRESULT GetNative(IDataObject* data, Bytes* bytes)
{
    FORMATETC format = {RegisterNativeDataFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StgMediumGuard medium;
    HRESULT hr = data->GetData(&format, medium.put());
    if (FAILED(hr))
        return hr;
    const SIZE_T size = ::GlobalSize(medium->hGlobal);
    GlobalLockGuard locked(medium->hGlobal);
    const BYTE* p = static_cast<const BYTE*>(locked.get());
    bytes->assign(p, p + (p ? size : 0));
    return hr;
}

// A drawing as the drawing itself saves it into a container's storage.
Bytes SavedByTheDrawing(fuzz::Random& random)
{
    ComPtr<IOleObject> drawing = NewDrawing();
    ComPtr<IDataObject> data;
    ComPtr<IPersistStorage> persist;
    drawing.As(&data);
    drawing.As(&persist);
    SetNative(data.Get(), random.Fill(random.Size(6000)));
    if (!random.OneIn(4)) {
        UniqueEnhMetaFile picture = MakePicture(random);
        SetPicture(data.Get(), picture.get());
    }
    ComPtr<ILockBytes> lockBytes;
    ComPtr<IStorage> storage = NewStorage(&lockBytes);
    persist->InitNew(storage.Get());
    ::WriteClassStg(storage.Get(), CLSID_QuillmorphEmbeddedObject);
    persist->Save(storage.Get(), TRUE);
    persist->SaveCompleted(nullptr);
    storage->Commit(STGC_DEFAULT);
    storage.Reset();
    return BytesOf(lockBytes.Get());
}

// A drawing as the drawing application makes it for the clipboard.
Bytes MadeByTripForward(fuzz::Random& random)
{
    ComPtr<IQuillmorphOLE> bridge;
    CreateObjectInstance<CDispinterface>(nullptr, IID_PPV_ARGS(&bridge));
    Bytes native = random.Fill(random.Size(5000));
    UniqueEnhMetaFile picture = MakePicture(random);
    Bytes bits = PictureBits(picture.get());
    SafeArrayOwner a(::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(native.size())));
    SafeArrayOwner b(::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bits.size())));
    if (!native.empty())
        std::memcpy(a.get()->pvData, native.data(), native.size());
    std::memcpy(b.get()->pvData, bits.data(), bits.size());
    VARIANT va = {}, vb = {};
    va.vt = VT_ARRAY | VT_UI1;
    va.parray = a.get();
    vb.vt = VT_ARRAY | VT_UI1;
    vb.parray = b.get();
    VariantGuard result;
    if (FAILED(bridge->TripForward(va, vb, result.get())) || result->vt != (VT_ARRAY | VT_UI1))
        return {};
    SAFEARRAY* array = result->parray;
    const BYTE* p = static_cast<const BYTE*>(array->pvData);
    return Bytes(p, p + array->rgsabound[0].cElements);
}

// The directory entry of a stream, found by its name: where its claimed size is.
size_t FindDirectoryEntry(const Bytes& file, const wchar_t* name)
{
    const size_t nameBytes = (std::wcslen(name) + 1) * sizeof(wchar_t);
    for (size_t at = 512; at + 128 <= file.size(); at += 128) {
        if (std::memcmp(&file[at], name, nameBytes) == 0 && file[at + 0x40] == nameBytes &&
            file[at + 0x42] == 2)
            return at;
    }
    return 0;
}

// A structural change made through the platform's own storage calls.
void MutateStructure(fuzz::Random& random, Bytes* file)
{
    ComPtr<ILockBytes> lockBytes;
    ComPtr<IStorage> storage = OpenStorageOn(*file, &lockBytes);
    if (!storage)
        return;
    const wchar_t* stream = random.OneIn(2) ? L"EMF" : L"ZRN";
    switch (random.Below(7)) {
    case 0: // missing
        storage->DestroyElement(stream);
        break;
    case 1: { // emptied
        ComPtr<IStream> s;
        if (SUCCEEDED(storage->OpenStream(stream, nullptr, kOpenMode, 0, &s))) {
            ULARGE_INTEGER zero = {};
            s->SetSize(zero);
        }
        break;
    }
    case 2: { // a storage of the same name
        storage->DestroyElement(stream);
        ComPtr<IStorage> inner;
        storage->CreateStorage(stream, kCreateMode, 0, 0, &inner);
        break;
    }
    case 3: { // garbage picture bits, or a metafile with a few bytes changed
        ComPtr<IStream> s;
        if (SUCCEEDED(storage->CreateStream(L"EMF", kCreateMode, 0, 0, &s))) {
            UniqueEnhMetaFile picture = MakePicture(random);
            Bytes bits = random.OneIn(3) ? random.Fill(random.Size(3000)) : PictureBits(picture.get());
            if (!random.OneIn(5))
                fuzz::MutateBytes(random, &bits);
            ULONG written = 0;
            if (!bits.empty())
                s->Write(bits.data(), static_cast<ULONG>(bits.size()), &written);
        }
        break;
    }
    case 4: { // a foreign class
        CLSID foreign = {};
        Bytes noise = random.Fill(sizeof(foreign));
        std::memcpy(&foreign, noise.data(), sizeof(foreign));
        ::WriteClassStg(storage.Get(), random.OneIn(2) ? CLSID_NULL : foreign);
        break;
    }
    case 5: // the convert bit
        ::SetConvertStg(storage.Get(), TRUE);
        break;
    default: { // a much larger native document
        ComPtr<IStream> s;
        if (SUCCEEDED(storage->CreateStream(L"ZRN", kCreateMode, 0, 0, &s))) {
            Bytes big = random.Fill(64 * 1024 + random.Below(256 * 1024));
            ULONG written = 0;
            s->Write(big.data(), static_cast<ULONG>(big.size()), &written);
        }
        break;
    }
    }
    storage->Commit(STGC_DEFAULT);
    storage.Reset();
    *file = BytesOf(lockBytes.Get());
}

// A stream whose directory entry claims far more bytes than the file holds.
void ClaimHugeSize(fuzz::Random& random, Bytes* file)
{
    static const DWORD kClaims[] = {0xFFFFFFFF, 0xFFFFFFF0, 0x80000000, 0x7FFFFFFF, 0x40000000, 0x10000000};
    const size_t entry = FindDirectoryEntry(*file, random.OneIn(2) ? L"EMF" : L"ZRN");
    if (!entry)
        return;
    DWORD claim = kClaims[random.Below(sizeof(kClaims) / sizeof(kClaims[0]))];
    if (random.OneIn(3))
        claim = 0x1000000u + static_cast<DWORD>(random.Next() & 0x7FFFFFFF);
    std::memcpy(&(*file)[entry + 0x78], &claim, sizeof(claim));
}

// The compound-file code of this platform asserts (ending the process) or loops
// for good on some broken chains and directory trees, whoever opens the file.
// Such an input says nothing about the drawing, so it is checked here first:
// 512-byte sectors, every chain (directory, small-block table, the small-block
// container, each stream, walked as far as its claimed size needs) inside the
// file and free of cycles, the directory tree free of cycles. A stream may still
// claim more bytes than its chain holds: that is the huge-size case.
DWORD Word32(const Bytes& file, size_t at)
{
    DWORD value = 0;
    std::memcpy(&value, &file[at], sizeof(value));
    return value;
}

bool PlatformCanWalk(const Bytes& file)
{
    static const BYTE kSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    const DWORD kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kNoStream = 0xFFFFFFFF;
    if (file.size() < 1024 || std::memcmp(file.data(), kSignature, 8) != 0)
        return false;
    if (file[0x1E] != 9 || file[0x1F] != 0 || file[0x20] != 6 || file[0x21] != 0 ||
        Word32(file, 0x38) != 4096)
        return false;
    const DWORD sectors = static_cast<DWORD>((file.size() - 512) / 512);
    const DWORD fatSectors = Word32(file, 0x2C);
    if (fatSectors == 0 || fatSectors > 109 || Word32(file, 0x48) != 0 ||
        (Word32(file, 0x44) != kEnd && Word32(file, 0x44) != kFree))
        return false;
    std::vector<DWORD> fat;
    for (DWORD i = 0; i < fatSectors; ++i) {
        const DWORD sector = Word32(file, 0x4C + 4 * i);
        if (sector >= sectors)
            return false;
        for (DWORD j = 0; j < 128; ++j)
            fat.push_back(Word32(file, 512 + 512 * sector + 4 * j));
    }
    // A chain: its sectors, stopping at its end or after limit of them.
    auto chain = [&](DWORD first, const std::vector<DWORD>& table, DWORD count, DWORD limit,
                     std::vector<DWORD>* out) {
        std::vector<bool> seen(count);
        for (DWORD sector = first; sector != kEnd && out->size() < limit; sector = table[sector]) {
            if (sector >= count || sector >= table.size() || seen[sector])
                return false;
            seen[sector] = true;
            out->push_back(sector);
        }
        return true;
    };
    std::vector<DWORD> directory;
    if (!chain(Word32(file, 0x30), fat, sectors, 0xFFFFFFFF, &directory) || directory.empty())
        return false;
    std::vector<DWORD> miniFatSectors;
    if (Word32(file, 0x3C) != kEnd && Word32(file, 0x3C) != kFree &&
        !chain(Word32(file, 0x3C), fat, sectors, 0xFFFFFFFF, &miniFatSectors))
        return false;
    std::vector<DWORD> miniFat;
    for (DWORD sector : miniFatSectors)
        for (DWORD j = 0; j < 128; ++j)
            miniFat.push_back(Word32(file, 512 + 512 * sector + 4 * j));
    const DWORD entries = static_cast<DWORD>(directory.size() * 4);
    auto entryAt = [&](DWORD index) {
        return 512 + 512 * static_cast<size_t>(directory[index / 4]) + 128 * (index % 4);
    };
    std::vector<DWORD> rootChain;
    const size_t root = entryAt(0);
    if (file[root + 0x42] != 5 || !chain(Word32(file, root + 0x74), fat, sectors, 0xFFFFFFFF, &rootChain))
        return false;
    const DWORD miniSectors = static_cast<DWORD>(rootChain.size() * 8);
    // Every entry reachable from the root, each once.
    std::vector<bool> visited(entries);
    std::vector<DWORD> pending = {0};
    while (!pending.empty()) {
        const DWORD index = pending.back();
        pending.pop_back();
        if (index == kNoStream)
            continue;
        if (index >= entries || visited[index])
            return false;
        visited[index] = true;
        const size_t at = entryAt(index);
        const BYTE type = file[at + 0x42];
        if (type != 1 && type != 2 && type != 5)
            return false;
        if ((Word32(file, at + 0x40) & 0xFFFF) > 64)
            return false;
        for (size_t link : {0x44, 0x48, 0x4C})
            pending.push_back(Word32(file, at + link));
        if (type != 2)
            continue;
        const DWORD size = Word32(file, at + 0x78);
        const DWORD start = Word32(file, at + 0x74);
        std::vector<DWORD> sectorsOfStream;
        if (size < 4096) {
            if (size && !chain(start, miniFat, miniSectors, (size + 63) / 64, &sectorsOfStream))
                return false;
        } else if (!chain(start, fat, sectors, (size - 1) / 512 + 1, &sectorsOfStream)) {
            return false;
        }
    }
    return true;
}

// The picture bits an input's "EMF" stream holds (empty when there is none).
Bytes PictureStreamOf(const Bytes& input)
{
    ComPtr<ILockBytes> lockBytes;
    ComPtr<IStorage> storage = OpenStorageOn(input, &lockBytes);
    ComPtr<IStream> stream;
    if (!storage || FAILED(storage->OpenStream(L"EMF", nullptr, kOpenMode, 0, &stream)))
        return {};
    Bytes bits(1024 * 1024);
    ULONG read = 0;
    if (FAILED(stream->Read(bits.data(), static_cast<ULONG>(bits.size()), &read)))
        return {};
    bits.resize(read);
    return bits;
}

class StorageFuzz
{
public:
    StorageFuzz() : findings_("storage") {}

    void Run(fuzz::Random& random, const fuzz::Budget& budget)
    {
        fuzz::Trace(0, "seeds");
        std::vector<Bytes> seeds;
        for (int i = 0; i < 6; ++i)
            seeds.push_back(i % 2 ? MadeByTripForward(random) : SavedByTheDrawing(random));
        for (const Bytes& seed : seeds) {
            ASSERT_FALSE(seed.empty()) << "a valid drawing to start from";
            goodPictures_.push_back(PictureStreamOf(seed));
        }

        // The first rounds warm the platform's caches; the bound is taken after them.
        // The peak address space is taken before the first input: a peak
        // reached early would hide every later one.
        fuzz::Memory baseline = fuzz::ProcessMemory();
        const SIZE_T startPeakVirtual = baseline.peakVirtual;
        uint32_t iteration = 0;
        for (; budget.More(iteration); ++iteration) {
            fuzz::Trace(iteration, "mutate");
            Bytes input = seeds[random.Below(static_cast<uint32_t>(seeds.size()))];
            const uint32_t kind = random.Below(10);
            if (kind < 4)
                MutateStructure(random, &input);
            if (kind >= 2 && kind < 5)
                ClaimHugeSize(random, &input);
            if (kind >= 4)
                fuzz::MutateBytes(random, &input, true);
            if (kind == 9)
                input.resize(random.Below(static_cast<uint32_t>(input.size()) + 1));
            fuzz::Trace(iteration, "feed");
            Feed(random, iteration, input);

            if (iteration == 30) {
                baseline = fuzz::ProcessMemory();
                baseline.peakVirtual = startPeakVirtual;
            }
            if (iteration == 30 || (iteration > 30 && iteration % 50 == 0)) {
                // Nothing an input can claim makes the process take more than a
                // small multiple of the largest real input.
                const fuzz::Memory now = fuzz::ProcessMemory();
                const SIZE_T bound = 96u * 1024 * 1024;
                const std::string context = " on an input of " + std::to_string(input.size()) + " bytes";
                fuzz::ExpectBounded(findings_, iteration, now, &baseline, &fuzz::Memory::peakCommit,
                                    "peak commit", bound, context);
                fuzz::ExpectBounded(findings_, iteration, now, &baseline, &fuzz::Memory::peakVirtual,
                                    "peak address space", bound, context);
                fuzz::ExpectBounded(findings_, iteration, now, &baseline, &fuzz::Memory::privateBytes,
                                    "private bytes", bound, context);
            }
        }
        findings_.Report(iteration, budget);
        std::printf("fuzz storage: %u inputs left out (chains the platform's own storage cannot walk), "
                    "%u loaded pictures not converted (record contents the platform's own player "
                    "cannot take)\n",
                    platformStuck_, picturesNotPlayed_);
        EXPECT_EQ(findings_.failures(), 0u);
    }

private:
    // The platform's metafile player trusts what records say about their own
    // contents (offsets and counts inside a record) and reads where they point.
    // A picture is converted when its bits are one the drawing or TripForward
    // wrote, or when they are no well-formed metafile at all (the drawing then
    // has no picture); a well-formed one with changed contents is not played.
    bool PlatformCanPlayPicture(const Bytes& input) const
    {
        Bytes bits = PictureStreamOf(input);
        if (bits.empty() || !IsWellFormedEnhMetaFile(bits.data(), bits.size()))
            return true;
        for (const Bytes& good : goodPictures_)
            if (good == bits)
                return true;
        return false;
    }

    void Expect(bool condition, uint32_t iteration, const std::string& what)
    {
        if (!condition)
            findings_.Fail(iteration, what);
    }

    void Feed(fuzz::Random& random, uint32_t iteration, const Bytes& input)
    {
        if (!PlatformCanWalk(input)) {
            ++platformStuck_;
            return;
        }
        ComPtr<ILockBytes> lockBytes;
        ComPtr<IStorage> storage = OpenStorageOn(input, &lockBytes);
        if (!storage)
            return; // the platform itself refuses the file
        fuzz::KeepLastInput(input);
        fuzz::Trace(iteration, "load");

        ComPtr<IOleObject> drawing = NewDrawing();
        ComPtr<IDataObject> data;
        ComPtr<IPersistStorage> persist;
        drawing.As(&data);
        drawing.As(&persist);

        // Half the time the drawing already holds a document: a failed load must
        // leave it as it was.
        Bytes before;
        if (random.OneIn(2)) {
            before = random.Fill(1 + random.Below(300));
            SetNative(data.Get(), before);
        }
        const HRESULT loaded = persist->Load(storage.Get());
        Expect(loaded == S_OK || FAILED(loaded), iteration, "Load gave " + fuzz::Hex(loaded));

        Bytes native;
        HRESULT hr = GetNative(data.Get(), &native);
        Expect(hr == S_OK, iteration, "GetData of the native document gave " + fuzz::Hex(hr));
        if (FAILED(loaded))
            Expect(native == before, iteration,
                   "a failed Load (" + fuzz::Hex(loaded) + ") changed the document");
        else
            Expect(native.size() <= input.size(), iteration, "a document larger than its file");

        fuzz::Trace(iteration, "picture");
        if (FAILED(loaded) || PlatformCanPlayPicture(input)) {
            FORMATETC pictFormat = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
            StgMediumGuard pict;
            hr = data->GetData(&pictFormat, pict.put());
            Expect(hr == S_OK || hr == E_UNEXPECTED, iteration,
                   "GetData of the picture gave " + fuzz::Hex(hr));
        } else {
            ++picturesNotPlayed_;
        }

        FORMATETC hereFormat = {RegisterEmbedSourceFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_ISTORAGE};
        ComPtr<ILockBytes> hereBytes;
        ComPtr<IStorage> here = NewStorage(&hereBytes);
        STGMEDIUM hereMedium = {};
        hereMedium.tymed = TYMED_ISTORAGE;
        hereMedium.pstg = here.Get();
        hr = data->GetDataHere(&hereFormat, &hereMedium);
        Expect(hr == S_OK, iteration, "GetDataHere gave " + fuzz::Hex(hr));

        if (SUCCEEDED(loaded)) {
            // Saved into the storage it came from, as a container does.
            hr = persist->Save(storage.Get(), TRUE);
            Expect(hr == S_OK || FAILED(hr), iteration, "Save gave " + fuzz::Hex(hr));
            if (SUCCEEDED(hr))
                persist->SaveCompleted(nullptr);
        }

        fuzz::Trace(iteration, "media");
        FeedMedia(random, iteration, data.Get());

        fuzz::Trace(iteration, "set");
        // New content through SetData must survive a save and a reload whole.
        Bytes edited = random.Fill(random.Size(4000));
        hr = SetNative(data.Get(), edited);
        Expect(hr == S_OK, iteration, "SetData of the native document gave " + fuzz::Hex(hr));
        UniqueEnhMetaFile picture = MakePicture(random);
        hr = SetPicture(data.Get(), random.OneIn(4) ? nullptr : picture.get());
        Expect(hr == S_OK, iteration, "SetData of the picture gave " + fuzz::Hex(hr));

        ComPtr<ILockBytes> savedBytes;
        ComPtr<IStorage> saved = NewStorage(&savedBytes);
        if (FAILED(loaded))
            persist->InitNew(saved.Get());
        hr = persist->Save(saved.Get(), FALSE);
        Expect(hr == S_OK, iteration, "Save into a fresh storage gave " + fuzz::Hex(hr));
        persist->SaveCompleted(nullptr);

        ComPtr<IOleObject> reloaded = NewDrawing();
        ComPtr<IPersistStorage> reloadedPersist;
        ComPtr<IDataObject> reloadedData;
        reloaded.As(&reloadedPersist);
        reloaded.As(&reloadedData);
        hr = reloadedPersist->Load(saved.Get());
        Expect(hr == S_OK, iteration, "reloading the saved drawing gave " + fuzz::Hex(hr));
        Bytes back;
        GetNative(reloadedData.Get(), &back);
        Expect(back == edited, iteration, "the edited document did not survive a save and a reload");
    }

    // Every medium type, holding what a hostile caller may put in it, against
    // requests that match it and requests that do not. GetDataHere writes only
    // into a storage medium asked for as one; SetData takes only the two media
    // it accepts, a picture only when its records walk to their end. Everything
    // else is refused, and the caller's medium is left as it was.
    void FeedMedia(fuzz::Random& random, uint32_t iteration, IDataObject* data)
    {
        static const DWORD kMedia[] = {TYMED_NULL,     TYMED_HGLOBAL, TYMED_FILE,   TYMED_ISTREAM,
                                       TYMED_ISTORAGE, TYMED_GDI,     TYMED_MFPICT, TYMED_ENHMF};
        const CLIPFORMAT formats[] = {RegisterEmbedSourceFormat(),
                                      RegisterEmbeddedObjectFormat(),
                                      RegisterNativeDataFormat(),
                                      CF_ENHMETAFILE,
                                      CF_METAFILEPICT,
                                      CF_TEXT};
        UniqueHGlobal bytes = BlockOf(random.Fill(random.Size(512)));
        ComPtr<IStream> stream;
        ::CreateStreamOnHGlobal(nullptr, TRUE, &stream);
        ComPtr<ILockBytes> storageBytes;
        ComPtr<IStorage> storage = NewStorage(&storageBytes);
        Bytes pictureBits = PictureBits(MakePicture(random).get());
        if (random.OneIn(2))
            fuzz::MutateBytes(random, &pictureBits, true);
        UniqueEnhMetaFile picture(
            ::SetEnhMetaFileBits(static_cast<UINT>(pictureBits.size()), pictureBits.data()));
        // No metafile at all is a drawing without a picture.
        const bool pictureTaken = !picture || IsWellFormedEnhMetaFile(pictureBits.data(), pictureBits.size());
        wchar_t fileName[] = L"C:\\no such folder\\planted.bin";

        const DWORD medium = kMedia[random.Below(sizeof(kMedia) / sizeof(kMedia[0]))];
        STGMEDIUM given = {};
        given.tymed = medium;
        switch (medium) {
        case TYMED_HGLOBAL:
        case TYMED_MFPICT:
            given.hGlobal = bytes.get();
            break;
        case TYMED_FILE:
            given.lpszFileName = fileName;
            break;
        case TYMED_ISTREAM:
            given.pstm = stream.Get();
            break;
        case TYMED_ISTORAGE:
            given.pstg = random.OneIn(4) ? nullptr : storage.Get();
            break;
        case TYMED_GDI:
            given.hBitmap = reinterpret_cast<HBITMAP>(::GetStockObject(BLACK_BRUSH));
            break;
        case TYMED_ENHMF:
            given.hEnhMetaFile = picture.get();
            break;
        }
        // Matching requests half the time, anything the rest.
        const CLIPFORMAT format = formats[random.Below(sizeof(formats) / sizeof(formats[0]))];
        FORMATETC request = {format, nullptr, random.OneIn(4) ? DVASPECT_ICON : DVASPECT_CONTENT, -1,
                             random.OneIn(2) ? medium : static_cast<DWORD>(random.Below(128))};
        const bool storageFormat =
            format == RegisterEmbedSourceFormat() || format == RegisterEmbeddedObjectFormat();

        STGMEDIUM here = given;
        HRESULT hr = data->GetDataHere(&request, &here);
        const bool writable =
            storageFormat && (request.tymed & TYMED_ISTORAGE) && medium == TYMED_ISTORAGE && given.pstg;
        Expect(writable ? hr == S_OK : hr == DV_E_FORMATETC, iteration,
               "GetDataHere into a medium of type " + std::to_string(medium) + " gave " + fuzz::Hex(hr));
        Expect(here.tymed == given.tymed && here.hGlobal == given.hGlobal && here.pUnkForRelease == nullptr,
               iteration, "GetDataHere changed the caller's medium");

        STGMEDIUM set = given;
        const bool content = request.dwAspect == DVASPECT_CONTENT;
        const bool taken = content && ((format == RegisterNativeDataFormat() && medium == TYMED_HGLOBAL) ||
                                       (format == CF_ENHMETAFILE && medium == TYMED_ENHMF && pictureTaken));
        hr = data->SetData(&request, &set, FALSE);
        Expect(hr == (taken ? S_OK : DV_E_FORMATETC), iteration,
               "SetData of a medium of type " + std::to_string(medium) + " gave " + fuzz::Hex(hr));
        Expect(set.tymed == given.tymed && set.hGlobal == given.hGlobal, iteration,
               "SetData changed the caller's medium");
    }

    fuzz::Findings findings_;
    uint32_t platformStuck_ = 0;
    uint32_t picturesNotPlayed_ = 0;
    std::vector<Bytes> goodPictures_;
};

TEST(StorageFuzz, MutatedDrawingsGiveOnlyResultsAndKeepMemoryBounded)
{
    testing_support::Apartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.status()));
    fuzz::Random random(fuzz::Seed(0x51A7E5EEDull));
    fuzz::Budget budget(1200);
    StorageFuzz().Run(random, budget);
}

} // namespace

namespace {

// A picture whose second record claims no bytes at all: the platform's player
// would step on the spot for good. The drawing takes it as no picture.
TEST(StorageFuzzRegressions, APictureWithAnEmptyRecordLoadsAsNoPicture)
{
    testing_support::Apartment apartment;
    fuzz::Random random(11);
    UniqueEnhMetaFile picture = MakePicture(random);
    Bytes bits = PictureBits(picture.get());
    ENHMETAHEADER header = {};
    std::memcpy(&header, bits.data(), sizeof(header));
    ASSERT_LT(header.nSize + 8, bits.size());
    std::memset(&bits[header.nSize + 4], 0, 4); // the record's size field
    EXPECT_FALSE(IsWellFormedEnhMetaFile(bits.data(), bits.size()));

    ComPtr<ILockBytes> lockBytes;
    ComPtr<IStorage> storage = NewStorage(&lockBytes);
    for (const wchar_t* name : {L"EMF", L"ZRN"}) {
        ComPtr<IStream> stream;
        ASSERT_EQ(storage->CreateStream(name, kCreateMode, 0, 0, &stream), S_OK);
        ULONG written = 0;
        if (name[0] == L'E') {
            ASSERT_EQ(stream->Write(bits.data(), static_cast<ULONG>(bits.size()), &written), S_OK);
        }
    }
    ComPtr<IOleObject> drawing = NewDrawing();
    ComPtr<IPersistStorage> persist;
    ComPtr<IDataObject> data;
    ASSERT_EQ(drawing.As(&persist), S_OK);
    ASSERT_EQ(drawing.As(&data), S_OK);
    ASSERT_EQ(persist->Load(storage.Get()), S_OK);
    SIZEL extent = {1, 1};
    EXPECT_EQ(drawing->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 0);
    EXPECT_EQ(extent.cy, 0);
    FORMATETC format = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    StgMediumGuard medium;
    EXPECT_EQ(data->GetData(&format, medium.put()), S_OK);
}

TEST(StorageFuzzRegressions, WellFormedPicturesPassTheRecordCheck)
{
    fuzz::Random random(13);
    for (int i = 0; i < 20; ++i) {
        UniqueEnhMetaFile picture = MakePicture(random);
        Bytes bits = PictureBits(picture.get());
        EXPECT_TRUE(IsWellFormedEnhMetaFile(bits.data(), bits.size()));
        EXPECT_FALSE(IsWellFormedEnhMetaFile(bits.data(), bits.size() - 4)) << "cut short";
        EXPECT_FALSE(IsWellFormedEnhMetaFile(bits.data(), 40)) << "a header cut short";
    }
}

} // namespace
