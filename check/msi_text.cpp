#include "check/msi_text.h"

std::wstring MsiText(const std::function<UINT(wchar_t* buffer, DWORD* length)>& get)
{
    wchar_t empty[1] = {};
    DWORD length = 0;
    const UINT rc = get(empty, &length);
    if (rc != ERROR_MORE_DATA && rc != ERROR_SUCCESS)
        return std::wstring();
    std::wstring text(length + 1, L'\0');
    ++length;
    if (get(&text[0], &length) != ERROR_SUCCESS)
        return std::wstring();
    text.resize(length);
    return text;
}
