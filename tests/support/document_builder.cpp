#include "support/document_builder.h"

#include <zlib.h>

#include <wrl/client.h>

#include <cstring>

#include "server/handles.h"

namespace testing_support {

namespace {

void Put16(DocBytes* out, WORD value)
{
    out->push_back(static_cast<BYTE>(value));
    out->push_back(static_cast<BYTE>(value >> 8));
}

void Put32(DocBytes* out, DWORD value)
{
    for (int i = 0; i < 4; ++i)
        out->push_back(static_cast<BYTE>(value >> (8 * i)));
}

void Put64(DocBytes* out, ULONGLONG value)
{
    Put32(out, static_cast<DWORD>(value));
    Put32(out, static_cast<DWORD>(value >> 32));
}

void PutText(DocBytes* out, const std::string& text)
{
    out->insert(out->end(), text.begin(), text.end());
}

} // namespace

DocBytes Deflate(const DocBytes& bytes, bool raw, int level)
{
    z_stream z = {};
    deflateInit2(&z, level, Z_DEFLATED, raw ? -MAX_WBITS : MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    DocBytes out(deflateBound(&z, static_cast<uLong>(bytes.size())));
    z.next_in = const_cast<BYTE*>(bytes.data());
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

DWORD Crc32(const DocBytes& bytes)
{
    return crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size()));
}

void ZipBuilder::Add(const std::string& name, const DocBytes& data, bool deflate)
{
    AddRaw(name, deflate ? Deflate(data, true) : data, data.size(), Crc32(data), deflate ? 8 : 0);
}

void ZipBuilder::AddRaw(const std::string& name, const DocBytes& data, ULONGLONG declaredSize, DWORD crc,
                        WORD method)
{
    entries_.push_back(ZipEntryRecord{name, bytes_.size(), data.size(), declaredSize, crc, method});
    Put32(&bytes_, 0x04034b50);
    Put16(&bytes_, 20);
    Put16(&bytes_, 0x0800);
    Put16(&bytes_, method);
    Put32(&bytes_, 0);
    Put32(&bytes_, crc);
    Put32(&bytes_, static_cast<DWORD>(data.size()));
    Put32(&bytes_, static_cast<DWORD>(declaredSize));
    Put16(&bytes_, static_cast<WORD>(name.size()));
    Put16(&bytes_, 0);
    PutText(&bytes_, name);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
}

void ZipBuilder::CentralHeader(const ZipEntryRecord& entry, bool zip64)
{
    const DWORD kMarked = 0xFFFFFFFF;
    Put32(&bytes_, 0x02014b50);
    Put16(&bytes_, 45);
    Put16(&bytes_, zip64 ? 45 : 20);
    Put16(&bytes_, 0x0800);
    Put16(&bytes_, entry.method);
    Put32(&bytes_, 0);
    Put32(&bytes_, entry.crc);
    Put32(&bytes_, zip64 ? kMarked : static_cast<DWORD>(entry.compressed));
    Put32(&bytes_, zip64 ? kMarked : static_cast<DWORD>(entry.size));
    Put16(&bytes_, static_cast<WORD>(entry.name.size()));
    Put16(&bytes_, zip64 ? 28 : 0);
    Put16(&bytes_, 0);
    Put16(&bytes_, 0);
    Put16(&bytes_, 0);
    Put32(&bytes_, 0);
    Put32(&bytes_, zip64 ? kMarked : static_cast<DWORD>(entry.offset));
    PutText(&bytes_, entry.name);
    if (zip64) {
        // The extra field holds what the header marks: size, compressed size, offset.
        Put16(&bytes_, 0x0001);
        Put16(&bytes_, 24);
        Put64(&bytes_, entry.size);
        Put64(&bytes_, entry.compressed);
        Put64(&bytes_, entry.offset);
    }
}

DocBytes ZipBuilder::Finish()
{
    const ULONGLONG directory = bytes_.size();
    for (const ZipEntryRecord& entry : entries_)
        CentralHeader(entry, false);
    const ULONGLONG size = bytes_.size() - directory;
    Put32(&bytes_, 0x06054b50);
    Put32(&bytes_, 0);
    Put16(&bytes_, static_cast<WORD>(entries_.size()));
    Put16(&bytes_, static_cast<WORD>(entries_.size()));
    Put32(&bytes_, static_cast<DWORD>(size));
    Put32(&bytes_, static_cast<DWORD>(directory));
    Put16(&bytes_, 0);
    return std::move(bytes_);
}

DocBytes ZipBuilder::FinishZip64()
{
    const ULONGLONG directory = bytes_.size();
    for (const ZipEntryRecord& entry : entries_)
        CentralHeader(entry, true);
    const ULONGLONG size = bytes_.size() - directory;
    const ULONGLONG record = bytes_.size();
    Put32(&bytes_, 0x06064b50);
    Put64(&bytes_, 44);
    Put16(&bytes_, 45);
    Put16(&bytes_, 45);
    Put32(&bytes_, 0);
    Put32(&bytes_, 0);
    Put64(&bytes_, entries_.size());
    Put64(&bytes_, entries_.size());
    Put64(&bytes_, size);
    Put64(&bytes_, directory);
    Put32(&bytes_, 0x07064b50);
    Put32(&bytes_, 0);
    Put64(&bytes_, record);
    Put32(&bytes_, 1);
    // The classic end record marks every field as found in the ZIP64 one.
    Put32(&bytes_, 0x06054b50);
    Put32(&bytes_, 0);
    Put16(&bytes_, 0xFFFF);
    Put16(&bytes_, 0xFFFF);
    Put32(&bytes_, 0xFFFFFFFF);
    Put32(&bytes_, 0xFFFFFFFF);
    Put16(&bytes_, 0);
    return std::move(bytes_);
}

DocBytes Ole1EmbeddedObject(const std::string& className, const DocBytes& native)
{
    DocBytes out;
    Put32(&out, 0x00000501);
    Put32(&out, 2);
    Put32(&out, static_cast<DWORD>(className.size() + 1));
    PutText(&out, className);
    out.push_back(0);
    Put32(&out, 0);
    Put32(&out, 0);
    Put32(&out, static_cast<DWORD>(native.size()));
    out.insert(out.end(), native.begin(), native.end());
    // The presentation that follows: none.
    Put32(&out, 0x00000501);
    Put32(&out, 0);
    return out;
}

std::string RtfHex(const DocBytes& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2 + bytes.size() / 64);
    for (size_t i = 0; i < bytes.size(); ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 15];
        if (i % 64 == 63)
            hex += "\r\n";
    }
    return hex;
}

void AppendPresentationRecord(DocBytes* out, WORD version, WORD instance, WORD type, const DocBytes& body)
{
    Put16(out, static_cast<WORD>(version | instance << 4));
    Put16(out, type);
    Put32(out, static_cast<DWORD>(body.size()));
    out->insert(out->end(), body.begin(), body.end());
}

bool PatchStreamClaim(DocBytes* file, const wchar_t* name, int nth, DWORD claim)
{
    const size_t nameBytes = (std::wcslen(name) + 1) * sizeof(wchar_t);
    // Directory entries are 128 bytes long in 512-byte sectors; the name
    // comes first, its length at 0x40, the stream's size at 0x78.
    for (size_t entry = 512; entry + 128 <= file->size(); entry += 128) {
        BYTE* at = file->data() + entry;
        if (std::memcmp(at, name, nameBytes) == 0 && at[0x40] == nameBytes && at[0x42] == STGTY_STREAM &&
            nth-- == 0) {
            std::memcpy(at + 0x78, &claim, sizeof(claim));
            return true;
        }
    }
    return false;
}

bool ZeroSecondPictureRecord(DocBytes* bytes, const DocBytes& pictureBits)
{
    if (pictureBits.size() < sizeof(ENHMETAHEADER))
        return false;
    DWORD headerSize = 0;
    std::memcpy(&headerSize, pictureBits.data() + 4, 4);
    for (size_t at = 0; at + pictureBits.size() <= bytes->size(); ++at) {
        if (std::memcmp(bytes->data() + at, pictureBits.data(), pictureBits.size()) == 0) {
            std::memset(bytes->data() + at + headerSize + 4, 0, 4);
            return true;
        }
    }
    return false;
}

HRESULT OpenStorageOverBytes(const DocBytes& bytes, IStorage** storage)
{
    UniqueHGlobal block(::GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    if (!block)
        return E_OUTOFMEMORY;
    {
        GlobalLockGuard at(block.get());
        std::memcpy(at.get(), bytes.data(), bytes.size());
    }
    Microsoft::WRL::ComPtr<ILockBytes> lockBytes;
    HRESULT hr = ::CreateILockBytesOnHGlobal(block.get(), TRUE, &lockBytes);
    if (FAILED(hr))
        return hr;
    block.release();
    return ::StgOpenStorageOnILockBytes(lockBytes.Get(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                        nullptr, 0, storage);
}

bool WriteFileBytes(const std::wstring& path, const DocBytes& bytes)
{
    UniqueKernelHandle file =
        AdoptFileHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

DocBytes ReadFileBytes(const std::wstring& path)
{
    DocBytes bytes;
    UniqueKernelHandle file = AdoptFileHandle(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.get(), &size))
        return bytes;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() &&
        !::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        bytes.clear();
    return bytes;
}

} // namespace testing_support
