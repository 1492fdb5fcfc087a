#pragma once

// A drawing's storage as the drawing's own Load sees it during the check. The
// document is opened for reading only, and Load asks for its streams as a
// container's storage gives them, for reading and writing: the view answers
// with the streams' bytes already read for the check (so each stream of the
// document is read once), or, for a stream that could not be read whole, with
// the document's own stream opened for reading, so that Load meets exactly
// what a container would hand it. Everything else is the document's storage;
// nothing is ever written.

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

// A view over storage that serves the two read streams from memory. The
// blocks stay the caller's and must outlive the view.
HRESULT MakeDrawingView(IStorage* storage, const ReadStream& picture, const ReadStream& native,
                        IStorage** view);
