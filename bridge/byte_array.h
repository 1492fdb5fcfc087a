#pragma once

// The byte arrays and object keys of the automation interface. A byte array is a
// one-dimensional safe array of VT_UI1 with lower bound 0; its variant's type tag
// is checked before anything in it is read, because a variant of another type
// carries no array at all.

#include <windows.h>
#include <oleauto.h>

#include "server/handles.h"

// Keeps a safe array's data locked for the guard's lifetime.
class SafeArrayDataGuard
{
public:
    explicit SafeArrayDataGuard(SAFEARRAY* array);
    SafeArrayDataGuard(const SafeArrayDataGuard&) = delete;
    SafeArrayDataGuard& operator=(const SafeArrayDataGuard&) = delete;
    ~SafeArrayDataGuard();
    HRESULT status() const { return hr_; }
    BYTE* bytes() const { return static_cast<BYTE*>(data_); }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
    HRESULT hr_;
};

// Checks that the variant holds a byte array (directly or by reference) and gives
// that array, which stays the caller's. E_INVALIDARG (and no array) for anything
// that is not one.
HRESULT FindByteArray(const VARIANT& value, SAFEARRAY** array);

// Number of bytes in a checked byte array.
ULONG ByteArrayLength(SAFEARRAY* array);

// A new byte array of length bytes (lower bound 0), its contents undefined.
HRESULT CreateByteArray(ULONG length, SafeArrayOwner* array);

// Moves a byte array into a caller's out variant (VT_ARRAY | VT_UI1).
void MoveByteArrayTo(SafeArrayOwner* array, VARIANT* out);

// A fixed global block holding the array's bytes, for handing native data over.
HRESULT CopyByteArrayToGlobal(SAFEARRAY* array, UniqueHGlobal* block);

// An enhanced metafile made from the array's bytes; null when they are not a
// valid metafile (that is not an error: the picture is then empty).
UniqueEnhMetaFile EnhMetaFileFromByteArray(SAFEARRAY* array);

// A drawing handed in as two byte arrays (native document, picture bits): both
// are checked first, then turned into a native-data block and a metafile (null
// when the bits are no valid metafile).
HRESULT ReadDrawingArguments(const VARIANT& native, const VARIANT& picture, UniqueHGlobal* block,
                             UniqueEnhMetaFile* metafile);

// Reads an object key. Anything the platform's variant conversion turns into a
// 32-bit integer is accepted (script clients send short integers); false when
// the variant carries no key.
bool ObjectKeyFromVariant(const VARIANT& value, LONG* key);
