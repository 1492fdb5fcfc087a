#pragma once

// The clipboard formats of an embedded drawing. The named formats are registered
// anew at each use: registering a name again yields the same number while the
// system runs, so nothing is cached.

#include <windows.h>

#include "embedded/drawing_names.h"

CLIPFORMAT RegisterNativeDataFormat();
CLIPFORMAT RegisterEmbedSourceFormat();
CLIPFORMAT RegisterEmbeddedObjectFormat();
