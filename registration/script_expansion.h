#pragma once

// The expansion of a registry script before its tokens are read: per user, its
// HKCR root blocks are rewritten to the user's classes; then every %NAME%
// reference is replaced by its value, and "%%" by one percent sign. The
// values go in as they are, so a path with any letters in it stays whole.

#include <windows.h>

#include <string>
#include <string_view>

class CReplacementMap;

// Replacement names hold at most this many characters.
constexpr size_t kMaxReplacementName = 31;

// E_OUTOFMEMORY when the text outgrows its limit; DISP_E_EXCEPTION for a '%'
// without a later one and for a name that is not in replacements; E_FAIL for
// a name longer than kMaxReplacementName.
HRESULT ExpandScript(std::wstring_view text, bool perUser, const CReplacementMap& replacements,
                     std::wstring* expanded);

// The per-user rewriting alone: HKCR { ... } becomes
// HKCU { Software { Classes { ... } } } for root blocks named exactly "HKCR".
HRESULT RewriteForUser(std::wstring_view text, std::wstring* rewritten);

// The %NAME% replacement alone.
HRESULT ReplaceNames(std::wstring_view text, const CReplacementMap& replacements, std::wstring* replaced);
