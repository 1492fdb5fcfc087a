#pragma once

// The registry-script interpreter: a script's 8-bit text is read in the
// thread's ANSI code page, expanded (script_expansion.h), cut into tokens
// (script_tokenizer.h) and walked over the registry root block by root block
// (script_walk.h).

#include <windows.h>

#include <string>
#include <string_view>

class CRegObject;

// Blocks nest at most this deep (the server's own scripts use five levels,
// seven when rewritten per user); a deeper script is refused rather than
// exhausting the stack.
constexpr int kMaxBlockDepth = 64;

// Where a script's entries go. perUser: its HKCR root blocks are rewritten to
// the user's classes. view: the registry view of every key the walk opens,
// creates or deletes (KEY_WOW64_64KEY or KEY_WOW64_32KEY, or 0 for the
// process's own view).
struct ScriptTarget
{
    bool perUser = false;
    REGSAM view = 0;
};

class CRegScriptParser
{
public:
    CRegScriptParser(const CRegObject& owner, ScriptTarget target) : m_owner(owner), m_target(target) {}
    CRegScriptParser(const CRegScriptParser&) = delete;
    CRegScriptParser& operator=(const CRegScriptParser&) = delete;

    // Expands and applies a whole script; in register mode a failed root block
    // is removed again, earlier root blocks stay.
    HRESULT ApplyScript(std::string_view text, bool registerEntries);

    // The expanded text.
    HRESULT ExpandScript(std::string_view text, std::wstring* expanded);

private:
    const CRegObject& m_owner;
    const ScriptTarget m_target;
};

class ScriptTokenizer;

// The start of a root block: its root's name and the opening brace.
// DISP_E_EXCEPTION for a name that is no root or a missing brace.
HRESULT ReadRootBlockStart(ScriptTokenizer& tokens, HKEY* root);

// The predefined key of a root name ("HKCR", "HKEY_LOCAL_MACHINE", ...), or null.
HKEY RootKeyFromName(std::wstring_view name);
// False for the key names that ForceRemove and Delete must never delete.
bool IsDeletableKeyName(std::wstring_view name);
