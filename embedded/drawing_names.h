#pragma once

// The names under which a drawing is stored and exchanged: its two streams,
// its clipboard formats and its user type. Documents and clipboards already
// hold them, so they never change.

#include <windows.h>

// The picture (enhanced-metafile bits) and the native document.
constexpr const wchar_t kPictureStream[] = L"EMF";
constexpr const wchar_t kNativeDataStream[] = L"ZRN";

// The drawing application's native document in a global memory block; also the
// format recorded in a drawing's storage.
constexpr const char kNativeDataFlavourName[] =
    "JAVA_DATAFLAVOR:chemical/x-vantrelis-zrn; class=java.io.InputStream";
// The whole drawing as a storage holding its two streams.
constexpr const char kEmbedSourceName[] = "Embed Source";
constexpr const char kEmbeddedObjectName[] = "Embedded Object";

// The user type recorded beside the format in a drawing's storage.
constexpr const wchar_t kEmbeddedUserType[] = L"Quillmorph Embedded Object";
