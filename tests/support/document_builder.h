#pragma once

// Containers' documents made from the formats' public descriptions, for the
// document check's tests, its fuzzer and its benchmark: zip archives (stored
// or deflated entries, with any declared sizes), compound files holding
// storages, the binary presentation format's records, RTF object groups and
// the OLE1 object stream they carry.

#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

namespace testing_support {

using DocBytes = std::vector<BYTE>;

// zlib's deflate: raw (as zip entries hold it) or with its zlib wrapper.
DocBytes Deflate(const DocBytes& bytes, bool raw, int level = 6);
DWORD Crc32(const DocBytes& bytes);

struct ZipEntryRecord
{
    std::string name;
    ULONGLONG offset;
    ULONGLONG compressed;
    ULONGLONG size;
    DWORD crc;
    WORD method;
};

class ZipBuilder
{
public:
    // An entry deflated (or stored), with its true sizes and checksum.
    void Add(const std::string& name, const DocBytes& data, bool deflate = true);
    // An entry as given: data already compressed by method, declaring size and crc.
    void AddRaw(const std::string& name, const DocBytes& data, ULONGLONG declaredSize, DWORD crc,
                WORD method);
    DocBytes Finish();
    // The same with the ZIP64 records: every size and offset in the directory
    // given in its extra field, the counts in the ZIP64 end record.
    DocBytes FinishZip64();

private:
    void CentralHeader(const ZipEntryRecord& entry, bool zip64);
    DocBytes bytes_;
    std::vector<ZipEntryRecord> entries_;
};

// The OLE1 object stream of an embedded object of className whose native
// data is native, with an empty presentation.
DocBytes Ole1EmbeddedObject(const std::string& className, const DocBytes& native);

// Bytes as RTF writes them in \objdata: hex digits, a line break every 128.
std::string RtfHex(const DocBytes& bytes);

// A record of the binary presentation format: header, then body.
void AppendPresentationRecord(DocBytes* out, WORD version, WORD instance, WORD type, const DocBytes& body);

// In a compound file's bytes, makes the nth (0-based) stream named name claim
// claim bytes in its directory entry; false when there is no such stream.
bool PatchStreamClaim(DocBytes* file, const wchar_t* name, int nth, DWORD claim);

// Finds the picture's bits inside bytes and sets its second record's size to
// 0; false when the bits are not found whole.
bool ZeroSecondPictureRecord(DocBytes* bytes, const DocBytes& pictureBits);

// A storage over the compound file in bytes, for reading and writing.
HRESULT OpenStorageOverBytes(const DocBytes& bytes, IStorage** storage);

bool WriteFileBytes(const std::wstring& path, const DocBytes& bytes);
DocBytes ReadFileBytes(const std::wstring& path);

} // namespace testing_support
