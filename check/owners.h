#pragma once

// Owners for the two kinds of handle the check program meets that the
// server does not: memory the platform hands out with LocalAlloc, and a file
// search.

#include <windows.h>

#include "server/handles.h"

namespace check_owners {
inline void FreeLocal(HLOCAL h)
{
    ::LocalFree(h);
}
inline void CloseSearch(HANDLE h)
{
    ::FindClose(h);
}
} // namespace check_owners

using UniqueLocalMemory = UniqueHandle<HLOCAL, &check_owners::FreeLocal>;
using UniqueSearch = UniqueHandle<HANDLE, &check_owners::CloseSearch>;

// A search handle reports failure as INVALID_HANDLE_VALUE; the owner holds null then.
inline UniqueSearch AdoptSearchHandle(HANDLE h)
{
    return UniqueSearch(h == INVALID_HANDLE_VALUE ? nullptr : h);
}
