// The document check over documents of size: a zip-based document of about
// 200 MB holding 500 drawings, read by the check program (its time and peak
// memory) against the floor, only inflating every entry of the same file with
// the same zlib in the same run; and a folder of 1,000 small documents.

#include <windows.h>

#include <wrl/client.h>

#include <algorithm>

#include "bench/bench_sections.h"
#include "bench/memory_sampler.h"
#include "bridge/dispinterface.h"
#include "documents/byte_source.h"
#include "documents/zip_archive.h"
#include "support/document_builder.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace bench {
namespace {

struct CheckFigures
{
    double seconds = 0;
    SIZE_T peakBytes = 0;
    DWORD exitCode = 0;
};

std::wstring CheckProgram()
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"QuillmorphCheck.exe";
}

// The check program run over target, its output in a file; its commit charge
// sampled while it runs.
CheckFigures RunCheck(const std::wstring& target, const std::wstring& output)
{
    CheckFigures figures;
    Stopwatch watch;
    UniqueKernelHandle process =
        StartProcessWithOutput(L"\"" + CheckProgram() + L"\" document \"" + target + L"\"", output);
    if (!process)
        return figures;
    {
        MemorySampler sampler(process.get());
        ::WaitForSingleObject(process.get(), INFINITE);
        figures.peakBytes = sampler.NextPhase();
    }
    figures.seconds = watch.Seconds();
    ::GetExitCodeProcess(process.get(), &figures.exitCode);
    return figures;
}

// Reads a stream whole, as the check reads a drawing's streams.
void ReadWholeStream(IStorage* storage, const wchar_t* name)
{
    ComPtr<IStream> stream;
    STATSTG stat = {};
    if (FAILED(storage->OpenStream(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream)) ||
        FAILED(stream->Stat(&stat, STATFLAG_NONAME)))
        return;
    std::vector<BYTE> bytes(stat.cbSize.LowPart);
    ULONG read = 0;
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
}

// Opens an entry's bytes as the compound file they are and reads both streams
// of the drawing there: the platform's part of checking it.
void ReadDrawingStreams(UniqueHGlobal block, ULONG size)
{
    ComPtr<ILockBytes> lockBytes;
    if (FAILED(::CreateILockBytesOnHGlobal(block.get(), TRUE, &lockBytes)))
        return;
    block.release();
    ULARGE_INTEGER exact = {};
    exact.QuadPart = size;
    lockBytes->SetSize(exact);
    ComPtr<IStorage> storage;
    if (FAILED(::StgOpenStorageOnILockBytes(lockBytes.Get(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                            nullptr, 0, &storage)))
        return;
    ReadWholeStream(storage.Get(), L"EMF");
    ReadWholeStream(storage.Get(), L"ZRN");
}

// The floor: every entry of the archive inflated (and its checksum taken)
// once; with readStreams, each then opened and its drawing's streams read.
double InflateEveryEntry(const std::wstring& path, bool readStreams = false)
{
    Stopwatch watch;
    FileSource source;
    if (FAILED(source.Open(path)))
        return 0;
    ZipArchive zip(source);
    std::wstring why;
    if (FAILED(zip.Open(&why)))
        return 0;
    for (const ZipEntry& entry : zip.Entries()) {
        UniqueHGlobal block;
        ULONG size = 0;
        zip.ReadWhole(entry, &block, &size);
        if (readStreams && block)
            ReadDrawingStreams(std::move(block), size);
    }
    return watch.Seconds();
}

DocBytes TripForward(IQuillmorphOLE* bridge, size_t nativeSize, unsigned seed)
{
    VariantGuard a, b, c;
    MakeByteArray(PatternBytes(nativeSize, seed), &a);
    MakeByteArray(PictureBits(16u << 10), &b);
    bridge->TripForward(*a.get(), *b.get(), c.get());
    DocBytes bytes(c->parray ? c->parray->rgsabound[0].cElements : 0);
    if (!bytes.empty())
        std::memcpy(bytes.data(), c->parray->pvData, bytes.size());
    return bytes;
}

// A document of the XML word-processing layout holding drawings, each a
// compound file made by TripForward; the largest one's size comes back.
DocBytes WordProcessingDocument(IQuillmorphOLE* bridge, size_t count, size_t averageNative,
                                size_t largeNative, size_t* largest)
{
    ZipBuilder zip;
    zip.Add("word/document.xml", DocBytes(2000, ' '), true);
    std::vector<DocBytes> kinds;
    for (unsigned i = 0; i < 8; ++i)
        kinds.push_back(TripForward(bridge, averageNative / 2 + averageNative * i / 7, i + 1));
    const DocBytes large = TripForward(bridge, largeNative, 99);
    *largest = large.size();
    for (size_t i = 0; i < count; ++i) {
        const DocBytes& drawing = i + 1 == count ? large : kinds[i % kinds.size()];
        *largest = std::max(*largest, drawing.size());
        // Level 1, as a quick writer would: the native documents hardly shrink.
        const std::string name = "word/embeddings/oleObject" + std::to_string(i + 1) + ".bin";
        zip.AddRaw(name, Deflate(drawing, true, 1), drawing.size(), Crc32(drawing), 8);
    }
    return zip.Finish();
}

std::string Megabytes(SIZE_T bytes)
{
    return Format("%.1f MB", static_cast<double>(bytes) / (1 << 20));
}

void LargeDocumentRows(const Options& options, IQuillmorphOLE* bridge, const std::wstring& folder,
                       std::vector<Row>* rows)
{
    const size_t count = options.quick ? 5 : 500;
    const size_t average = options.quick ? (20u << 10) : (400u << 10);
    size_t largest = 0;
    const DocBytes document =
        WordProcessingDocument(bridge, count, average, options.quick ? (64u << 10) : (8u << 20), &largest);
    const std::wstring path = folder + L"\\large.docx";
    WriteFileBytes(path, document);
    size_t smallLargest = 0;
    const std::wstring small = folder + L"\\small.docx";
    WriteFileBytes(small, WordProcessingDocument(bridge, 1, 8u << 10, 8u << 10, &smallLargest));
    const CheckFigures fixed = RunCheck(small, folder + L"\\small.out");

    std::vector<double> checks, floors, platform;
    SIZE_T peak = 0;
    for (int round = 0; round < (options.quick ? 1 : 3); ++round) {
        floors.push_back(InflateEveryEntry(path));
        platform.push_back(InflateEveryEntry(path, true));
        const CheckFigures figures = RunCheck(path, folder + L"\\large.out");
        checks.push_back(figures.exitCode == 0 ? figures.seconds : 0);
        peak = std::max(peak, figures.peakBytes);
    }
    const double check = Median(checks), floor = Median(floors);
    rows->push_back(
        Row{"Document check, " + Megabytes(document.size()) + " zip with " + std::to_string(count) +
                " drawings (time)",
            Format("%.2f s", check) + Format(" (%.2f s for a document of one small drawing)", fixed.seconds),
            Format("%.2f s inflating every entry", floor), check / floor, "≤ 1.3",
            check > 0 && check / floor <= 1.3});
    const double streams = Median(platform);
    rows->push_back(
        Row{"Document check, the same, against inflating and reading both streams of each drawing",
            Format("%.2f s", check), Format("%.2f s", streams), check / streams, "figure only", check > 0});
    const SIZE_T allowed = fixed.peakBytes + 2 * largest;
    rows->push_back(Row{"Document check, the same (peak commit charge)",
                        Megabytes(peak) + " (largest drawing " + Megabytes(largest) + ")",
                        Megabytes(fixed.peakBytes) + " for one small drawing",
                        static_cast<double>(peak) / allowed, "≤ 1.0 (that + 2 × largest)",
                        peak > 0 && peak <= allowed});
}

void FolderRow(const Options& options, IQuillmorphOLE* bridge, const std::wstring& folder,
               std::vector<Row>* rows)
{
    const size_t count = options.quick ? 20 : 1000;
    const std::wstring many = folder + L"\\many";
    ::CreateDirectoryW(many.c_str(), nullptr);
    size_t largest = 0;
    const DocBytes document = WordProcessingDocument(bridge, 1, 16u << 10, 16u << 10, &largest);
    for (size_t i = 0; i < count; ++i)
        WriteFileBytes(many + L"\\document" + std::to_wstring(i) + L".docx", document);
    double floor = 0;
    {
        Stopwatch watch;
        for (size_t i = 0; i < count; ++i)
            InflateEveryEntry(many + L"\\document" + std::to_wstring(i) + L".docx");
        floor = watch.Seconds();
    }
    const CheckFigures figures = RunCheck(many, folder + L"\\many.out");
    const double perSecond = figures.seconds > 0 ? count / figures.seconds : 0;
    rows->push_back(Row{"Document check, a folder of " + std::to_string(count) + " small documents",
                        Format("%.0f documents/s", perSecond),
                        Format("%.0f documents/s inflating only", count / floor), figures.seconds / floor,
                        "figure only", figures.exitCode == 0});
    for (size_t i = 0; i < count; ++i)
        ::DeleteFileW((many + L"\\document" + std::to_wstring(i) + L".docx").c_str());
    ::RemoveDirectoryW(many.c_str());
}

} // namespace

void RunDocumentBenchmarks(const Options& options, std::vector<Row>* rows)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"quillmorph-document-bench";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ComPtr<IQuillmorphOLE> bridge;
    if (FAILED(CreateObjectInstance<CDispinterface>(nullptr, IID_PPV_ARGS(&bridge))))
        return;
    LargeDocumentRows(options, bridge.Get(), folder, rows);
    FolderRow(options, bridge.Get(), folder, rows);
    for (const wchar_t* name : {L"large.docx", L"small.docx", L"small.out", L"large.out", L"many.out"})
        ::DeleteFileW((folder + L"\\" + name).c_str());
    ::RemoveDirectoryW(folder.c_str());
}

} // namespace bench
