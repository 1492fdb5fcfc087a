#include "documents/drawing_check.h"

#include <wrl/client.h>

#include <algorithm>
#include <utility>

#include "documents/drawing_view.h"
#include "documents/picture_records.h"
#include "embedded/drawing_names.h"
#include "embedded/embedded_object.h"
#include "embedded/stream_reading.h"
#include "server/class_ids.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;

std::wstring ClassText(const CLSID& clsid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(clsid, text, 40);
    return text;
}

void AddFault(DrawingFinding* finding, const wchar_t* id, std::wstring what, std::wstring advice)
{
    finding->faults.push_back(DrawingFault{id, std::move(what), std::move(advice)});
}

struct StreamRead
{
    bool present = false;
    ULONG claimed = 0;
    ULONG read = 0;
    HRESULT result = S_OK;
    UniqueHGlobal bytes;
    bool Whole() const { return present && SUCCEEDED(result) && read == claimed; }
};

// A stream whose chain breaks before its claimed end fails a whole read on
// some platforms: it is read again a sector at a time, up to the break, so
// that extraction gets as far as the stream allows. The last sector read may
// end in the sector's padding.
void SalvageStream(IStream* stream, StreamRead* out)
{
    constexpr ULONG kSector = 512;
    LARGE_INTEGER start = {};
    UniqueHGlobal block(::GlobalAlloc(GMEM_MOVEABLE, out->claimed));
    if (!block || FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr)))
        return;
    ULONG filled = 0;
    {
        GlobalLockGuard at(block.get());
        ULONG got = 0;
        while (at && filled < out->claimed &&
               SUCCEEDED(stream->Read(at.bytes() + filled, std::min(kSector, out->claimed - filled), &got)) &&
               got > 0)
            filled += got;
    }
    if (filled == 0)
        return;
    out->bytes = std::move(block);
    out->read = filled;
}

StreamRead ReadDrawingStream(IStorage* storage, const wchar_t* name)
{
    StreamRead out;
    ComPtr<IStream> stream;
    out.result = storage->OpenStream(name, nullptr, kReadMode, 0, &stream);
    if (FAILED(out.result))
        return out;
    out.present = true;
    out.result = ReadClaimedBytes(stream.Get(), &out.bytes, &out.read, &out.claimed);
    // A claim the file cannot hold is not salvaged: it would cost memory for nothing.
    if (FAILED(out.result) && out.result != E_OUTOFMEMORY && out.claimed <= kTrustedClaim)
        SalvageStream(stream.Get(), &out);
    return out;
}

const wchar_t kSavedAgain[] = L"open the document in its container with the drawing application installed, "
                              L"open the drawing and save it: both streams are written anew.";

// The faults of one stream in words; true when the stream can be used.
void StreamFaults(const StreamRead& read, bool native, DrawingFinding* finding)
{
    const wchar_t* what = native ? L"the native document (stream ZRN)" : L"the picture (stream EMF)";
    if (!read.present) {
        AddFault(finding, native ? L"native-missing" : L"picture-missing",
                 std::wstring(what) + L" is missing (" + HexResult(read.result) + L")",
                 native ? L"the drawing cannot be opened or recovered from this copy; take it from an "
                          L"older copy of the document, or from the extracted picture."
                        : kSavedAgain);
        return;
    }
    if (read.Whole())
        return;
    std::wstring detail = std::wstring(what) + L" is cut short: the stream claims " +
                          std::to_wstring(read.claimed) + L" bytes, " + std::to_wstring(read.read) +
                          L" could be read" +
                          (FAILED(read.result) ? L" before the document's chain of sectors breaks" : L"");
    AddFault(finding, native ? L"native-cut-short" : L"picture-cut-short", detail,
             native ? L"the document was damaged after the drawing was saved; the drawing cannot be opened "
                      L"from this copy. Take it from an older copy of the document or a backup; the part "
                      L"that could be read is extracted with --extract."
                    : kSavedAgain);
}

void PictureFaults(const StreamRead& picture, DrawingFinding* finding)
{
    if (!picture.Whole() || picture.read == 0)
        return;
    GlobalLockGuard bits(picture.bytes.get());
    const PictureRecords records = DescribePictureRecords(bits.bytes(), picture.read);
    finding->pictureRecords = records.records;
    finding->pictureFrame = records.frame;
    if (!records.fault.empty())
        AddFault(finding, L"picture-malformed",
                 L"the picture (stream EMF) is malformed: " + records.fault +
                     L"; the container shows no picture for the drawing",
                 std::wstring(L"the native document is sound: ") + kSavedAgain);
}

HRESULT LoadThroughView(ComPtr<IStorage> storage, const StreamRead& picture, const StreamRead& native)
{
    ComPtr<IStorage> view;
    HRESULT hr = MakeDrawingView(storage.Get(), {kPictureStream, picture.bytes.get(), picture.Whole()},
                                 {kNativeDataStream, native.bytes.get(), native.Whole()}, false, &view);
    storage.Reset();
    if (FAILED(hr))
        return hr;
    ComPtr<IPersistStorage> drawing;
    // The drawing is made as the server makes it, but holds no lock on a
    // server's process: here there is none.
    hr = CreateObject<CComObjectNoLock<CEmbeddedObject>>(IID_PPV_ARGS(&drawing));
    if (FAILED(hr))
        return hr;
    return drawing->Load(view.Get());
}

} // namespace

bool IsDrawingStorage(IStorage* storage, DrawingFinding* finding)
{
    STATSTG stat = {};
    if (FAILED(storage->Stat(&stat, STATFLAG_NONAME)))
        return false;
    finding->classId = ClassText(stat.clsid);
    CLIPFORMAT format = 0;
    LPOLESTR userType = nullptr;
    if (SUCCEEDED(::ReadFmtUserTypeStg(storage, &format, &userType))) {
        UniqueTaskMemory owner(userType);
        finding->userType = userType ? userType : L"";
    }
    return IsEqualCLSID(stat.clsid, CLSID_QuillmorphEmbeddedObject) || finding->userType == kEmbeddedUserType;
}

void CheckDrawing(ComPtr<IStorage> storage, DrawingFinding* finding, DrawingContent* content)
{
    if (finding->classId != ClassText(CLSID_QuillmorphEmbeddedObject))
        AddFault(finding, L"wrong-class",
                 L"the storage's class is " + finding->classId +
                     L", not the drawing's, though its user type is \"" + finding->userType +
                     L"\": the container starts another program (or none) for it",
                 L"extract the drawing with --extract and insert it again from the drawing application.");
    StreamRead picture = ReadDrawingStream(storage.Get(), kPictureStream);
    StreamRead native = ReadDrawingStream(storage.Get(), kNativeDataStream);
    finding->picturePresent = picture.present;
    finding->pictureClaimed = picture.claimed;
    finding->pictureRead = picture.read;
    finding->nativePresent = native.present;
    finding->nativeClaimed = native.claimed;
    finding->nativeRead = native.read;
    StreamFaults(native, true, finding);
    StreamFaults(picture, false, finding);
    PictureFaults(picture, finding);
    finding->loadResult = LoadThroughView(std::move(storage), picture, native);
    if (FAILED(finding->loadResult) && finding->faults.empty())
        AddFault(finding, L"does-not-load", L"the drawing does not load", kSavedAgain);
    content->native = std::move(native.bytes);
    content->nativeSize = native.read;
    content->picture = std::move(picture.bytes);
    content->pictureSize = picture.read;
}

ULONGLONG PresentationCacheSize(IStorage* storage, std::wstring* name)
{
    // The platform's cache keeps one stream per cached view, the first one
    // under this name.
    static const wchar_t kCache[] = L"\2OlePres000";
    ComPtr<IStream> stream;
    if (FAILED(storage->OpenStream(kCache, nullptr, kReadMode, 0, &stream)))
        return 0;
    STATSTG stat = {};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)))
        return 0;
    *name = L"presentation stream \\2OlePres000";
    return stat.cbSize.QuadPart;
}
