#pragma once

// A drawing's storage as the drawing's own Load sees it during the check. The
// document is opened for reading only, and Load asks for its streams as a
// container's storage gives them, for reading and writing: the view answers
// with the streams' bytes already read for the check (so each stream of the
// document is read once), or, for a stream that could not be read whole, with
// the document's own stream opened for reading, so that Load meets exactly
// what a container would hand it. The storage's own record (its class) and
// its small platform streams are read once into the view, so that a drawing
// whose streams were read whole needs nothing more of its document: the
// document's bytes can go before Load copies the drawing's. Nothing is ever
// written.

#include <windows.h>
#include <objidl.h>

#include "server/handles.h"

// The bytes read for one stream: the block (null for an empty stream) and
// whether they are the whole stream.
struct ReadStream
{
    const wchar_t* name = nullptr;
    HGLOBAL bytes = nullptr;
    bool whole = false;
};

// A view of storage that serves the two read streams from memory. The blocks
// stay the caller's and must outlive the view. Unless keepStorage, the view
// holds no reference to storage once it is made: it needs both streams read
// whole then.
HRESULT MakeDrawingView(IStorage* storage, const ReadStream& picture, const ReadStream& native,
                        bool keepStorage, IStorage** view);
