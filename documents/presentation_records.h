#pragma once

// The binary presentation format keeps each embedded object as a compound
// file inside a record of its "PowerPoint Document" stream, compressed with
// zlib when the record's instance says so. The records are walked as the
// format's public description lays them out: an 8-byte header (version and
// instance, type, length), containers holding records, atoms holding data.
// The walk is bounded in depth and count, every length is checked against
// the container that holds it, and an object whose inflated size or ratio
// passes the ceilings is refused.

#include <windows.h>
#include <objidl.h>

#include <functional>
#include <string>
#include <vector>

#include "server/handles.h"

namespace presentation_limits {
constexpr int kMaxDepth = 32;
constexpr ULONGLONG kMaxRecords = 10000000;
constexpr ULONG kMaxObjectBytes = 1u << 30;
constexpr ULONG kMaxRatio = 200;
constexpr ULONG kRatioFloor = 16u << 20;
} // namespace presentation_limits

// The name under which the format keeps its records.
constexpr const wchar_t kPresentationStream[] = L"PowerPoint Document";

// One embedded object's compound file, taken out of its record.
using EmbeddedObjectFound = std::function<void(UniqueHGlobal bytes, ULONG size, ULONGLONG recordOffset)>;

struct RecordWalk
{
    // Why the walk was refused (a bomb); empty when it was not.
    std::wstring refused;
    // What could not be read, without stopping the walk.
    std::vector<std::wstring> problems;
    size_t objects = 0;
};

RecordWalk WalkPresentationRecords(IStream* stream, const EmbeddedObjectFound& found);
