#pragma once

// The picture as containers display and print it: a Windows metafile picture
// converted from the drawing's enhanced metafile.

#include <windows.h>

#include "server/handles.h"

// A new movable, shareable METAFILEPICT block (owned by the caller) for the
// picture, converted against the default printer or, without one, the screen.
// A drawing without a picture gives an empty metafile with no extent.
HRESULT MakeMetafilePict(HENHMETAFILE picture, HGLOBAL* metafilePict);

// True when bits hold an enhanced metafile whose records can be walked: a header
// record with the signature, then records of at least 8 bytes each, in steps of
// 4, that end exactly with the end-of-file record at the size the header gives.
// Bits that fail the check are no picture: the platform's own reader trusts the
// record sizes, and a record claiming no bytes at all keeps it playing for good.
bool IsWellFormedEnhMetaFile(const BYTE* bits, size_t size);

// The one way a picture gets into a drawing, whatever road it came by (a loaded
// stream, the automation byte arrays, SetData): a metafile made from bits that
// pass the record check, or null for bits that are no picture.
UniqueEnhMetaFile EnhMetaFileFromBits(const BYTE* bits, size_t size);

// A metafile a caller handed over, made again from its bits once they pass the
// same check. DV_E_FORMATETC for a picture whose records do not walk to their
// end (across processes the platform rebuilds the caller's bits without looking
// at them); E_INVALIDARG for a handle that yields no bits.
HRESULT CopyWellFormedEnhMetaFile(HENHMETAFILE picture, UniqueEnhMetaFile* copy);

// The size of a picture as containers are told it (GetExtent, the metafile
// picture's header): the frame's width and height in 0.01 mm, computed without
// overflow and capped at what a LONG holds. An inverted frame, or no picture,
// has no size (0 x 0).
SIZEL PictureExtent(HENHMETAFILE picture);
