#include "documents/presentation_records.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "documents/byte_source.h"

namespace {

constexpr WORD kObjectStorageRecord = 0x1011;
constexpr WORD kCompressedInstance = 0x001;
constexpr WORD kContainerVersion = 0xF;
constexpr ULONG kHeaderSize = 8;

struct RecordHeader
{
    WORD version = 0;
    WORD instance = 0;
    WORD type = 0;
    ULONG length = 0;
};

// Inflates a zlib stream that must give exactly declared bytes.
HRESULT InflateExactly(const BYTE* in, ULONG inSize, ULONG declared, UniqueHGlobal* out, std::wstring* why)
{
    UniqueHGlobal block(::GlobalAlloc(GMEM_FIXED, declared ? declared : 1));
    if (!block)
        return E_OUTOFMEMORY;
    z_stream z = {};
    if (inflateInit(&z) != Z_OK)
        return E_OUTOFMEMORY;
    BYTE scratch = 0;
    z.next_in = const_cast<BYTE*>(in);
    z.avail_in = inSize;
    z.next_out = static_cast<BYTE*>(block.get());
    z.avail_out = declared;
    int status = inflate(&z, Z_FINISH);
    const ULONG produced = declared - z.avail_out;
    if (status != Z_STREAM_END && produced == declared) {
        // Full: the stream either ends here or holds more than it declares.
        z.next_out = &scratch;
        z.avail_out = 1;
        status = inflate(&z, Z_FINISH);
        if (z.avail_out == 0)
            status = Z_DATA_ERROR;
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END || produced != declared) {
        *why = L"its compressed object does not inflate to the " + std::to_wstring(declared) +
               L" bytes it declares";
        return STG_E_READFAULT;
    }
    *out = std::move(block);
    return S_OK;
}

class Walker
{
public:
    Walker(const ByteSource& source, const EmbeddedObjectFound& found) : source_(source), found_(found) {}
    RecordWalk Run(ULONGLONG end);

private:
    bool Walk(ULONGLONG start, ULONGLONG end, int depth);
    void TakeObject(const RecordHeader& header, ULONGLONG offset);
    HRESULT ReadObject(const RecordHeader& header, ULONGLONG bodyOffset, UniqueHGlobal* bytes, ULONG* size,
                       std::wstring* why);

    const ByteSource& source_;
    const EmbeddedObjectFound& found_;
    RecordWalk result_;
    ULONGLONG records_ = 0;
};

RecordWalk Walker::Run(ULONGLONG end)
{
    Walk(0, end, 0);
    return std::move(result_);
}

bool Walker::Walk(ULONGLONG start, ULONGLONG end, int depth)
{
    if (depth > presentation_limits::kMaxDepth) {
        result_.refused = L"its records nest deeper than " + std::to_wstring(presentation_limits::kMaxDepth) +
                          L" levels; refused";
        return false;
    }
    for (ULONGLONG at = start; at + kHeaderSize <= end;) {
        if (++records_ > presentation_limits::kMaxRecords) {
            result_.refused = L"it holds more than " + std::to_wstring(presentation_limits::kMaxRecords) +
                              L" records; refused";
            return false;
        }
        BYTE raw[kHeaderSize];
        if (FAILED(ReadExactly(source_, at, raw, kHeaderSize))) {
            result_.problems.push_back(L"the record at byte " + std::to_wstring(at) + L" cannot be read");
            return true;
        }
        RecordHeader header;
        const WORD versionInstance = static_cast<WORD>(raw[0] | raw[1] << 8);
        header.version = versionInstance & 0xF;
        header.instance = versionInstance >> 4;
        header.type = static_cast<WORD>(raw[2] | raw[3] << 8);
        std::memcpy(&header.length, raw + 4, 4);
        const ULONGLONG bodyEnd = at + kHeaderSize + header.length;
        if (bodyEnd > end) {
            result_.problems.push_back(L"the record at byte " + std::to_wstring(at) +
                                       L" runs past the record that holds it (cut short?)");
            return true;
        }
        if (header.version == kContainerVersion) {
            if (!Walk(at + kHeaderSize, bodyEnd, depth + 1))
                return false;
        } else if (header.type == kObjectStorageRecord) {
            TakeObject(header, at);
            if (!result_.refused.empty())
                return false;
        }
        at = bodyEnd;
    }
    return true;
}

HRESULT Walker::ReadObject(const RecordHeader& header, ULONGLONG bodyOffset, UniqueHGlobal* bytes,
                           ULONG* size, std::wstring* why)
{
    using namespace presentation_limits;
    if (header.length > kMaxObjectBytes) {
        *why = L"it is larger than the ceiling of " + std::to_wstring(kMaxObjectBytes) + L" bytes";
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    UniqueHGlobal body(::GlobalAlloc(GMEM_FIXED, header.length ? header.length : 1));
    if (!body)
        return E_OUTOFMEMORY;
    HRESULT hr = ReadExactly(source_, bodyOffset, body.get(), header.length);
    if (FAILED(hr)) {
        *why = L"it cannot be read";
        return hr;
    }
    if (header.instance != kCompressedInstance) {
        *bytes = std::move(body);
        *size = header.length;
        return S_OK;
    }
    const BYTE* at = static_cast<const BYTE*>(body.get());
    ULONG declared = 0;
    if (header.length < 4) {
        *why = L"it is too short for a compressed object";
        return STG_E_READFAULT;
    }
    std::memcpy(&declared, at, 4);
    if (declared > kMaxObjectBytes ||
        (declared > kRatioFloor && declared / std::max<ULONG>(header.length, 1) > kMaxRatio)) {
        *why = L"it would inflate " + std::to_wstring(header.length) + L" bytes to " +
               std::to_wstring(declared) + L" (a compression bomb)";
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    hr = InflateExactly(at + 4, header.length - 4, declared, bytes, why);
    *size = declared;
    return hr;
}

void Walker::TakeObject(const RecordHeader& header, ULONGLONG offset)
{
    UniqueHGlobal bytes;
    ULONG size = 0;
    std::wstring why;
    HRESULT hr = ReadObject(header, offset + kHeaderSize, &bytes, &size, &why);
    const std::wstring where = L"the embedded object at byte " + std::to_wstring(offset);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)) {
        result_.refused = where + L": " + why + L"; refused";
        return;
    }
    if (FAILED(hr)) {
        result_.problems.push_back(where + L": " + (why.empty() ? L"it cannot be read" : why));
        return;
    }
    ++result_.objects;
    found_(std::move(bytes), size, offset);
}

} // namespace

RecordWalk WalkPresentationRecords(IStream* stream, const EmbeddedObjectFound& found)
{
    STATSTG stat = {};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) {
        RecordWalk failed;
        failed.problems.push_back(L"the stream cannot be read");
        return failed;
    }
    const StreamSource source(stream, stat.cbSize.QuadPart);
    return Walker(source, found).Run(source.Size());
}
