#pragma once

// The small facts of the script language that its readers share: how deep
// blocks nest, which names a root block may carry, which keys are never
// deleted, and how a block opens, closes and a value clause starts. The walk
// that writes the registry and the listing that only reads a script both
// stand on these.

#include <windows.h>

#include <string_view>

class ScriptTokenizer;

// Blocks nest at most this deep (the server's own scripts use five levels,
// seven when rewritten per user); a deeper script is refused rather than
// exhausting the stack.
constexpr int kMaxBlockDepth = 64;

// The start of a root block: its root's name and the opening brace.
// DISP_E_EXCEPTION for a name that is no root or a missing brace.
HRESULT ReadRootBlockStart(ScriptTokenizer& tokens, HKEY* root);

// The predefined key of a root name ("HKCR", "HKEY_LOCAL_MACHINE", ...), or null.
HKEY RootKeyFromName(std::wstring_view name);
// False for the key names that ForceRemove and Delete must never delete.
bool IsDeletableKeyName(std::wstring_view name);

// Punctuation is recognised by a token's first character; only a block opens
// at a token that is exactly "{".
inline bool IsBlockOpen(std::wstring_view token)
{
    return token == L"{";
}
inline bool ClosesBlock(std::wstring_view token)
{
    return !token.empty() && token[0] == L'}';
}
inline bool StartsValueClause(std::wstring_view token)
{
    return !token.empty() && token[0] == L'=';
}
