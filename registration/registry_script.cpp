#include "registration/registry_script.h"

#include "registration/script_expansion.h"
#include "registration/script_grammar.h"
#include "registration/script_tokenizer.h"
#include "registration/script_walk.h"

namespace {

// The script's bytes as text, read in the thread's ANSI code page.
HRESULT ScriptText(std::string_view bytes, std::wstring* text)
{
    text->clear();
    if (bytes.empty())
        return S_OK;
    const int length = static_cast<int>(bytes.size());
    if (static_cast<size_t>(length) != bytes.size())
        return E_OUTOFMEMORY;
    const int characters = ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), length, nullptr, 0);
    if (characters <= 0)
        return E_OUTOFMEMORY;
    text->resize(static_cast<size_t>(characters));
    if (::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), length, &(*text)[0], characters) != characters)
        return E_OUTOFMEMORY;
    return S_OK;
}

// Registers one root block; when that fails, what it wrote is taken back
// (from the block's start up to the token at which it failed) and the first
// failure is returned.
HRESULT RegisterRootBlock(ScriptTokenizer& tokens, HKEY root, REGSAM view)
{
    const size_t blockStart = tokens.Position();
    ScriptWalk walk(tokens, view);
    HRESULT hr = walk.WalkBlock(root, WalkMode::Register, 1);
    if (SUCCEEDED(hr))
        return hr;
    tokens.StopAt(tokens.LastTokenStart());
    tokens.Rewind(blockStart);
    walk.WalkBlock(root, WalkMode::Unregister, 1);
    return hr;
}

} // namespace

HRESULT CRegScriptParser::ExpandScript(std::string_view text, std::wstring* expanded)
{
    if (!expanded)
        return E_POINTER;
    expanded->clear();
    std::wstring wide;
    HRESULT hr = ScriptText(text, &wide);
    if (FAILED(hr))
        return hr;
    return ::ExpandScript(wide, m_target.perUser, m_replacements, expanded);
}

HRESULT CRegScriptParser::ApplyScript(std::string_view text, bool registerEntries)
{
    std::wstring expanded;
    HRESULT hr = ExpandScript(text, &expanded);
    if (FAILED(hr))
        return hr;

    ScriptTokenizer tokens(expanded);
    while (!tokens.AtEnd()) {
        HKEY root = nullptr;
        hr = ReadRootBlockStart(tokens, &root);
        if (FAILED(hr))
            return hr;
        hr = registerEntries ? RegisterRootBlock(tokens, root, m_target.view)
                             : ScriptWalk(tokens, m_target.view).WalkBlock(root, WalkMode::Unregister, 1);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}
