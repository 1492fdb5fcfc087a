#pragma once

// The native document as the object holds it: a fixed global block, or no block
// at all for an empty document.

#include <windows.h>

#include "server/handles.h"

// The document's length: all bytes of the block, 0 for no block.
SIZE_T NativeDataSize(HGLOBAL block);

// A new fixed block holding a byte copy of all of source; no block when source
// is empty. E_OUTOFMEMORY when the copy cannot be made, E_INVALIDARG when the
// source block cannot be read.
HRESULT CopyNativeData(HGLOBAL source, UniqueHGlobal* copy);

// A block to hand out for the document: a copy of it, or for an empty document a
// movable block of no bytes, which reads as zero bytes where a zero-byte fixed
// block may read as one.
HRESULT MakeNativeDataMedium(HGLOBAL source, UniqueHGlobal* block);
