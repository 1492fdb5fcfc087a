#include "documents/picture_records.h"

#include <cstddef>
#include <cstring>

#include "embedded/metafile_picture.h"

namespace {

std::wstring RecordAt(size_t index, size_t offset)
{
    return L"record " + std::to_wstring(index + 1) + L" at byte " + std::to_wstring(offset);
}

// Where the walk stops, in words; the drawing's own check decides whether the
// picture is sound, this only says why it is not.
std::wstring WalkRecords(const BYTE* bits, size_t total, PictureRecords* out)
{
    size_t offset = 0;
    while (offset + sizeof(EMR) <= total) {
        EMR record = {};
        std::memcpy(&record, bits + offset, sizeof(record));
        if (record.nSize == 0)
            return RecordAt(out->records, offset) + L" claims a size of 0 bytes";
        if (record.nSize < sizeof(EMR) || record.nSize % 4 != 0)
            return RecordAt(out->records, offset) + L" claims a size of " + std::to_wstring(record.nSize) +
                   L" bytes, which no record has";
        if (record.nSize > total - offset)
            return RecordAt(out->records, offset) + L" runs past the picture's end";
        ++out->records;
        offset += record.nSize;
        if (record.iType == EMR_EOF)
            return offset == total ? std::wstring() : L"the end record comes before the picture's end";
    }
    return L"the picture ends without its end record after " + std::to_wstring(out->records) + L" records";
}

} // namespace

PictureRecords DescribePictureRecords(const BYTE* bits, size_t size)
{
    PictureRecords out;
    ENHMETAHEADER header = {};
    const size_t smallestHeader = offsetof(ENHMETAHEADER, cbPixelFormat);
    if (!bits || size < smallestHeader) {
        out.fault = L"too short for a picture header";
        return out;
    }
    std::memcpy(&header, bits, smallestHeader);
    if (header.iType != EMR_HEADER || header.dSignature != ENHMETA_SIGNATURE) {
        out.fault = L"not an enhanced metafile (no header record)";
        return out;
    }
    out.frame = header.rclFrame;
    if (header.nBytes > size) {
        out.fault = L"the header claims " + std::to_wstring(header.nBytes) + L" bytes, the stream holds " +
                    std::to_wstring(size);
        return out;
    }
    out.fault = WalkRecords(bits, header.nBytes, &out);
    // The drawing's own check is the judge: a picture it refuses is never
    // reported sound here.
    if (out.fault.empty() && !IsWellFormedEnhMetaFile(bits, size))
        out.fault = L"the drawing does not accept its records";
    return out;
}
