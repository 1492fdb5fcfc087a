#pragma once

// A zip archive read from its central directory, as the published description
// of the format lays it out; entries are inflated with zlib. Documents come
// from strangers: every size is checked against the archive and against what
// the entry really holds, and an entry whose inflated size or ratio passes the
// ceilings below (a zip bomb) is refused with a message.

#include <windows.h>

#include <string>
#include <vector>

#include "documents/byte_source.h"
#include "server/handles.h"

struct ZipEntry
{
    std::string name; // as stored: UTF-8 or the archive's code page
    std::wstring displayName;
    ULONGLONG compressedSize = 0;
    ULONGLONG size = 0;
    ULONGLONG localOffset = 0;
    DWORD crc = 0;
    WORD method = 0;
    WORD flags = 0;
};

// What reading an entry came to: S_OK, a fault of the entry (it declares
// other sizes than it holds, its checksum fails), or a refusal (a bomb, an
// encrypted entry, a method zlib does not inflate), each with why.
struct ZipRead
{
    HRESULT result = S_OK;
    bool refused = false;
    std::wstring why;
};

namespace zip_limits {
// No entry a drawing or its document needs is larger.
constexpr ULONGLONG kMaxEntryBytes = 1ull << 30;
// Real documents compress XML tens of times, rarely a hundred; beyond this,
// for an entry of some size, the entry is a bomb.
constexpr ULONGLONG kMaxRatio = 200;
constexpr ULONGLONG kRatioFloor = 16ull << 20;
constexpr size_t kMaxEntries = 1000000;
constexpr ULONGLONG kMaxDirectoryBytes = 256ull << 20;
} // namespace zip_limits

class ZipArchive
{
public:
    explicit ZipArchive(const ByteSource& source) : source_(source) {}
    // Reads the central directory; a failure names why the archive cannot be read.
    HRESULT Open(std::wstring* why);
    const std::vector<ZipEntry>& Entries() const { return entries_; }
    // The first bytes of an entry, up to length (to tell what it holds).
    ZipRead ReadPrefix(const ZipEntry& entry, BYTE* bytes, ULONG length, ULONG* read) const;
    // The whole entry in a new block of exactly its size (no block when empty).
    ZipRead ReadWhole(const ZipEntry& entry, UniqueHGlobal* block, ULONG* size) const;

private:
    HRESULT FindDirectory(ULONGLONG* offset, ULONGLONG* size, ULONGLONG* count, std::wstring* why);
    HRESULT ReadDirectory(ULONGLONG offset, ULONGLONG size, ULONGLONG count, std::wstring* why);
    ZipRead DataOffset(const ZipEntry& entry, ULONGLONG* offset) const;
    ZipRead Inflate(const ZipEntry& entry, BYTE* out, ULONGLONG capacity, bool whole,
                    ULONGLONG* produced) const;

    const ByteSource& source_;
    std::vector<ZipEntry> entries_;
};
