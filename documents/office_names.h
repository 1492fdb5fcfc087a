#pragma once

// What a zip-based office document says about its embedded objects: the
// relationship that points at each one (the XML office formats) or its
// manifest entry (the open document formats), and the container's own
// picture of it (the replacement image).

#include <map>
#include <string>

#include "documents/zip_archive.h"

struct OfficeObjectName
{
    std::wstring containerName;
    std::wstring replacementImage;
    ULONGLONG replacementImageSize = 0;
};

// Keyed by the entry name as stored in the archive.
using OfficeObjectNames = std::map<std::string, OfficeObjectName>;

// Reads the relationships and the manifest; parts larger than the ceiling are
// not searched for replacement images.
OfficeObjectNames ReadOfficeObjectNames(const ZipArchive& zip);

constexpr ULONGLONG kMaxSearchedPartBytes = 64ull << 20;
