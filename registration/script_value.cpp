#include "registration/script_value.h"

#include <oleauto.h>

#include <cstring>
#include <string>

#include "registration/script_tokenizer.h"

namespace {

void SetCharacters(RegistryValue* value, DWORD type, const std::wstring& characters)
{
    value->type = type;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(characters.data());
    value->data.assign(bytes, bytes + characters.size() * sizeof(wchar_t));
}

// "\0" separates the strings; the list ends at its first empty string, which
// is written as the list's terminator.
void MakeMultiString(std::wstring_view text, RegistryValue* value)
{
    std::wstring strings;
    for (size_t at = 0; at < text.size();) {
        if (text[at] == L'\\' && at + 1 < text.size() && text[at + 1] == L'0') {
            if (strings.empty() || strings.back() == L'\0')
                break; // an empty string ends the list
            strings += L'\0';
            at += 2;
            continue;
        }
        strings += text[at++];
    }
    if (!strings.empty() && strings.back() != L'\0')
        strings += L'\0';
    strings += L'\0';
    SetCharacters(value, REG_MULTI_SZ, strings);
}

HRESULT MakeNumber(std::wstring_view text, RegistryValue* value)
{
    std::wstring terminated(text);
    ULONG number = 0;
    HRESULT hr = ::VarUI4FromStr(&terminated[0], 0, 0, &number);
    if (FAILED(hr))
        return hr;
    value->type = REG_DWORD;
    value->data.resize(sizeof(number));
    std::memcpy(value->data.data(), &number, sizeof(number));
    return S_OK;
}

int HexDigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    return 0; // any other character counts as 0
}

HRESULT MakeBinary(std::wstring_view text, RegistryValue* value)
{
    if (text.size() % 2 != 0)
        return E_FAIL;
    value->type = REG_BINARY;
    value->data.assign(text.size() / 2, 0);
    for (size_t i = 0; i < text.size(); ++i) {
        const int nibble = HexDigitValue(text[i]);
        value->data[i / 2] |= static_cast<BYTE>(i % 2 == 0 ? nibble << 4 : nibble);
    }
    return S_OK;
}

} // namespace

wchar_t ScriptValueType(std::wstring_view token)
{
    for (wchar_t type : {L'S', L'M', L'D', L'B'}) {
        if (EqualsIgnoringCase(token, std::wstring_view(&type, 1)))
            return type;
    }
    return 0;
}

HRESULT MakeRegistryValue(wchar_t type, std::wstring_view text, RegistryValue* value)
{
    switch (type) {
    case L'S':
        SetCharacters(value, REG_SZ, std::wstring(text) + L'\0');
        return S_OK;
    case L'M':
        MakeMultiString(text, value);
        return S_OK;
    case L'D':
        return MakeNumber(text, value);
    case L'B':
        return MakeBinary(text, value);
    default:
        return DISP_E_EXCEPTION;
    }
}

HRESULT ReadScriptValue(ScriptTokenizer& tokens, RegistryValue* value)
{
    std::wstring_view token;
    HRESULT hr = tokens.ReadToken(&token);
    if (FAILED(hr))
        return hr;
    const wchar_t type = ScriptValueType(token);
    if (!type)
        return DISP_E_EXCEPTION;
    hr = tokens.ReadToken(&token);
    if (FAILED(hr))
        return hr;
    return MakeRegistryValue(type, token, value);
}
