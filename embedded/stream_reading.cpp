#include "embedded/stream_reading.h"

#include <shlwapi.h>

#include <algorithm>
#include <utility>

namespace {

// Reads up to length bytes; fewer when the stream ends early. The stream may
// be anyone's: a count above what was asked for is a fault of the stream, and
// believing it would aim the next read past the block.
HRESULT ReadUpTo(IStream* stream, BYTE* bytes, ULONG length, ULONG* read)
{
    *read = 0;
    while (*read < length) {
        ULONG chunk = 0;
        HRESULT hr = stream->Read(bytes + *read, length - *read, &chunk);
        if (FAILED(hr))
            return hr;
        if (chunk > length - *read)
            return STG_E_READFAULT;
        if (chunk == 0)
            break;
        *read += chunk;
    }
    return S_OK;
}

// A fixed block resized to size bytes, keeping what it holds; false when the
// platform cannot resize it (the block is then unchanged).
bool ResizeBlock(UniqueHGlobal* block, ULONG size)
{
    HGLOBAL resized = ::GlobalReAlloc(block->get(), size, GMEM_MOVEABLE);
    if (!resized)
        return false;
    block->release();
    block->reset(resized);
    return true;
}

// The size of a stream as a 32-bit count.
HRESULT StreamSize32(IStream* stream, ULONG* size)
{
    ULARGE_INTEGER big = {};
    HRESULT hr = ::IStream_Size(stream, &big);
    if (FAILED(hr))
        return hr;
    if (big.HighPart != 0)
        return STG_E_READFAULT;
    *size = big.LowPart;
    return S_OK;
}

} // namespace

HRESULT ReadClaimedBytes(IStream* stream, UniqueHGlobal* block, ULONG* read, ULONG* claimed)
{
    block->reset();
    *read = 0;
    *claimed = 0;
    HRESULT hr = StreamSize32(stream, claimed);
    if (FAILED(hr))
        return hr;
    const ULONG size = *claimed;
    LARGE_INTEGER start = {};
    hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr))
        return hr;
    if (size == 0)
        return S_OK;

    ULONG capacity = std::min(size, kTrustedClaim);
    UniqueHGlobal bytes(::GlobalAlloc(GMEM_FIXED, capacity));
    if (!bytes)
        return E_OUTOFMEMORY;
    ULONG filled = 0;
    for (;;) {
        ULONG chunk = 0;
        {
            GlobalLockGuard at(bytes.get());
            if (!at)
                return E_OUTOFMEMORY;
            hr = ReadUpTo(stream, static_cast<BYTE*>(at.get()) + filled, capacity - filled, &chunk);
        }
        if (FAILED(hr))
            return hr;
        filled += chunk;
        // A block not filled means the stream has ended; so does a read that
        // brought nothing.
        if (chunk == 0 || filled < capacity || filled == size)
            break;
        capacity = static_cast<ULONG>(std::min<ULONGLONG>(size, ULONGLONG(capacity) * 2));
        if (!ResizeBlock(&bytes, capacity))
            return E_OUTOFMEMORY;
    }
    if (filled == 0)
        return S_OK;
    // A stream that ended early leaves unused room; the block is cut to what
    // arrived, so that its size is the count of bytes read.
    if (filled < capacity && !ResizeBlock(&bytes, filled))
        return E_OUTOFMEMORY;
    *block = std::move(bytes);
    *read = filled;
    return S_OK;
}
