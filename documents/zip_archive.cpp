#include "documents/zip_archive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr DWORD kEndSignature = 0x06054b50;
constexpr DWORD kZip64LocatorSignature = 0x07064b50;
constexpr DWORD kZip64EndSignature = 0x06064b50;
constexpr DWORD kCentralSignature = 0x02014b50;
constexpr DWORD kLocalSignature = 0x04034b50;
constexpr ULONG kEndSize = 22;
constexpr ULONG kLocatorSize = 20;
constexpr ULONG kZip64EndSize = 56;
constexpr ULONG kCentralSize = 46;
constexpr ULONG kLocalSize = 30;
constexpr ULONG kChunk = 64 * 1024;
constexpr WORD kStored = 0;
constexpr WORD kDeflated = 8;
constexpr WORD kEncrypted = 0x0001;
constexpr WORD kUtf8Names = 0x0800;
constexpr ULONG kLargestComment = 0xFFFF;

WORD U16(const BYTE* at)
{
    return static_cast<WORD>(at[0] | at[1] << 8);
}
DWORD U32(const BYTE* at)
{
    return static_cast<DWORD>(at[0] | at[1] << 8 | at[2] << 16) | static_cast<DWORD>(at[3]) << 24;
}
ULONGLONG U64(const BYTE* at)
{
    return U32(at) | static_cast<ULONGLONG>(U32(at + 4)) << 32;
}

std::wstring Wide(const std::string& name, bool utf8)
{
    const UINT page = utf8 ? CP_UTF8 : 437;
    const int length = ::MultiByteToWideChar(page, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(page, 0, name.data(), static_cast<int>(name.size()), &wide[0], length);
    return wide;
}

ZipRead Refused(std::wstring why)
{
    return ZipRead{HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), true, std::move(why)};
}

ZipRead Fault(std::wstring why)
{
    return ZipRead{STG_E_READFAULT, false, std::move(why)};
}

// The ZIP64 extra field replaces the sizes and offset that the header marks
// as too large for 32 bits, in this order.
bool ApplyZip64Extra(const BYTE* extra, size_t length, ZipEntry* entry, bool bigSize, bool bigCompressed,
                     bool bigOffset)
{
    for (size_t at = 0; at + 4 <= length;) {
        const WORD id = U16(extra + at);
        const WORD size = U16(extra + at + 2);
        if (at + 4 + size > length)
            return false;
        if (id == 0x0001) {
            const BYTE* field = extra + at + 4;
            const size_t needed = 8u * (bigSize + bigCompressed + bigOffset);
            if (size < needed)
                return false;
            if (bigSize)
                entry->size = U64(field), field += 8;
            if (bigCompressed)
                entry->compressedSize = U64(field), field += 8;
            if (bigOffset)
                entry->localOffset = U64(field);
            return true;
        }
        at += 4 + size;
    }
    return !(bigSize || bigCompressed || bigOffset);
}

// One central header at bytes[at]; false when it does not fit or is not one.
bool ParseCentralHeader(const BYTE* bytes, size_t length, size_t* at, ZipEntry* entry)
{
    const BYTE* h = bytes + *at;
    if (length - *at < kCentralSize || U32(h) != kCentralSignature)
        return false;
    const size_t nameLength = U16(h + 28);
    const size_t extraLength = U16(h + 30);
    const size_t commentLength = U16(h + 32);
    if (length - *at - kCentralSize < nameLength + extraLength + commentLength)
        return false;
    entry->flags = U16(h + 8);
    entry->method = U16(h + 10);
    entry->crc = U32(h + 16);
    entry->compressedSize = U32(h + 20);
    entry->size = U32(h + 24);
    entry->localOffset = U32(h + 42);
    entry->name.assign(reinterpret_cast<const char*>(h + kCentralSize), nameLength);
    entry->displayName = Wide(entry->name, (entry->flags & kUtf8Names) != 0);
    if (!ApplyZip64Extra(h + kCentralSize + nameLength, extraLength, entry, entry->size == 0xFFFFFFFF,
                         entry->compressedSize == 0xFFFFFFFF, entry->localOffset == 0xFFFFFFFF))
        return false;
    *at += kCentralSize + nameLength + extraLength + commentLength;
    return true;
}

} // namespace

HRESULT ZipArchive::Open(std::wstring* why)
{
    entries_.clear();
    ULONGLONG offset = 0;
    ULONGLONG size = 0;
    ULONGLONG count = 0;
    HRESULT hr = FindDirectory(&offset, &size, &count, why);
    if (FAILED(hr))
        return hr;
    return ReadDirectory(offset, size, count, why);
}

HRESULT ZipArchive::FindDirectory(ULONGLONG* offset, ULONGLONG* size, ULONGLONG* count, std::wstring* why)
{
    const ULONGLONG total = source_.Size();
    const ULONG tail = static_cast<ULONG>(std::min<ULONGLONG>(total, kEndSize + kLargestComment));
    std::vector<BYTE> bytes(tail);
    if (tail < kEndSize || FAILED(ReadExactly(source_, total - tail, bytes.data(), tail))) {
        *why = L"no end of the zip directory";
        return STG_E_INVALIDHEADER;
    }
    // The end record is the last one whose signature appears; a comment may follow it.
    size_t end = tail - kEndSize + 1;
    while (end-- > 0 && U32(&bytes[end]) != kEndSignature) {
    }
    if (end == static_cast<size_t>(-1)) {
        *why = L"no end of the zip directory";
        return STG_E_INVALIDHEADER;
    }
    const BYTE* e = &bytes[end];
    if (U16(e + 4) != 0 || U16(e + 6) != 0) {
        *why = L"the archive spans several disks, which documents never do";
        return STG_E_INVALIDHEADER;
    }
    *count = U16(e + 10);
    *size = U32(e + 12);
    *offset = U32(e + 16);
    const ULONGLONG endAt = total - tail + end;
    if (endAt < kLocatorSize)
        return S_OK;
    BYTE locator[kLocatorSize];
    if (FAILED(ReadExactly(source_, endAt - kLocatorSize, locator, kLocatorSize)) ||
        U32(locator) != kZip64LocatorSignature)
        return S_OK;
    // ZIP64: the counts and offsets that did not fit lie in a record of their own.
    BYTE record[kZip64EndSize];
    const ULONGLONG recordAt = U64(locator + 8);
    if (recordAt > total || FAILED(ReadExactly(source_, recordAt, record, kZip64EndSize)) ||
        U32(record) != kZip64EndSignature) {
        *why = L"its ZIP64 directory record is missing or damaged";
        return STG_E_INVALIDHEADER;
    }
    *count = U64(record + 32);
    *size = U64(record + 40);
    *offset = U64(record + 48);
    return S_OK;
}

HRESULT ZipArchive::ReadDirectory(ULONGLONG offset, ULONGLONG size, ULONGLONG count, std::wstring* why)
{
    if (count > zip_limits::kMaxEntries || size > zip_limits::kMaxDirectoryBytes) {
        *why = L"its directory claims " + std::to_wstring(count) + L" entries in " + std::to_wstring(size) +
               L" bytes, more than any document has; refused";
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    if (offset > source_.Size() || size > source_.Size() - offset) {
        *why = L"its directory lies past the end of the file (cut short?)";
        return STG_E_INVALIDHEADER;
    }
    std::vector<BYTE> bytes(static_cast<size_t>(size));
    if (size && FAILED(ReadExactly(source_, offset, bytes.data(), static_cast<ULONG>(size)))) {
        *why = L"its directory cannot be read";
        return STG_E_READFAULT;
    }
    size_t at = 0;
    for (ULONGLONG i = 0; i < count; ++i) {
        ZipEntry entry;
        if (!ParseCentralHeader(bytes.data(), bytes.size(), &at, &entry)) {
            *why = L"its directory is damaged at entry " + std::to_wstring(i + 1);
            return STG_E_INVALIDHEADER;
        }
        entries_.push_back(std::move(entry));
    }
    return S_OK;
}

ZipRead ZipArchive::DataOffset(const ZipEntry& entry, ULONGLONG* offset) const
{
    BYTE local[kLocalSize];
    if (entry.localOffset > source_.Size() ||
        FAILED(ReadExactly(source_, entry.localOffset, local, kLocalSize)) || U32(local) != kLocalSignature)
        return Fault(L"its local header is missing or damaged");
    *offset = entry.localOffset + kLocalSize + U16(local + 26) + U16(local + 28);
    if (*offset > source_.Size() || entry.compressedSize > source_.Size() - *offset)
        return Fault(L"its data runs past the end of the archive (cut short?)");
    if (entry.flags & kEncrypted)
        return ZipRead{E_ACCESSDENIED, true, L"it is encrypted"};
    if (entry.method != kStored && entry.method != kDeflated)
        return ZipRead{E_NOTIMPL, true,
                       L"it is compressed by method " + std::to_wstring(entry.method) +
                           L", which documents do not use"};
    if (entry.size > zip_limits::kMaxEntryBytes)
        return Refused(L"it declares " + std::to_wstring(entry.size) + L" bytes, more than the ceiling of " +
                       std::to_wstring(zip_limits::kMaxEntryBytes) + L"; refused");
    if (entry.size > zip_limits::kRatioFloor &&
        entry.size / std::max<ULONGLONG>(entry.compressedSize, 1) > zip_limits::kMaxRatio)
        return Refused(L"it would inflate " + std::to_wstring(entry.compressedSize) + L" bytes to " +
                       std::to_wstring(entry.size) + L" (a zip bomb); refused");
    return ZipRead{};
}

// One round of inflating a chunk of input into out; true when the entry's
// stream ended. Past capacity, inflating goes on into a byte of scratch only
// to see whether the stream ends there (it may hold its end marker after the
// last byte) or holds more than the room made for it.
static ZipRead InflateChunk(z_stream* z, BYTE* out, ULONGLONG capacity, ULONGLONG* produced, bool* ended,
                            bool* more)
{
    BYTE scratch = 0;
    while (z->avail_in > 0 && !*ended && !*more) {
        BYTE* before = *produced < capacity ? out + *produced : &scratch;
        z->next_out = before;
        z->avail_out =
            *produced < capacity ? static_cast<uInt>(std::min<ULONGLONG>(capacity - *produced, 1u << 30)) : 1;
        const int status = inflate(z, Z_NO_FLUSH);
        const ULONGLONG made = static_cast<ULONGLONG>(z->next_out - before);
        if (before == &scratch)
            *more = made > 0;
        else
            *produced += made;
        if (status == Z_STREAM_END)
            *ended = true;
        else if (status == Z_BUF_ERROR)
            break;
        else if (status != Z_OK)
            return Fault(L"its compressed data is damaged");
    }
    return ZipRead{};
}

ZipRead ZipArchive::Inflate(const ZipEntry& entry, BYTE* out, ULONGLONG capacity, bool whole,
                            ULONGLONG* produced) const
{
    *produced = 0;
    ULONGLONG offset = 0;
    ZipRead read = DataOffset(entry, &offset);
    if (FAILED(read.result))
        return read;
    z_stream z = {};
    if (entry.method == kDeflated && inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return ZipRead{E_OUTOFMEMORY, false, L"zlib cannot start"};
    std::unique_ptr<z_stream, int (*)(z_stream*)> owner(entry.method == kDeflated ? &z : nullptr, inflateEnd);
    std::unique_ptr<BYTE[]> chunk(new (std::nothrow) BYTE[kChunk]);
    if (!chunk)
        return ZipRead{E_OUTOFMEMORY, false, L"no memory"};
    ULONGLONG consumed = 0;
    bool ended = false;
    bool more = false;
    while (!ended && !more && (whole || *produced < capacity) && consumed < entry.compressedSize) {
        const ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(kChunk, entry.compressedSize - consumed));
        if (FAILED(ReadExactly(source_, offset + consumed, chunk.get(), want)))
            return Fault(L"its data cannot be read");
        consumed += want;
        if (entry.method == kStored) {
            const ULONGLONG take = std::min<ULONGLONG>(want, capacity - *produced);
            std::memcpy(out + *produced, chunk.get(), static_cast<size_t>(take));
            *produced += take;
            more = take < want;
            continue;
        }
        z.next_in = chunk.get();
        z.avail_in = want;
        ZipRead round = InflateChunk(&z, out, capacity, produced, &ended, &more);
        if (FAILED(round.result))
            return round;
    }
    if (!whole)
        return ZipRead{};
    if (more)
        return Fault(L"it holds more than the " + std::to_wstring(entry.size) + L" bytes it declares");
    if (*produced < entry.size || (entry.method == kDeflated && !ended))
        return Fault(L"it declares " + std::to_wstring(entry.size) + L" bytes and holds " +
                     std::to_wstring(*produced) + L" (cut short?)");
    return ZipRead{};
}

ZipRead ZipArchive::ReadPrefix(const ZipEntry& entry, BYTE* bytes, ULONG length, ULONG* read) const
{
    ULONGLONG produced = 0;
    ZipRead result = Inflate(entry, bytes, std::min<ULONGLONG>(length, entry.size), false, &produced);
    *read = static_cast<ULONG>(produced);
    return result;
}

ZipRead ZipArchive::ReadWhole(const ZipEntry& entry, UniqueHGlobal* block, ULONG* size) const
{
    block->reset();
    *size = 0;
    ULONGLONG offset = 0;
    ZipRead checked = DataOffset(entry, &offset);
    if (FAILED(checked.result) || entry.size == 0)
        return checked;
    UniqueHGlobal bytes(::GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(entry.size)));
    if (!bytes)
        return ZipRead{E_OUTOFMEMORY, false, L"no memory for its " + std::to_wstring(entry.size) + L" bytes"};
    ULONGLONG produced = 0;
    ZipRead result = Inflate(entry, static_cast<BYTE*>(bytes.get()), entry.size, true, &produced);
    if (FAILED(result.result))
        return result;
    ULONG crc = crc32(0L, Z_NULL, 0);
    for (ULONGLONG at = 0; at < produced; at += 1u << 30)
        crc = crc32(crc, static_cast<BYTE*>(bytes.get()) + at,
                    static_cast<uInt>(std::min<ULONGLONG>(produced - at, 1u << 30)));
    if (crc != entry.crc)
        result.why = L"its checksum does not match its bytes";
    *block = std::move(bytes);
    *size = static_cast<ULONG>(produced);
    return result;
}
