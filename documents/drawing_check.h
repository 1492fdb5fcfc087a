#pragma once

// One drawing's storage checked as the server would meet it: its class and
// user type, its two streams read once each, its picture's records, and the
// drawing's own Load on it.

#include <windows.h>
#include <objidl.h>

#include <wrl/client.h>

#include <string>

#include "documents/drawing_findings.h"
#include "server/handles.h"

// What was read of a drawing's streams, for extraction: as far as they could
// be read (no block for a stream that is empty, missing or unreadable).
struct DrawingContent
{
    UniqueHGlobal native;
    ULONG nativeSize = 0;
    UniqueHGlobal picture;
    ULONG pictureSize = 0;
};

// True when the storage is a drawing: its class is the drawing class, or its
// format record names the drawing's user type (a drawing whose class was
// lost). The class and user type found are filled in either way.
bool IsDrawingStorage(IStorage* storage, DrawingFinding* finding);

// Checks a storage IsDrawingStorage accepted: fills in the finding's sizes,
// picture records, Load result and faults, and the content read. The storage
// is let go once its streams are read, before the drawing's Load copies them:
// a caller that hands over its only reference lets the document's bytes go
// then, and the check holds no more than two copies of a drawing at a time.
void CheckDrawing(Microsoft::WRL::ComPtr<IStorage> storage, DrawingFinding* finding, DrawingContent* content);

// The size of a storage's presentation cache (the container's own picture of
// the object), 0 when it has none.
ULONGLONG PresentationCacheSize(IStorage* storage, std::wstring* name);
