#include "registration/script_listing.h"

#include "registration/script_grammar.h"
#include "registration/script_tokenizer.h"
#include "server/return_if_failed.h"

namespace {

// Punctuation as the writing walk reads it: a block opens only at a token that
// is exactly "{"; a closing brace or a value clause is known by its first
// character.
enum class TokenKind
{
    BlockOpen,
    BlockClose,
    ValueClause,
    Name,
};

TokenKind KindOf(std::wstring_view token)
{
    if (IsBlockOpen(token))
        return TokenKind::BlockOpen;
    if (ClosesBlock(token))
        return TokenKind::BlockClose;
    if (StartsValueClause(token))
        return TokenKind::ValueClause;
    return TokenKind::Name;
}

class ScriptListing
{
public:
    ScriptListing(ScriptTokenizer& tokens, HKEY root, std::vector<ScriptEntry>* entries)
        : m_tokens(tokens), m_root(root), m_entries(entries)
    {
    }

    // One block below the key at path; its opening brace has been read.
    HRESULT ListBlock(const std::wstring& path, int depth)
    {
        if (depth > kMaxBlockDepth)
            return DISP_E_EXCEPTION;
        for (;;) {
            std::wstring_view token;
            HRESULT hr = m_tokens.ReadToken(&token);
            if (FAILED(hr))
                return hr;
            if (KindOf(token) == TokenKind::BlockClose)
                return S_OK;
            hr = ListEntry(token, path, depth);
            if (FAILED(hr))
                return hr;
        }
    }

private:
    HRESULT ListEntry(std::wstring_view token, const std::wstring& path, int depth)
    {
        ScriptEntry entry;
        entry.root = m_root;
        entry.keyPath = path;
        const bool isDelete = EqualsIgnoringCase(token, L"Delete");
        if (isDelete || EqualsIgnoringCase(token, L"ForceRemove")) {
            entry.forceRemove = !isDelete;
            HRESULT hr = ReadKeyName(&token);
            if (FAILED(hr))
                return hr;
            if (isDelete)
                return SkipDeletedKey();
        }
        if (EqualsIgnoringCase(token, L"NoRemove")) {
            entry.noRemove = true;
            HRESULT hr = m_tokens.ReadToken(&token);
            if (FAILED(hr))
                return hr;
        }
        if (EqualsIgnoringCase(token, L"Val"))
            return ListNamedValue(std::move(entry));
        return ListKey(token, std::move(entry), depth);
    }

    HRESULT ReadKeyName(std::wstring_view* name)
    {
        HRESULT hr = m_tokens.ReadToken(name);
        if (SUCCEEDED(hr) && name->find(L'\\') != std::wstring_view::npos)
            return DISP_E_EXCEPTION;
        return hr;
    }

    // A deleted key writes nothing: its value clause is read past, and it
    // takes no block.
    HRESULT SkipDeletedKey()
    {
        bool follows = false;
        HRESULT hr = NextIs(TokenKind::ValueClause, &follows);
        for (int read = 0; read < 2 && SUCCEEDED(hr) && follows; ++read) {
            std::wstring_view token;
            hr = m_tokens.ReadToken(&token); // the type, the value
        }
        return SUCCEEDED(hr) ? RefuseBlock() : hr;
    }

    HRESULT ListNamedValue(ScriptEntry entry)
    {
        std::wstring_view token;
        HRESULT hr = m_tokens.ReadToken(&token);
        if (FAILED(hr))
            return hr;
        entry.valueName.assign(token);
        bool clause = false;
        hr = NextIs(TokenKind::ValueClause, &clause);
        if (FAILED(hr))
            return hr;
        if (!clause)
            return DISP_E_EXCEPTION;
        hr = ListValue(std::move(entry));
        return SUCCEEDED(hr) ? RefuseBlock() : hr;
    }

    HRESULT ListKey(std::wstring_view name, ScriptEntry entry, int depth)
    {
        if (name.find(L'\\') != std::wstring_view::npos)
            return DISP_E_EXCEPTION;
        if (!entry.keyPath.empty())
            entry.keyPath += L'\\';
        entry.keyPath.append(name);
        const std::wstring keyPath = entry.keyPath;
        m_entries->push_back(entry);

        bool follows = false;
        RETURN_IF_FAILED(NextIs(TokenKind::ValueClause, &follows));
        if (follows) {
            ScriptEntry value;
            value.root = m_root;
            value.keyPath = keyPath;
            RETURN_IF_FAILED(ListValue(std::move(value)));
        }
        RETURN_IF_FAILED(NextIs(TokenKind::BlockOpen, &follows));
        return follows ? ListBlock(keyPath, depth + 1) : S_OK;
    }

    // "type value" after the value clause, as the value the walk would set.
    HRESULT ListValue(ScriptEntry entry)
    {
        HRESULT hr = ReadScriptValue(m_tokens, &entry.value);
        if (FAILED(hr))
            return hr;
        entry.isValue = true;
        m_entries->push_back(std::move(entry));
        return S_OK;
    }

    // True when the next token is of kind; then it is read.
    HRESULT NextIs(TokenKind kind, bool* is)
    {
        std::wstring_view token;
        HRESULT hr = m_tokens.PeekToken(&token);
        *is = SUCCEEDED(hr) && KindOf(token) == kind;
        if (*is)
            hr = m_tokens.ReadToken(&token);
        return hr;
    }

    HRESULT RefuseBlock()
    {
        bool opens = false;
        HRESULT hr = NextIs(TokenKind::BlockOpen, &opens);
        return SUCCEEDED(hr) && opens ? DISP_E_EXCEPTION : hr;
    }

    ScriptTokenizer& m_tokens;
    const HKEY m_root;
    std::vector<ScriptEntry>* m_entries;
};

} // namespace

HRESULT ListScriptEntries(std::wstring_view expanded, std::vector<ScriptEntry>* entries)
{
    if (!entries)
        return E_POINTER;
    ScriptTokenizer tokens(expanded);
    while (!tokens.AtEnd()) {
        HKEY root = nullptr;
        HRESULT hr = ReadRootBlockStart(tokens, &root);
        if (FAILED(hr))
            return hr;
        hr = ScriptListing(tokens, root, entries).ListBlock(std::wstring(), 1);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}
