#pragma once

// The registry-script interpreter: a script's 8-bit text is read in the
// thread's ANSI code page, expanded (script_expansion.h), cut into tokens
// (script_tokenizer.h) and walked over the registry root block by root block
// (script_walk.h).

#include <windows.h>

#include <string>
#include <string_view>

class CReplacementMap;

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
    // The replacements stay the caller's, and must outlive the parser.
    CRegScriptParser(const CReplacementMap& replacements, ScriptTarget target)
        : m_replacements(replacements), m_target(target)
    {
    }
    CRegScriptParser(const CRegScriptParser&) = delete;
    CRegScriptParser& operator=(const CRegScriptParser&) = delete;

    // Expands and applies a whole script; in register mode a failed root block
    // is removed again, earlier root blocks stay.
    HRESULT ApplyScript(std::string_view text, bool registerEntries);

    // The expanded text.
    HRESULT ExpandScript(std::string_view text, std::wstring* expanded);

private:
    const CReplacementMap& m_replacements;
    const ScriptTarget m_target;
};
