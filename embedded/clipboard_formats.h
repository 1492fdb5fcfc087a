#pragma once

// The clipboard formats of an embedded drawing. The named formats are registered
// anew at each use: registering a name again yields the same number while the
// system runs, so nothing is cached.

#include <windows.h>

// The drawing application's native document in a global memory block; also the
// format recorded in a drawing's storage.
constexpr const char kNativeDataFlavourName[] =
    "JAVA_DATAFLAVOR:chemical/x-vantrelis-zrn; class=java.io.InputStream";
// The whole drawing as a storage holding its two streams.
constexpr const char kEmbedSourceName[] = "Embed Source";
constexpr const char kEmbeddedObjectName[] = "Embedded Object";

// The user type recorded beside the format in a drawing's storage.
constexpr const wchar_t kEmbeddedUserType[] = L"Quillmorph Embedded Object";

CLIPFORMAT RegisterNativeDataFormat();
CLIPFORMAT RegisterEmbedSourceFormat();
CLIPFORMAT RegisterEmbeddedObjectFormat();
