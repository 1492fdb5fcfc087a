#pragma once

// A drawing's picture described for a supporter: how many records it has, its
// frame, and where its records stop making sense when they do.

#include <windows.h>

#include <string>

struct PictureRecords
{
    size_t records = 0;
    RECTL frame = {};
    // Empty when the records walk from the header to the end record, as the
    // drawing requires of a picture; otherwise where and how they do not.
    std::wstring fault;
};

PictureRecords DescribePictureRecords(const BYTE* bits, size_t size);
