#pragma once

// The value types of the script language and the registry data they make:
//   S  REG_SZ        the text unchanged
//   M  REG_MULTI_SZ  strings separated by the two characters "\0"
//   D  REG_DWORD     a number as the platform's number parsing reads it
//   B  REG_BINARY    pairs of hexadecimal digits

#include <windows.h>

#include <string_view>
#include <vector>

struct RegistryValue
{
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

class ScriptTokenizer;

// The type and value tokens that follow a value clause's '=', read as the
// registry data they make.
HRESULT ReadScriptValue(ScriptTokenizer& tokens, RegistryValue* value);

// The value type a type token names (case ignored), or 0 for none of the four.
wchar_t ScriptValueType(std::wstring_view token);

// The registry data of text as a value of type. A binary value with an odd
// number of digits gives E_FAIL; a number the platform cannot read gives its
// own HRESULT.
HRESULT MakeRegistryValue(wchar_t type, std::wstring_view text, RegistryValue* value);
