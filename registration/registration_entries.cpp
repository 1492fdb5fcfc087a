#include "registration/registration_entries.h"

#include "registration/registrar.h"
#include "registration/registry_script.h"
#include "resources/resource.h"
#include "server/return_if_failed.h"

namespace {

// The class scripts in registration's order: the automation class, then the
// embedded drawing.
const WORD kClassScripts[] = {IDR_QUILLMORPHOLE, IDR_QUILLMORPHEMBEDDEDOBJECT};

} // namespace

HRESULT DefineModuleReplacements(CRegObject* registrar, std::wstring_view modulePath, bool isExecutable)
{
    std::wstring pszModuleUnquoted;
    for (wchar_t c : modulePath)
        pszModuleUnquoted.append(c == L'\'' ? 2 : 1, c);
    const std::wstring pszModuleQuote = L"\"" + pszModuleUnquoted + L"\"";
    HRESULT hr = registrar->DefineReplacement(L"Module", isExecutable ? pszModuleQuote.c_str()
                                                                      : pszModuleUnquoted.c_str());
    if (FAILED(hr))
        return hr;
    return registrar->DefineReplacement(L"Module_Raw", pszModuleUnquoted.c_str());
}

HRESULT ListRegistrationEntries(const std::wstring& scriptFile, std::wstring_view modulePath, bool perUser,
                                std::vector<ScriptEntry>* entries)
{
    if (!entries)
        return E_POINTER;
    // The module's own replacement: its AppID, which this server leaves empty.
    CRegObject registrar;
    RETURN_IF_FAILED(registrar.DefineReplacement(L"APPID", L""));
    RETURN_IF_FAILED(DefineModuleReplacements(&registrar, modulePath, true));
    for (WORD script : kClassScripts) {
        std::string text;
        RETURN_IF_FAILED(
            ReadScriptResource(scriptFile.c_str(), MAKEINTRESOURCEW(script), L"REGISTRY", &text));
        std::wstring expanded;
        CRegScriptParser parser(registrar.Replacements(), ScriptTarget{perUser, 0});
        RETURN_IF_FAILED(parser.ExpandScript(text, &expanded));
        RETURN_IF_FAILED(ListScriptEntries(expanded, entries));
    }
    return S_OK;
}
