// The drawing's own storage work, in this process: Save and Load of a real
// CEmbeddedObject into and out of a compound file on disk, and TripForward of
// the real automation class, each against a baseline that does only the
// platform's part of the same work with the storage functions. Runs alternate
// between the two sides; each figure is a median.

#include <wrl/client.h>

#include <cmath>
#include <memory>
#include <new>

#include "bench/bench_sections.h"
#include "bridge/dispinterface.h"
#include "embedded/embedded_object.h"

using Microsoft::WRL::ComPtr;

namespace bench {
namespace {

constexpr DWORD kCreateMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kOpenMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kReplaceMode = STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE;
constexpr double kMegabyte = 1024.0 * 1024.0;

struct Failure
{
    const char* step;
    HRESULT hr;
};

void Check(HRESULT hr, const char* step)
{
    if (FAILED(hr))
        throw Failure{step, hr};
}

std::wstring ScratchFile(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

ComPtr<IStorage> CreateDocument(const std::wstring& path)
{
    ComPtr<IStorage> storage;
    Check(::StgCreateDocfile(path.c_str(), kCreateMode, 0, &storage), "StgCreateDocfile");
    return storage;
}

ComPtr<IStorage> OpenDocument(const std::wstring& path)
{
    ComPtr<IStorage> storage;
    Check(::StgOpenStorage(path.c_str(), nullptr, kOpenMode, nullptr, 0, &storage), "StgOpenStorage");
    return storage;
}

void WriteStream(IStorage* storage, const wchar_t* name, const BYTE* bytes, ULONG size)
{
    ComPtr<IStream> stream;
    Check(storage->CreateStream(name, kReplaceMode, 0, 0, &stream), "CreateStream");
    ULONG written = 0;
    Check(stream->Write(bytes, size, &written), "Write");
    if (written != size)
        throw Failure{"short write", STG_E_WRITEFAULT};
}

// The whole stream into memory the reader owns.
void ReadStream(IStorage* storage, const wchar_t* name, UniqueHGlobal* block)
{
    ComPtr<IStream> stream;
    Check(storage->OpenStream(name, nullptr, kOpenMode, 0, &stream), "OpenStream");
    STATSTG stat = {};
    Check(stream->Stat(&stat, STATFLAG_NONAME), "Stat");
    const ULONG size = stat.cbSize.LowPart;
    block->reset(::GlobalAlloc(GMEM_FIXED, size));
    if (!*block)
        throw Failure{"GlobalAlloc", E_OUTOFMEMORY};
    ULONG read = 0;
    Check(stream->Read(static_cast<void*>(block->get()), size, &read), "Read");
    if (read != size)
        throw Failure{"short read", STG_E_READFAULT};
}

UniqueHGlobal GlobalCopy(const Bytes& bytes)
{
    UniqueHGlobal block(::GlobalAlloc(GMEM_FIXED, bytes.size()));
    if (!block)
        throw Failure{"GlobalAlloc", E_OUTOFMEMORY};
    ::memcpy(static_cast<void*>(block.get()), bytes.data(), bytes.size());
    return block;
}

ComPtr<IPersistStorage> NewDrawing(CComObject<CEmbeddedObject>** object)
{
    Check(CComObject<CEmbeddedObject>::CreateInstance(object), "creating the drawing");
    return ComPtr<IPersistStorage>(static_cast<IPersistStorage*>(*object));
}

// The same starting point for both sides: the two empty streams and the format
// record that a container's new object leaves behind.
void PrepareEmpty(IStorage* storage, IPersistStorage* drawing)
{
    if (drawing) {
        Check(drawing->InitNew(storage), "InitNew");
        return;
    }
    for (const wchar_t* name : {L"EMF", L"ZRN"}) {
        ComPtr<IStream> stream;
        Check(storage->CreateStream(name, kCreateMode, 0, 0, &stream), "CreateStream");
    }
    wchar_t userType[] = L"Quillmorph Embedded Object";
    ::WriteFmtUserTypeStg(storage, testing_support::NativeFormat(), userType);
}

struct SizeResult
{
    double megabytes;                                          // native document plus picture
    double serverSave, baselineSave, serverLoad, baselineLoad; // seconds, medians
};

SizeResult MeasureStorage(size_t nativeSize, const Bytes& picture, int rounds)
{
    const Bytes native = PatternBytes(nativeSize, static_cast<unsigned>(nativeSize));
    const std::wstring serverFile = ScratchFile(L"bench-server.qmd");
    const std::wstring baselineFile = ScratchFile(L"bench-baseline.qmd");

    CComObject<CEmbeddedObject>* object = nullptr;
    ComPtr<IPersistStorage> drawing = NewDrawing(&object);
    {
        UniqueEnhMetaFile metafile(::SetEnhMetaFileBits(static_cast<UINT>(picture.size()), picture.data()));
        Check(object->SetContents(metafile.get(), GlobalCopy(native).release()), "SetContents");
    }

    std::vector<double> serverSave, baselineSave, serverLoad, baselineLoad;
    for (int round = 0; round < rounds; ++round) {
        for (int side = 0; side < 2; ++side) {
            const bool server = (side + round) % 2 == 0;
            if (server) {
                ComPtr<IStorage> document = CreateDocument(serverFile);
                PrepareEmpty(document.Get(), drawing.Get());
                Stopwatch save;
                Check(drawing->Save(document.Get(), TRUE), "Save");
                Check(document->Commit(STGC_DEFAULT), "Commit");
                serverSave.push_back(save.Seconds());
                Check(drawing->SaveCompleted(nullptr), "SaveCompleted");
                Check(drawing->HandsOffStorage(), "HandsOffStorage");
                document.Reset();

                document = OpenDocument(serverFile);
                CComObject<CEmbeddedObject>* loadedObject = nullptr;
                ComPtr<IPersistStorage> loaded = NewDrawing(&loadedObject);
                Stopwatch load;
                Check(loaded->Load(document.Get()), "Load");
                serverLoad.push_back(load.Seconds());
            } else {
                ComPtr<IStorage> document = CreateDocument(baselineFile);
                PrepareEmpty(document.Get(), nullptr);
                Stopwatch save;
                WriteStream(document.Get(), L"EMF", picture.data(), static_cast<ULONG>(picture.size()));
                WriteStream(document.Get(), L"ZRN", native.data(), static_cast<ULONG>(native.size()));
                Check(document->Commit(STGC_DEFAULT), "Commit");
                baselineSave.push_back(save.Seconds());
                document.Reset();

                document = OpenDocument(baselineFile);
                UniqueHGlobal pictureBits, nativeBytes;
                Stopwatch load;
                ReadStream(document.Get(), L"EMF", &pictureBits);
                ReadStream(document.Get(), L"ZRN", &nativeBytes);
                baselineLoad.push_back(load.Seconds());
            }
        }
    }
    drawing.Reset();
    ::DeleteFileW(serverFile.c_str());
    ::DeleteFileW(baselineFile.c_str());
    return {(native.size() + picture.size()) / kMegabyte, Median(serverSave), Median(baselineSave),
            Median(serverLoad), Median(baselineLoad)};
}

std::string SizeName(size_t bytes)
{
    return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MB" : std::to_string(bytes >> 10) + " KB";
}

Row ThroughputRow(const std::string& name, double megabytes, double serverSeconds, double baselineSeconds,
                  double target)
{
    const double ratio = baselineSeconds / serverSeconds;
    return {name,
            Format("%.0f MB/s", megabytes / serverSeconds) + Format(" (%.1f ms)", serverSeconds * 1000),
            Format("%.0f MB/s", megabytes / baselineSeconds) + Format(" (%.1f ms)", baselineSeconds * 1000),
            ratio,
            Format("≥ %.1f", target),
            ratio >= target};
}

// Time per megabyte at the largest size over time per megabyte at the smallest:
// 1 for time that grows in proportion to size. Where the platform's own storage
// grows faster than that, the server is held to the platform's growth instead.
Row LinearityRow(const std::string& name, const SizeResult& small, const SizeResult& large,
                 double SizeResult::*server, double SizeResult::*baseline)
{
    const double serverGrowth = (large.*server / large.megabytes) / (small.*server / small.megabytes);
    const double baselineGrowth = (large.*baseline / large.megabytes) / (small.*baseline / small.megabytes);
    const double ratio = serverGrowth / baselineGrowth;
    return {name,
            Format("%.2f", serverGrowth),
            Format("%.2f", baselineGrowth),
            ratio,
            "server ≤ 1.25 (linear: 1), or ratio ≤ 1.1",
            serverGrowth <= 1.25 || ratio <= 1.1};
}

} // namespace

void RunStorageBenchmarks(const Options& options, std::vector<Row>* rows)
{
    const Bytes picture = PictureBits(options.quick ? 16 << 10 : 1 << 20);
    const std::vector<size_t> sizes = options.quick ? std::vector<size_t>{64 << 10, 256 << 10}
                                                    : std::vector<size_t>{1 << 20, 16 << 20, 64 << 20};
    std::vector<SizeResult> results;
    try {
        for (size_t size : sizes) {
            const int rounds = options.quick ? 2 : (size >= (64u << 20) ? 7 : 11);
            const SizeResult result = MeasureStorage(size, picture, rounds);
            results.push_back(result);
            const std::string drawing = SizeName(size) + " + " + SizeName(picture.size()) + " picture";
            rows->push_back(ThroughputRow("Save, " + drawing, result.megabytes, result.serverSave,
                                          result.baselineSave, 0.9));
            rows->push_back(ThroughputRow("Load, " + drawing, result.megabytes, result.serverLoad,
                                          result.baselineLoad, 0.9));
        }
    } catch (const Failure& failure) {
        rows->push_back(
            {std::string("Save/Load failed at ") + failure.step, HexResult(failure.hr), "", 0, "", false});
        return;
    }
    const std::string span = SizeName(sizes.front()) + " → " + SizeName(sizes.back());
    rows->push_back(LinearityRow("Save time per MB, " + span, results.front(), results.back(),
                                 &SizeResult::serverSave, &SizeResult::baselineSave));
    rows->push_back(LinearityRow("Load time per MB, " + span, results.front(), results.back(),
                                 &SizeResult::serverLoad, &SizeResult::baselineLoad));
}

namespace {

// What TripForward's caller would have to do without the server: the two
// streams, the class and format records, committed into a compound file over
// memory, and the file's bytes handed out as a new byte array.
void BuildCompoundFile(const VARIANT& native, const VARIANT& picture, VARIANT* result)
{
    ComPtr<ILockBytes> lockBytes;
    Check(::CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes), "CreateILockBytesOnHGlobal");
    ComPtr<IStorage> storage;
    Check(::StgCreateDocfileOnILockBytes(lockBytes.Get(), kCreateMode, 0, &storage),
          "StgCreateDocfileOnILockBytes");
    for (auto stream : {std::make_pair(L"EMF", picture.parray), std::make_pair(L"ZRN", native.parray)}) {
        void* data = nullptr;
        Check(::SafeArrayAccessData(stream.second, &data), "SafeArrayAccessData");
        WriteStream(storage.Get(), stream.first, static_cast<BYTE*>(data),
                    stream.second->rgsabound[0].cElements);
        ::SafeArrayUnaccessData(stream.second);
    }
    Check(::WriteClassStg(storage.Get(), CLSID_QuillmorphEmbeddedObject), "WriteClassStg");
    wchar_t userType[] = L"Quillmorph Embedded Object";
    Check(::WriteFmtUserTypeStg(storage.Get(), CF_ENHMETAFILE, userType), "WriteFmtUserTypeStg");
    Check(storage->Commit(STGC_DEFAULT), "Commit");
    STATSTG stat = {};
    Check(lockBytes->Stat(&stat, STATFLAG_NONAME), "Stat");
    SAFEARRAY* bytes = ::SafeArrayCreateVector(VT_UI1, 0, stat.cbSize.LowPart);
    if (!bytes)
        throw Failure{"SafeArrayCreateVector", E_OUTOFMEMORY};
    result->vt = VT_ARRAY | VT_UI1;
    result->parray = bytes;
    void* data = nullptr;
    Check(::SafeArrayAccessData(bytes, &data), "SafeArrayAccessData");
    ULARGE_INTEGER offset = {};
    ULONG read = 0;
    const HRESULT hr = lockBytes->ReadAt(offset, data, stat.cbSize.LowPart, &read);
    ::SafeArrayUnaccessData(bytes);
    Check(hr, "ReadAt");
}

} // namespace

void RunTripForwardBenchmarks(const Options& options, std::vector<Row>* rows)
{
    const Bytes picture = PictureBits(options.quick ? 16 << 10 : 1 << 20);
    const std::vector<size_t> sizes =
        options.quick ? std::vector<size_t>{64 << 10} : std::vector<size_t>{1 << 20, 16 << 20};
    try {
        CComObject<CDispinterface>* created = nullptr;
        Check(CComObject<CDispinterface>::CreateInstance(&created), "creating the automation object");
        ComPtr<IQuillmorphOLE> automation(static_cast<IQuillmorphOLE*>(created));
        VariantGuard pictureArray;
        Check(MakeByteArray(picture, &pictureArray), "picture array");
        for (size_t size : sizes) {
            VariantGuard nativeArray;
            Check(MakeByteArray(PatternBytes(size, 7), &nativeArray), "native array");
            const int rounds = options.quick ? 2 : (size >= (16u << 20) ? 9 : 15);
            std::vector<double> server, baseline;
            ULONG serverBytes = 0, baselineBytes = 0;
            for (int round = 0; round < rounds; ++round) {
                for (int side = 0; side < 2; ++side) {
                    VariantGuard result;
                    Stopwatch watch;
                    if ((side + round) % 2 == 0) {
                        Check(automation->TripForward(*nativeArray.get(), *pictureArray.get(), result.get()),
                              "TripForward");
                        server.push_back(watch.Seconds());
                        serverBytes = result->parray->rgsabound[0].cElements;
                    } else {
                        BuildCompoundFile(*nativeArray.get(), *pictureArray.get(), result.get());
                        baseline.push_back(watch.Seconds());
                        baselineBytes = result->parray->rgsabound[0].cElements;
                    }
                }
            }
            const double megabytes = (size + picture.size()) / kMegabyte;
            Row row = ThroughputRow("TripForward, " + SizeName(size) + " + " + SizeName(picture.size()) +
                                        " picture (in-process)",
                                    megabytes, Median(server), Median(baseline), 0.8);
            // Both sides must have built a file of the same shape.
            if (serverBytes != baselineBytes) {
                row.server += " [" + std::to_string(serverBytes) + " bytes]";
                row.baseline += " [" + std::to_string(baselineBytes) + " bytes]";
            }
            rows->push_back(row);
        }
    } catch (const Failure& failure) {
        rows->push_back(
            {std::string("TripForward failed at ") + failure.step, HexResult(failure.hr), "", 0, "", false});
    }
}

} // namespace bench
