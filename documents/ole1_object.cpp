#include "documents/ole1_object.h"

#include <wrl/client.h>

#include <cstring>

#include "documents/drawing_findings.h"
#include "embedded/drawing_names.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kEmbedded = 2;
constexpr BYTE kCompoundSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

struct Header
{
    std::string className;
    DWORD format = 0;
    ULONG nativeOffset = 0;
    ULONG nativeSize = 0;
};

class Cursor
{
public:
    Cursor(const BYTE* bytes, ULONG size) : bytes_(bytes), size_(size) {}
    bool U32(DWORD* value)
    {
        if (size_ - at_ < 4)
            return false;
        std::memcpy(value, bytes_ + at_, 4);
        at_ += 4;
        return true;
    }
    // A string with its length (terminating zero included) in front.
    bool Text(std::string* text)
    {
        DWORD length = 0;
        if (!U32(&length) || length > ole1_limits::kMaxName || length > size_ - at_)
            return false;
        text->assign(reinterpret_cast<const char*>(bytes_ + at_), length ? length - 1 : 0);
        at_ += length;
        return true;
    }
    ULONG at() const { return at_; }
    ULONG left() const { return size_ - at_; }

private:
    const BYTE* bytes_;
    ULONG size_;
    ULONG at_ = 0;
};

bool ParseHeader(const BYTE* bytes, ULONG size, Header* header, std::wstring* why)
{
    Cursor cursor(bytes, size);
    DWORD version = 0;
    std::string topic;
    std::string item;
    if (!cursor.U32(&version) || !cursor.U32(&header->format)) {
        *why = L"its object data is too short for an object header";
        return false;
    }
    if (header->format != kEmbedded)
        return true;
    if (!cursor.Text(&header->className) || !cursor.Text(&topic) || !cursor.Text(&item) ||
        !cursor.U32(&header->nativeSize) || header->nativeSize > cursor.left()) {
        *why = L"its object header is damaged or claims more data than the object holds";
        return false;
    }
    header->nativeOffset = cursor.at();
    return true;
}

// The object stream handed to the platform's conversion, read from memory.
struct MemoryOleStream
{
    OLESTREAM base;
    const BYTE* bytes;
    ULONG size;
    ULONG at;

    static DWORD CALLBACK Get(LPOLESTREAM stream, void* buffer, DWORD length)
    {
        auto* self = reinterpret_cast<MemoryOleStream*>(stream);
        const DWORD take = length < self->size - self->at ? length : self->size - self->at;
        std::memcpy(buffer, self->bytes + self->at, take);
        self->at += take;
        return take;
    }
    static DWORD CALLBACK Put(LPOLESTREAM, const void*, DWORD) { return 0; }
};

bool HasDrawingStreams(IStorage* storage)
{
    ComPtr<IStream> stream;
    return SUCCEEDED(
        storage->OpenStream(kNativeDataStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream));
}

HRESULT ConvertOnPlatform(const BYTE* bytes, ULONG size, ComPtr<IStorage>* storage)
{
    static OLESTREAMVTBL table = {&MemoryOleStream::Get, &MemoryOleStream::Put};
    MemoryOleStream stream = {{&table}, bytes, size, 0};
    ComPtr<ILockBytes> lockBytes;
    HRESULT hr = ::CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes);
    if (FAILED(hr))
        return hr;
    hr = ::StgCreateDocfileOnILockBytes(lockBytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                        0, storage->ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return hr;
    return ::OleConvertOLESTREAMToIStorage(&stream.base, storage->Get(), nullptr);
}

// The native data moved to the block's start, and the block opened as the
// compound file it holds; the storage takes the block.
HRESULT OpenNativeData(UniqueHGlobal* block, const Header& header, ComPtr<IStorage>* storage)
{
    {
        GlobalLockGuard at(block->get());
        if (!at)
            return E_OUTOFMEMORY;
        std::memmove(at.bytes(), at.bytes() + header.nativeOffset, header.nativeSize);
    }
    HGLOBAL cut = ::GlobalReAlloc(block->get(), header.nativeSize, GMEM_MOVEABLE);
    if (cut) {
        block->release();
        block->reset(cut);
    }
    ComPtr<ILockBytes> lockBytes;
    HRESULT hr = ::CreateILockBytesOnHGlobal(block->get(), TRUE, &lockBytes);
    if (FAILED(hr))
        return hr;
    block->release();
    // The lock-bytes object reports the block's size: it must be the data's.
    ULARGE_INTEGER size = {};
    size.QuadPart = header.nativeSize;
    lockBytes->SetSize(size);
    return ::StgOpenStorageOnILockBytes(lockBytes.Get(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr,
                                        0, storage->ReleaseAndGetAddressOf());
}

} // namespace

HRESULT OpenOle1Object(UniqueHGlobal* block, ULONG size, Ole1Object* object, std::wstring* why)
{
    Header header;
    bool compoundNative = false;
    {
        GlobalLockGuard at(block->get());
        if (!at) {
            *why = L"its object data is empty";
            return E_INVALIDARG;
        }
        if (!ParseHeader(at.bytes(), size, &header, why))
            return STG_E_INVALIDHEADER;
        if (header.format != kEmbedded)
            return S_FALSE;
        compoundNative = header.nativeSize >= sizeof(kCompoundSignature) &&
                         std::memcmp(at.bytes() + header.nativeOffset, kCompoundSignature, 8) == 0;
        object->className.assign(header.className.begin(), header.className.end());
        HRESULT hr = ConvertOnPlatform(at.bytes(), size, &object->storage);
        if (SUCCEEDED(hr) && (HasDrawingStreams(object->storage.Get()) || !compoundNative)) {
            object->road = L"converted by the platform";
            return S_OK;
        }
        object->storage.Reset();
        if (!compoundNative) {
            *why = L"the platform cannot convert its object data (" + HexResult(hr) + L")";
            return hr;
        }
    }
    // The platform's conversion left the object's own storage out (seen with
    // some implementations of it): the native data is that storage.
    HRESULT hr = OpenNativeData(block, header, &object->storage);
    if (FAILED(hr)) {
        *why = L"its native data is no readable compound file";
        return hr;
    }
    object->road = L"native data opened as a compound file";
    return S_OK;
}
