#pragma once

// The picture as containers display and print it: a Windows metafile picture
// converted from the drawing's enhanced metafile.

#include <windows.h>

// A new movable, shareable METAFILEPICT block (owned by the caller) for the
// picture, converted against the default printer or, without one, the screen.
// A drawing without a picture gives an empty metafile with no extent.
HRESULT MakeMetafilePict(HENHMETAFILE picture, HGLOBAL* metafilePict);
