#include "registration/script_grammar.h"

#include "registration/script_tokenizer.h"

namespace {

const struct
{
    std::wstring_view name;
    HKEY key;
} kRootKeys[] = {
    {L"HKCR", HKEY_CLASSES_ROOT},
    {L"HKCU", HKEY_CURRENT_USER},
    {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKU", HKEY_USERS},
    {L"HKPD", HKEY_PERFORMANCE_DATA},
    {L"HKDD", HKEY_DYN_DATA},
    {L"HKCC", HKEY_CURRENT_CONFIG},
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKEY_USERS", HKEY_USERS},
    {L"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {L"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

const std::wstring_view kProtectedKeyNames[] = {
    L"AppID",    L"CLSID",     L"Component Categories",
    L"FileType", L"Interface", L"Hardware",
    L"Mime",     L"SAM",       L"SECURITY",
    L"SYSTEM",   L"Software",  L"TypeLib",
};

} // namespace

HRESULT ReadRootBlockStart(ScriptTokenizer& tokens, HKEY* root)
{
    std::wstring_view token;
    HRESULT hr = tokens.ReadToken(&token);
    if (FAILED(hr))
        return hr;
    *root = RootKeyFromName(token);
    if (!*root)
        return DISP_E_EXCEPTION;
    hr = tokens.ReadToken(&token);
    if (FAILED(hr))
        return hr;
    return token.empty() || token[0] != L'{' ? DISP_E_EXCEPTION : S_OK;
}

HKEY RootKeyFromName(std::wstring_view name)
{
    for (const auto& root : kRootKeys) {
        if (EqualsIgnoringCase(name, root.name))
            return root.key;
    }
    return nullptr;
}

bool IsDeletableKeyName(std::wstring_view name)
{
    for (std::wstring_view protectedName : kProtectedKeyNames) {
        if (EqualsIgnoringCase(name, protectedName))
            return false;
    }
    return true;
}
