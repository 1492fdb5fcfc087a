#include "documents/document_scan.h"

#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "documents/byte_source.h"
#include "documents/office_names.h"
#include "documents/ole1_object.h"
#include "documents/presentation_records.h"
#include "documents/rtf_objects.h"
#include "documents/zip_archive.h"
#include "server/return_if_failed.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr BYTE kCompoundSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr BYTE kZipSignature[4] = {'P', 'K', 3, 4};
constexpr BYTE kEmptyZipSignature[4] = {'P', 'K', 5, 6};
const wchar_t kInside[] = L" > ";

bool IsCompound(const BYTE* bytes, size_t size)
{
    return size >= 8 && std::memcmp(bytes, kCompoundSignature, 8) == 0;
}

// A storage name as a person can read it: the platform's marks (\1, \2, \5)
// written as such.
std::wstring Printable(const wchar_t* name)
{
    std::wstring text;
    for (const wchar_t* c = name; *c; ++c)
        text += *c < 0x20 ? L"\\" + std::to_wstring(*c) : std::wstring(1, *c);
    return text;
}

// What the container says of the object a compound file holds, given to the
// drawing at its root.
struct ObjectContext
{
    std::wstring containerName;
    std::wstring cachedPicture;
    ULONGLONG cachedPictureSize = 0;
};

class DocumentScan
{
public:
    DocumentScan(std::wstring path, const DrawingSink& sink) : sink_(sink)
    {
        document_.path = std::move(path);
    }
    DocumentFinding Take() { return std::move(document_); }
    void Scan(const ByteSource& source);

private:
    void ScanCompoundFile(const ByteSource& source);
    void ScanZip(const ByteSource& source);
    void ScanRtf(const ByteSource& source);
    void ScanZipEntry(const ZipArchive& zip, const ZipEntry& entry, const OfficeObjectNames& names);
    void TakeRtfObject(RtfObject object);
    static HRESULT OpenCompoundSource(const ByteSource& source, ComPtr<IStorage>* root);
    static HRESULT OpenCompoundBlock(UniqueHGlobal block, ULONG size, ComPtr<IStorage>* storage);
    void WalkCompoundBlock(UniqueHGlobal block, ULONG size, const std::wstring& path,
                           const ObjectContext& context);
    void WalkStorage(ComPtr<IStorage> storage, const std::wstring& path, int depth,
                     const ObjectContext* context);
    void WalkChildren(IStorage* storage, const std::wstring& path, int depth);
    void WalkPresentation(IStorage* storage, const std::wstring& path);
    void ReportDrawing(ComPtr<IStorage> storage, DrawingFinding finding, const std::wstring& path,
                       const ObjectContext* context);
    void Refuse(const std::wstring& why)
    {
        if (document_.error.empty())
            document_.error = why;
        stopped_ = true;
    }

    const DrawingSink& sink_;
    DocumentFinding document_;
    size_t elements_ = 0;
    int nesting_ = 0;
    bool stopped_ = false;
};

void DocumentScan::Scan(const ByteSource& source)
{
    BYTE start[8] = {};
    ULONG read = 0;
    HRESULT hr = source.ReadAt(0, start, sizeof(start), &read);
    if (FAILED(hr)) {
        document_.error = L"it cannot be read: " + HexResult(hr);
        return;
    }
    if (IsCompound(start, read))
        return ScanCompoundFile(source);
    if (read >= 4 &&
        (std::memcmp(start, kZipSignature, 4) == 0 || std::memcmp(start, kEmptyZipSignature, 4) == 0))
        return ScanZip(source);
    if (LooksLikeRtf(start, read))
        return ScanRtf(source);
    document_.error = read == 0
                          ? L"it is empty"
                          : L"it is not a document this check reads (neither a compound file, a zip-based "
                            L"document nor RTF)";
}

// A compound file held inside another document (a zip entry, a record), read
// into a block of its own and opened over it.
HRESULT DocumentScan::OpenCompoundSource(const ByteSource& source, ComPtr<IStorage>* root)
{
    const ULONG size = static_cast<ULONG>(source.Size());
    UniqueHGlobal block(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block)
        return E_OUTOFMEMORY;
    {
        GlobalLockGuard at(block.get());
        RETURN_IF_FAILED(ReadExactly(source, 0, at.bytes(), size));
    }
    return OpenCompoundBlock(std::move(block), size, root);
}

void DocumentScan::ScanCompoundFile(const ByteSource& source)
{
    document_.format = L"compound file";
    ComPtr<IStorage> root;
    HRESULT hr = E_FAIL;
    if (dynamic_cast<const FileSource*>(&source)) {
        // Read only; a container that has the document open for writing lets
        // a transacted reader in where a direct one would be refused.
        hr = ::StgOpenStorageEx(document_.path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, STGFMT_DOCFILE, 0,
                                nullptr, nullptr, IID_PPV_ARGS(&root));
        if (hr == STG_E_SHAREVIOLATION || hr == STG_E_LOCKVIOLATION)
            hr =
                ::StgOpenStorageEx(document_.path.c_str(), STGM_READ | STGM_TRANSACTED | STGM_SHARE_DENY_NONE,
                                   STGFMT_DOCFILE, 0, nullptr, nullptr, IID_PPV_ARGS(&root));
    } else if (source.Size() < (1ull << 31)) {
        hr = OpenCompoundSource(source, &root);
    }
    if (FAILED(hr)) {
        document_.error = L"it is a damaged compound file (" + HexResult(hr) + L")";
        return;
    }
    WalkStorage(std::move(root), std::wstring(), 0, nullptr);
}

HRESULT DocumentScan::OpenCompoundBlock(UniqueHGlobal block, ULONG size, ComPtr<IStorage>* storage)
{
    ComPtr<ILockBytes> lockBytes;
    HRESULT hr = ::CreateILockBytesOnHGlobal(block.get(), TRUE, &lockBytes);
    if (FAILED(hr))
        return hr;
    block.release();
    // The block may be larger than the bytes it holds; the file is as long as they are.
    ULARGE_INTEGER exact = {};
    exact.QuadPart = size;
    hr = lockBytes->SetSize(exact);
    if (FAILED(hr))
        return hr;
    return ::StgOpenStorageOnILockBytes(lockBytes.Get(), nullptr, kReadMode, nullptr, 0,
                                        storage->ReleaseAndGetAddressOf());
}

void DocumentScan::WalkCompoundBlock(UniqueHGlobal block, ULONG size, const std::wstring& path,
                                     const ObjectContext& context)
{
    if (nesting_ >= document_limits::kMaxNesting)
        return Refuse(L"objects nest inside objects more than " +
                      std::to_wstring(document_limits::kMaxNesting) + L" levels deep at " + path +
                      L"; refused");
    ComPtr<IStorage> storage;
    HRESULT hr = OpenCompoundBlock(std::move(block), size, &storage);
    if (FAILED(hr))
        return document_.problems.push_back(path + L" is no readable compound file (" + HexResult(hr) + L")");
    ++nesting_;
    WalkStorage(std::move(storage), path, 0, &context);
    --nesting_;
}

// The storage is handed down, not shared: a drawing at the root of an
// object's compound file is the only holder of that file's bytes, which go
// as soon as the drawing's streams are read.
void DocumentScan::WalkStorage(ComPtr<IStorage> storage, const std::wstring& path, int depth,
                               const ObjectContext* context)
{
    DrawingFinding finding;
    if (IsDrawingStorage(storage.Get(), &finding))
        return ReportDrawing(std::move(storage), std::move(finding), path, context);
    if (depth >= document_limits::kMaxStorageDepth)
        return Refuse(L"its storages nest deeper than " + std::to_wstring(document_limits::kMaxStorageDepth) +
                      L" levels at " + path + L"; refused");
    WalkChildren(storage.Get(), path, depth);
}

void DocumentScan::WalkChildren(IStorage* storage, const std::wstring& path, int depth)
{
    ComPtr<IEnumSTATSTG> elements;
    HRESULT hr = storage->EnumElements(0, nullptr, 0, &elements);
    if (FAILED(hr))
        return document_.problems.push_back(L"the elements of " + (path.empty() ? L"the root" : path) +
                                            L" cannot be listed (" + HexResult(hr) + L")");
    STATSTG stat = {};
    while (!stopped_ && elements->Next(1, &stat, nullptr) == S_OK) {
        UniqueTaskMemory name(stat.pwcsName);
        if (++elements_ > document_limits::kMaxElements)
            return Refuse(L"it holds more than " + std::to_wstring(document_limits::kMaxElements) +
                          L" storages and streams; refused");
        const std::wstring childPath = (path.empty() ? L"" : path + kInside) + Printable(stat.pwcsName);
        if (stat.type == STGTY_STORAGE) {
            ComPtr<IStorage> child;
            hr = storage->OpenStorage(stat.pwcsName, nullptr, kReadMode, nullptr, 0, &child);
            if (FAILED(hr))
                document_.problems.push_back(childPath + L" cannot be opened (" + HexResult(hr) + L")");
            else
                WalkStorage(std::move(child), childPath, depth + 1, nullptr);
        } else if (stat.type == STGTY_STREAM && std::wcscmp(stat.pwcsName, kPresentationStream) == 0) {
            WalkPresentation(storage, childPath);
        }
    }
}

void DocumentScan::WalkPresentation(IStorage* storage, const std::wstring& path)
{
    ComPtr<IStream> stream;
    HRESULT hr = storage->OpenStream(kPresentationStream, nullptr, kReadMode, 0, &stream);
    if (FAILED(hr))
        return document_.problems.push_back(path + L" cannot be opened (" + HexResult(hr) + L")");
    if (document_.format == L"compound file")
        document_.format = L"presentation";
    const RecordWalk walk =
        WalkPresentationRecords(stream.Get(), [&](UniqueHGlobal bytes, ULONG size, ULONGLONG offset) {
            if (!stopped_)
                WalkCompoundBlock(std::move(bytes), size,
                                  path + kInside + L"object record at byte " + std::to_wstring(offset),
                                  ObjectContext{});
        });
    for (const std::wstring& problem : walk.problems)
        document_.problems.push_back(path + L": " + problem);
    if (!walk.refused.empty())
        Refuse(path + L": " + walk.refused);
}

void DocumentScan::ReportDrawing(ComPtr<IStorage> storage, DrawingFinding finding, const std::wstring& path,
                                 const ObjectContext* context)
{
    finding.position = document_.drawings.size() + 1;
    finding.path = path.empty() ? L"(root)" : path;
    if (context) {
        finding.containerName = context->containerName;
        finding.cachedPicture = context->cachedPicture;
        finding.cachedPictureSize = context->cachedPictureSize;
    }
    std::wstring cacheName;
    if (const ULONGLONG cached = PresentationCacheSize(storage.Get(), &cacheName);
        finding.cachedPicture.empty() && cached) {
        finding.cachedPicture = cacheName;
        finding.cachedPictureSize = cached;
    }
    DrawingContent content;
    CheckDrawing(std::move(storage), &finding, &content);
    sink_(document_, finding, content);
    document_.drawings.push_back(std::move(finding));
}

void DocumentScan::ScanZip(const ByteSource& source)
{
    ZipArchive zip(source);
    std::wstring why;
    if (FAILED(zip.Open(&why))) {
        document_.error = L"it is not a readable zip archive: " + why;
        return;
    }
    document_.format = L"zip";
    const OfficeObjectNames names = ReadOfficeObjectNames(zip);
    for (const ZipEntry& entry : zip.Entries()) {
        if (!stopped_ && !entry.name.empty() && entry.name.back() != '/' && entry.size >= 8)
            ScanZipEntry(zip, entry, names);
    }
}

void DocumentScan::ScanZipEntry(const ZipArchive& zip, const ZipEntry& entry, const OfficeObjectNames& names)
{
    BYTE start[8] = {};
    ULONG read = 0;
    ZipRead result = zip.ReadPrefix(entry, start, sizeof(start), &read);
    if (SUCCEEDED(result.result) && !IsCompound(start, read))
        return;
    UniqueHGlobal block;
    ULONG size = 0;
    if (SUCCEEDED(result.result))
        result = zip.ReadWhole(entry, &block, &size);
    const std::wstring where = L"entry " + entry.displayName + L": ";
    // A refused entry (a bomb) makes the document one that cannot be read
    // whole; the other entries are still looked at.
    if (result.refused) {
        if (document_.error.empty())
            document_.error = where + result.why;
        return;
    }
    if (!result.why.empty())
        document_.problems.push_back(where + result.why);
    if (FAILED(result.result))
        return;
    ObjectContext context;
    if (auto name = names.find(entry.name); name != names.end())
        context = {name->second.containerName, name->second.replacementImage,
                   name->second.replacementImageSize};
    if (!context.cachedPicture.empty())
        context.cachedPicture = L"replacement image " + context.cachedPicture;
    WalkCompoundBlock(std::move(block), size, entry.displayName, context);
}

void DocumentScan::ScanRtf(const ByteSource& source)
{
    document_.format = L"RTF";
    const RtfRead read = ReadRtfObjects(source, [&](RtfObject object) { TakeRtfObject(std::move(object)); });
    for (const std::wstring& problem : read.problems)
        document_.problems.push_back(problem);
    if (!read.refused.empty())
        Refuse(read.refused);
}

void DocumentScan::TakeRtfObject(RtfObject object)
{
    const std::wstring path = L"object at byte " + std::to_wstring(object.offset);
    Ole1Object ole1;
    std::wstring why;
    HRESULT hr = OpenOle1Object(&object.data, object.size, &ole1, &why);
    if (hr == S_FALSE)
        return;
    if (FAILED(hr))
        return document_.problems.push_back(path + L": " + why);
    ObjectContext context;
    context.containerName =
        L"\\objclass " + (object.objectClass.empty() ? L"(none)" : object.objectClass) + L"; " + ole1.road;
    if (object.resultPictureBytes) {
        context.cachedPicture = L"\\result picture";
        context.cachedPictureSize = object.resultPictureBytes;
    }
    ++nesting_;
    WalkStorage(std::move(ole1.storage), path, 0, &context);
    --nesting_;
}

} // namespace

DocumentFinding ScanDocument(const std::wstring& path, const DrawingSink& sink)
{
    DocumentScan scan(path, sink);
    FileSource source;
    HRESULT hr = source.Open(path);
    if (FAILED(hr)) {
        DocumentFinding failed = scan.Take();
        failed.error = L"it cannot be opened: " + HexResult(hr);
        return failed;
    }
    scan.Scan(source);
    return scan.Take();
}

DocumentFinding ScanDocumentBytes(const BYTE* bytes, size_t size, const std::wstring& name,
                                  const DrawingSink& sink)
{
    DocumentScan scan(name, sink);
    scan.Scan(MemorySource(bytes, size));
    return scan.Take();
}
