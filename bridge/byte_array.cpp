#include "bridge/byte_array.h"

#include "embedded/metafile_picture.h"

#include <cstring>

SafeArrayDataGuard::SafeArrayDataGuard(SAFEARRAY* array) : array_(array)
{
    hr_ = array ? ::SafeArrayAccessData(array, &data_) : E_POINTER;
    if (FAILED(hr_))
        data_ = nullptr;
}

SafeArrayDataGuard::~SafeArrayDataGuard()
{
    if (SUCCEEDED(hr_))
        ::SafeArrayUnaccessData(array_);
}

namespace {

bool IsByteArray(SAFEARRAY* array)
{
    if (!array || ::SafeArrayGetDim(array) != 1 || ::SafeArrayGetElemsize(array) != 1)
        return false;
    VARTYPE type = VT_EMPTY;
    if (SUCCEEDED(::SafeArrayGetVartype(array, &type)) && type != VT_UI1)
        return false;
    // The payload is addressed from index 0: any other lower bound would shift
    // every byte or reach outside the array.
    return array->rgsabound[0].lLbound == 0;
}

// Script hosts pass a variable by reference: a variant that points at the
// caller's own variant. One level is followed; anything deeper is refused.
const VARIANT& Dereferenced(const VARIANT& value)
{
    if (value.vt == (VT_BYREF | VT_VARIANT) && value.pvarVal && value.pvarVal->vt != (VT_BYREF | VT_VARIANT))
        return *value.pvarVal;
    return value;
}

bool IsKeyType(const VARIANT& value)
{
    if (value.vt & (VT_ARRAY | VT_VECTOR | VT_RESERVED))
        return false;
    if ((value.vt & VT_BYREF) && !value.byref)
        return false;
    switch (value.vt & VT_TYPEMASK) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_BOOL:
    case VT_DECIMAL:
        return true;
    default:
        return false;
    }
}

} // namespace

HRESULT FindByteArray(const VARIANT& argument, SAFEARRAY** array)
{
    const VARIANT& value = Dereferenced(argument);
    *array = nullptr;
    if (value.vt == (VT_ARRAY | VT_UI1))
        *array = value.parray;
    else if (value.vt == (VT_BYREF | VT_ARRAY | VT_UI1) && value.pparray)
        *array = *value.pparray;
    if (!IsByteArray(*array)) {
        *array = nullptr;
        return E_INVALIDARG;
    }
    return S_OK;
}

ULONG ByteArrayLength(SAFEARRAY* array)
{
    return array ? array->rgsabound[0].cElements : 0;
}

HRESULT CreateByteArray(ULONG length, SafeArrayOwner* array)
{
    array->reset(::SafeArrayCreateVector(VT_UI1, 0, length));
    return array->get() ? S_OK : E_OUTOFMEMORY;
}

void MoveByteArrayTo(SafeArrayOwner* array, VARIANT* out)
{
    ::VariantInit(out);
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array->release();
}

HRESULT CopyByteArrayToGlobal(SAFEARRAY* array, UniqueHGlobal* block)
{
    const ULONG length = ByteArrayLength(array);
    // An empty document is a movable block of no bytes: a zero-byte fixed block
    // may report a size of one, and the receiver would keep a byte that never was.
    if (length == 0) {
        block->reset(::GlobalAlloc(GMEM_MOVEABLE, 0));
        return *block ? S_OK : E_OUTOFMEMORY;
    }
    // The data must be there before memory is taken for the count the
    // descriptor claims: a bare descriptor can claim gigabytes.
    SafeArrayDataGuard data(array);
    if (FAILED(data.status()))
        return data.status();
    if (!data.bytes())
        return E_INVALIDARG;
    block->reset(::GlobalAlloc(GMEM_FIXED, length));
    if (!*block)
        return E_OUTOFMEMORY;
    GlobalLockGuard target(block->get());
    if (!target)
        return E_OUTOFMEMORY;
    std::memcpy(target.bytes(), data.bytes(), length);
    return S_OK;
}

UniqueEnhMetaFile EnhMetaFileFromByteArray(SAFEARRAY* array)
{
    const ULONG length = ByteArrayLength(array);
    if (length == 0)
        return UniqueEnhMetaFile();
    SafeArrayDataGuard data(array);
    if (FAILED(data.status()) || !data.bytes())
        return UniqueEnhMetaFile();
    return EnhMetaFileFromBits(data.bytes(), length);
}

HRESULT ReadDrawingArguments(const VARIANT& native, const VARIANT& picture, UniqueHGlobal* block,
                             UniqueEnhMetaFile* metafile)
{
    // The arrays are read where the caller keeps them: each byte is copied once,
    // into the block or the metafile. A drawing of many megabytes would
    // otherwise pass through a copy of each array first.
    SAFEARRAY* nativeArray = nullptr;
    HRESULT hr = FindByteArray(native, &nativeArray);
    if (FAILED(hr))
        return hr;
    SAFEARRAY* pictureArray = nullptr;
    hr = FindByteArray(picture, &pictureArray);
    if (FAILED(hr))
        return hr;
    hr = CopyByteArrayToGlobal(nativeArray, block);
    if (FAILED(hr))
        return hr;
    *metafile = EnhMetaFileFromByteArray(pictureArray);
    return S_OK;
}

bool ObjectKeyFromVariant(const VARIANT& argument, LONG* key)
{
    const VARIANT& value = Dereferenced(argument);
    if (value.vt == VT_I4) {
        *key = value.lVal;
        return true;
    }
    // Conversion would read "no value" as key 0 and end someone else's edit.
    if (value.vt == VT_EMPTY || value.vt == VT_NULL || value.vt == VT_ERROR)
        return false;
    // Only numbers, text and truth values are converted. The platform's
    // conversion would first copy an array whole (or follow the bounds that a
    // bare descriptor claims), ask an object for its value, or read through a
    // null reference; none of these is a key.
    if (!IsKeyType(value))
        return false;
    VariantGuard converted;
    if (FAILED(::VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_I4)))
        return false;
    *key = converted->lVal;
    return true;
}
