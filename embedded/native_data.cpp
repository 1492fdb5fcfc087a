#include "embedded/native_data.h"

#include <cstring>

SIZE_T NativeDataSize(HGLOBAL block)
{
    return block ? ::GlobalSize(block) : 0;
}

HRESULT CopyNativeData(HGLOBAL source, UniqueHGlobal* copy)
{
    copy->reset();
    SIZE_T size = NativeDataSize(source);
    if (size == 0)
        return S_OK;
    GlobalLockGuard from(source);
    if (!from)
        return E_INVALIDARG;
    UniqueHGlobal block(::GlobalAlloc(GMEM_FIXED, size));
    if (!block)
        return E_OUTOFMEMORY;
    // A fixed block's handle is its address.
    std::memcpy(static_cast<void*>(block.get()), from.get(), size);
    *copy = std::move(block);
    return S_OK;
}

HRESULT MakeNativeDataMedium(HGLOBAL source, UniqueHGlobal* block)
{
    HRESULT hr = CopyNativeData(source, block);
    if (FAILED(hr) || *block)
        return hr;
    block->reset(::GlobalAlloc(GMEM_MOVEABLE, 0));
    return *block ? S_OK : E_OUTOFMEMORY;
}
