#pragma once

// The registry keys of the registry-script walk. A CRegKeyHandle owns the key
// it opened or created and closes it with itself; a key owned elsewhere (a
// root, the parent's key of an entry) is used through the functions below,
// which take the handle as it is.
//
// Every open, create and delete names the registry view it works in
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY, or 0 for the process's own), so that a
// walk that starts in one view stays there all the way down.

#include <windows.h>

class CRegKeyHandle
{
public:
    CRegKeyHandle() = default;
    CRegKeyHandle(const CRegKeyHandle&) = delete;
    CRegKeyHandle& operator=(const CRegKeyHandle&) = delete;
    ~CRegKeyHandle() { Close(); }

    HKEY get() const { return m_hKey; }

    // Each returns the platform's code; access carries the view. Opening or
    // creating first closes what the wrapper holds, once the new key is there.
    LONG Open(HKEY parent, LPCSTR name, REGSAM access);
    LONG Create(HKEY parent, LPCSTR name, REGSAM access);
    LONG Close();

private:
    HKEY m_hKey = nullptr;
};

LONG SetStringValue(HKEY key, LPCSTR valueName, LPCSTR text);
LONG SetDWORDValue(HKEY key, LPCSTR valueName, DWORD value);
// bytes: the whole multi-string with its terminators.
LONG SetMultiStringValue(HKEY key, LPCSTR valueName, const char* strings, DWORD bytes);
LONG SetBinaryValue(HKEY key, LPCSTR valueName, const BYTE* data, DWORD bytes);
LONG DeleteValue(HKEY key, LPCSTR valueName);

// Deletes the subkey name of parent, which must have no subkeys of its own.
LONG RemoveSubkey(HKEY parent, LPCSTR name, REGSAM view);
// Deletes the subkey name of parent and everything below it.
LONG DeleteKeyTree(HKEY parent, LPCSTR name, REGSAM view);

// True only if the key's subkey count could be read and is above zero.
bool KeyHasSubkeys(HKEY key);
