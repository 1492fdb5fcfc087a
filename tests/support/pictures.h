#pragma once

// Pictures for the tests and the test programs: the bits of an enhanced
// metafile as a container stores them, and small pictures of their own.
// Header only, without the test framework: the test drawing applications use
// it too.

#include <windows.h>

#include <vector>

#include "server/handles.h"

namespace testing_support {

// The bits of picture; empty for none.
inline std::vector<BYTE> PictureBits(HENHMETAFILE picture)
{
    std::vector<BYTE> bits(picture ? ::GetEnhMetaFileBits(picture, 0, nullptr) : 0);
    if (!bits.empty())
        ::GetEnhMetaFileBits(picture, static_cast<UINT>(bits.size()), bits.data());
    return bits;
}

// The bits of a small picture whose shapes move with seed: each seed its own.
inline std::vector<BYTE> PictureBits(int seed)
{
    RECT frame = {0, 0, 5000, 2500};
    HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, &frame, nullptr);
    ::Rectangle(dc, seed, seed, 100 + seed, 60 + seed);
    ::Ellipse(dc, 10, 10, 40 + seed, 30);
    UniqueEnhMetaFile picture(::CloseEnhMetaFile(dc));
    return PictureBits(picture.get());
}

} // namespace testing_support
