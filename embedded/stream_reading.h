#pragma once

// Reading a stream whose size comes from a storage someone else wrote: the size
// a directory entry claims is not proof that the bytes are there.

#include <windows.h>
#include <objidl.h>

#include "server/handles.h"

// Reads the stream from its start into a new fixed block, up to the size it
// claims (*claimed) or until it ends; a stream that claims 4 GiB or more gives
// STG_E_READFAULT (no drawing is that large). Memory follows the bytes that
// arrive, not the claim: a claim of up to kTrustedClaim bytes is allocated
// outright (so a file can cost at most that much beyond what it holds); beyond
// that the block starts at kTrustedClaim and doubles while the stream keeps
// delivering, so a file that merely claims gigabytes costs no more than
// kTrustedClaim; a real document larger than that pays one copy of what has
// arrived per doubling. The block ends holding exactly *read bytes (no block
// when nothing was read). No read asks for more than the block has room for.
// A failed read gives its HRESULT, a read that reports more bytes than it was
// asked for STG_E_READFAULT, a block that cannot be had E_OUTOFMEMORY.
HRESULT ReadClaimedBytes(IStream* stream, UniqueHGlobal* block, ULONG* read, ULONG* claimed);

constexpr ULONG kTrustedClaim = 64u << 20;
