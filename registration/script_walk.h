#pragma once

// The walk of a script's blocks over the registry. Registering creates (or
// opens) the keys a block names and sets its values; unregistering removes
// them again as far as the modifiers and the keys' remaining contents allow;
// recovering only reads a block whose key could not be opened, touching
// nothing below it.

#include <windows.h>

#include <string>
#include <string_view>

class ScriptTokenizer;

enum class WalkMode
{
    Register,
    Unregister,
    Recover,
};

class ScriptWalk
{
public:
    // Keys are opened, created and deleted in view.
    ScriptWalk(ScriptTokenizer& tokens, REGSAM view) : m_tokens(tokens), m_view(view) {}
    ScriptWalk(const ScriptWalk&) = delete;
    ScriptWalk& operator=(const ScriptWalk&) = delete;

    // One block below parent: on entry its opening brace has been read, on
    // success its closing one. depth counts the blocks entered, the root
    // block being 1.
    HRESULT WalkBlock(HKEY parent, WalkMode mode, int depth);

private:
    HRESULT RegisterEntry(std::wstring_view token, HKEY parent, int depth);
    HRESULT DeleteEntry();
    HRESULT RegisterNamedValue(HKEY parent);
    HRESULT RegisterKey(std::wstring_view name, HKEY parent, int depth);
    // Reads type and value after an '=' token and sets the value.
    HRESULT WriteValue(HKEY key, const wchar_t* valueName);

    HRESULT UnregisterEntry(std::wstring_view token, HKEY parent, WalkMode mode, int depth);
    HRESULT UnregisterNamedValue(HKEY parent, bool removeValue);
    HRESULT UnregisterKey(std::wstring_view name, HKEY parent, bool removeAllowed, bool noBlock,
                          WalkMode mode, int depth);

    // A value clause after the token read last ("= type value") is read past.
    HRESULT SkipValueClause();
    // True when the next token opens a block; then it is read.
    HRESULT OpensBlock(bool* opens);
    // DISP_E_EXCEPTION when a block follows an entry that takes none.
    HRESULT RefuseBlock();
    // "name =" of a named value: S_FALSE when the walk was stopped there.
    HRESULT ReadValueName(std::wstring* valueName);

    REGSAM Access(REGSAM rights) const { return rights | m_view; }

    ScriptTokenizer& m_tokens;
    const REGSAM m_view;
};
