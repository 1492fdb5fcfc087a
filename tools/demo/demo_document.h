#pragma once

// The demonstration drawing application's document and picture: a small text
// document whose revision the editor raises, and a picture drawn with GDI that
// shows the revision, so that an edit is visible in the container.

#include <windows.h>

#include <string>
#include <vector>

#include "server/handles.h"

namespace demo {

using Bytes = std::vector<BYTE>;

// "QUILLMORPH DEMO DRAWING\r\nrevision=N\r\n" plus any history lines.
Bytes MakeDocument(int revision, const std::string& history);
// The revision recorded in a document, or 0 when it has none.
int DocumentRevision(const Bytes& document);

// An enhanced metafile of 50 mm x 25 mm showing the revision.
UniqueEnhMetaFile DrawPicture(int revision);
Bytes EnhMetaFileBits(HENHMETAFILE picture);

// Renders a Windows metafile picture (as a container receives it) into a PNG
// file of width x height pixels, through the platform's imaging codecs.
HRESULT WriteMetafilePictureAsPng(HGLOBAL metaFilePict, const wchar_t* path, int width, int height);

Bytes ReadFileBytes(const wchar_t* path);
bool WriteFileBytes(const wchar_t* path, const Bytes& bytes);

// A VT_ARRAY | VT_UI1 variant holding a copy of bytes.
HRESULT MakeByteArray(const Bytes& bytes, VARIANT* out);
// The bytes of a VT_ARRAY | VT_UI1 variant; false for any other form.
bool ReadByteArray(const VARIANT& v, Bytes* out);

} // namespace demo
