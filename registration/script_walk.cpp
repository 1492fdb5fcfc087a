#include "registration/script_walk.h"

#include <string>

#include "registration/reg_key.h"
#include "registration/script_grammar.h"
#include "registration/script_tokenizer.h"
#include "registration/script_value.h"
#include "server/return_if_failed.h"

namespace {

bool IsKeyword(std::wstring_view token, std::wstring_view keyword)
{
    return EqualsIgnoringCase(token, keyword);
}

// A key entry names one level: a backslash is refused.
bool ContainsBackslash(std::wstring_view name)
{
    return name.find(L'\\') != std::wstring_view::npos;
}

} // namespace

HRESULT ScriptWalk::WalkBlock(HKEY parent, WalkMode mode, int depth)
{
    if (depth > kMaxBlockDepth)
        return DISP_E_EXCEPTION;
    for (;;) {
        std::wstring_view token;
        HRESULT hr = m_tokens.ReadToken(&token);
        if (FAILED(hr))
            return hr;
        if (ClosesBlock(token))
            return S_OK;
        hr = mode == WalkMode::Register ? RegisterEntry(token, parent, depth)
                                        : UnregisterEntry(token, parent, mode, depth);
        if (FAILED(hr))
            return hr;
    }
}

HRESULT ScriptWalk::SkipValueClause()
{
    std::wstring_view token;
    HRESULT hr = m_tokens.PeekToken(&token);
    if (FAILED(hr) || !StartsValueClause(token))
        return hr;
    for (int read = 0; read < 3 && SUCCEEDED(hr); ++read)
        hr = m_tokens.ReadToken(&token); // '=', the type, the value
    return hr;
}

HRESULT ScriptWalk::OpensBlock(bool* opens)
{
    std::wstring_view token;
    HRESULT hr = m_tokens.PeekToken(&token);
    *opens = SUCCEEDED(hr) && IsBlockOpen(token);
    if (*opens)
        hr = m_tokens.ReadToken(&token);
    return hr;
}

HRESULT ScriptWalk::RefuseBlock()
{
    bool opens = false;
    HRESULT hr = OpensBlock(&opens);
    if (FAILED(hr))
        return hr;
    return opens ? DISP_E_EXCEPTION : S_OK;
}

HRESULT ScriptWalk::ReadValueName(std::wstring* valueName)
{
    std::wstring_view token;
    HRESULT hr = m_tokens.ReadToken(&token);
    if (FAILED(hr))
        return hr;
    valueName->assign(token);
    hr = m_tokens.ReadToken(&token);
    if (FAILED(hr))
        return hr;
    if (m_tokens.Stopped())
        return S_FALSE;
    return StartsValueClause(token) ? S_OK : DISP_E_EXCEPTION;
}

// --- Registering ---------------------------------------------------------------

HRESULT ScriptWalk::RegisterEntry(std::wstring_view token, HKEY parent, int depth)
{
    const bool isDelete = IsKeyword(token, L"Delete");
    if (isDelete || IsKeyword(token, L"ForceRemove")) {
        HRESULT hr = m_tokens.ReadToken(&token);
        if (FAILED(hr))
            return hr;
        if (ContainsBackslash(token))
            return DISP_E_EXCEPTION;
        if (IsDeletableKeyName(token)) {
            // The key may simply not be there: a failed deletion is no error.
            DeleteKeyTree(parent, std::wstring(token).c_str(), m_view);
        }
        if (isDelete)
            return DeleteEntry();
        // ForceRemove: the key is created afresh below.
    }
    if (IsKeyword(token, L"NoRemove")) {
        HRESULT hr = m_tokens.ReadToken(&token);
        if (FAILED(hr))
            return hr;
    }
    if (IsKeyword(token, L"Val"))
        return RegisterNamedValue(parent);
    return RegisterKey(token, parent, depth);
}

// The rest of a Delete entry: a value clause is read past, and nothing is
// created.
HRESULT ScriptWalk::DeleteEntry()
{
    HRESULT hr = SkipValueClause();
    if (FAILED(hr))
        return hr;
    return RefuseBlock(); // a deleted key has no block
}

HRESULT ScriptWalk::RegisterNamedValue(HKEY parent)
{
    std::wstring valueName;
    RETURN_IF_FAILED(ReadValueName(&valueName));
    RETURN_IF_FAILED(WriteValue(parent, valueName.c_str()));
    return RefuseBlock(); // a named value has no block
}

HRESULT ScriptWalk::RegisterKey(std::wstring_view name, HKEY parent, int depth)
{
    if (ContainsBackslash(name))
        return DISP_E_EXCEPTION;
    const std::wstring keyName(name);
    // A key that can only be read stays read-only; writing its values then
    // fails with the platform's error.
    UniqueHKey key;
    if (OpenRegKey(parent, keyName.c_str(), Access(KEY_READ | KEY_WRITE), &key) != ERROR_SUCCESS &&
        OpenRegKey(parent, keyName.c_str(), Access(KEY_READ), &key) != ERROR_SUCCESS) {
        LONG rc = CreateRegKey(parent, keyName.c_str(), Access(KEY_READ | KEY_WRITE), &key);
        if (rc != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(rc);
    }

    std::wstring_view token;
    RETURN_IF_FAILED(m_tokens.PeekToken(&token));
    if (StartsValueClause(token)) {
        m_tokens.ReadToken(&token);
        RETURN_IF_FAILED(WriteValue(key.get(), nullptr));
    }
    bool opens = false;
    RETURN_IF_FAILED(OpensBlock(&opens));
    return opens ? WalkBlock(key.get(), WalkMode::Register, depth + 1) : S_OK;
}

HRESULT ScriptWalk::WriteValue(HKEY key, const wchar_t* valueName)
{
    RegistryValue value;
    HRESULT hr = ReadScriptValue(m_tokens, &value);
    if (FAILED(hr))
        return hr;
    const BYTE none = 0;
    const LONG rc = SetValue(key, valueName, value.type, value.data.empty() ? &none : value.data.data(),
                             static_cast<DWORD>(value.data.size()));
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

// --- Unregistering ---------------------------------------------------------------

HRESULT ScriptWalk::UnregisterEntry(std::wstring_view token, HKEY parent, WalkMode mode, int depth)
{
    bool removeAllowed = true;
    const bool isDelete = IsKeyword(token, L"Delete");
    HRESULT hr = S_OK;
    // When unregistering, ForceRemove and Delete name keys like any other.
    if (isDelete || IsKeyword(token, L"ForceRemove"))
        hr = m_tokens.ReadToken(&token);
    if (SUCCEEDED(hr) && IsKeyword(token, L"NoRemove")) {
        removeAllowed = false;
        hr = m_tokens.ReadToken(&token);
    }
    if (FAILED(hr) || m_tokens.Stopped())
        return hr; // stopped: the entry that failed, nothing of it was written
    if (IsKeyword(token, L"Val"))
        return UnregisterNamedValue(parent, mode == WalkMode::Unregister && removeAllowed);
    return UnregisterKey(token, parent, removeAllowed, isDelete, mode, depth);
}

HRESULT ScriptWalk::UnregisterNamedValue(HKEY parent, bool removeValue)
{
    std::wstring valueName;
    HRESULT hr = ReadValueName(&valueName);
    if (hr != S_OK)
        return hr;
    // The whole entry is read before anything is removed, so that a malformed
    // entry removes nothing.
    std::wstring_view token;
    for (int read = 0; read < 2 && SUCCEEDED(hr); ++read)
        hr = m_tokens.ReadToken(&token); // the type, the value
    if (FAILED(hr))
        return hr;
    // Registering failed at this value: it was never written.
    if (m_tokens.Stopped())
        return S_OK;
    hr = RefuseBlock();
    if (FAILED(hr) || !removeValue)
        return hr;
    UniqueHKey rkParent;
    LONG rc = OpenRegKey(parent, nullptr, Access(KEY_WRITE), &rkParent);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    rc = DeleteValue(rkParent.get(), valueName.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        return HRESULT_FROM_WIN32(rc);
    return S_OK;
}

// One key entry of the unregister walk, from its name on.
HRESULT ScriptWalk::UnregisterKey(std::wstring_view name, HKEY parent, bool removeAllowed, bool noBlock,
                                  WalkMode mode, int depth)
{
    if (ContainsBackslash(name))
        return DISP_E_EXCEPTION;
    // The whole name is kept: a cut name would remove some other key.
    const std::wstring keyName(name);

    // While recovering the registry is not touched: the key counts as absent.
    UniqueHKey key;
    LONG openResult = ERROR_FILE_NOT_FOUND;
    if (mode != WalkMode::Recover)
        openResult = OpenRegKey(parent, keyName.c_str(), Access(KEY_READ), &key);

    // A default value goes with its key; it is not removed on its own.
    RETURN_IF_FAILED(SkipValueClause());
    bool opens = false;
    RETURN_IF_FAILED(OpensBlock(&opens));
    if (opens) {
        if (noBlock)
            return DISP_E_EXCEPTION;
        // A malformed block ends the walk even while recovering: reading on
        // from its middle would take its tokens for entries of this level.
        RETURN_IF_FAILED(WalkBlock(
            key.get(), openResult == ERROR_SUCCESS ? WalkMode::Unregister : WalkMode::Recover, depth + 1));
    }

    if (openResult == ERROR_FILE_NOT_FOUND)
        return S_OK; // an absent key is no error
    if (openResult != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(openResult);

    // Subkeys that others added keep the key; values do not.
    const bool hasSubkeys = KeyHasSubkeys(key.get());
    key.reset();
    if (!removeAllowed || hasSubkeys)
        return S_OK;
    const LONG rc = RemoveSubkey(parent, keyName.c_str(), m_view);
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}
