#pragma once

// The picture as containers display and print it: a Windows metafile picture
// converted from the drawing's enhanced metafile.

#include <windows.h>

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
