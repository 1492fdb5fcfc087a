#pragma once

// The objects of an RTF document: every \object group, its \objclass, the
// bytes of its \objdata (hex, or \bin raw bytes) and the size of the
// container's own picture of it (the \pict of its \result). The document is
// read once from start to end; group nesting, control words, their numbers
// and the bytes of an object are bounded, and a document that passes the
// bounds is refused.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "documents/byte_source.h"
#include "server/handles.h"

namespace rtf_limits {
constexpr int kMaxGroupDepth = 512;
constexpr ULONG kMaxObjectBytes = 1u << 30;
constexpr size_t kMaxClassName = 256;
} // namespace rtf_limits

struct RtfObject
{
    std::wstring objectClass;
    // The object's OLE1 stream as \objdata holds it.
    UniqueHGlobal data;
    ULONG size = 0;
    // Where its group starts in the document.
    ULONGLONG offset = 0;
    // The bytes of the \pict in its \result (the container's picture), 0 for none.
    ULONGLONG resultPictureBytes = 0;
};

using RtfObjectFound = std::function<void(RtfObject object)>;

struct RtfRead
{
    std::wstring refused;
    std::vector<std::wstring> problems;
    size_t objects = 0;
};

// True when the source starts as an RTF document does.
bool LooksLikeRtf(const BYTE* start, size_t size);

RtfRead ReadRtfObjects(const ByteSource& source, const RtfObjectFound& found);
