#pragma once

// The key wrapper of the registry-script walk: one registry key, opened or
// created by the wrapper and closed with it, or a parent's key lent to it.

#include <windows.h>

class CRegKeyHandle
{
public:
    CRegKeyHandle() = default;
    CRegKeyHandle(const CRegKeyHandle&) = delete;
    CRegKeyHandle& operator=(const CRegKeyHandle&) = delete;
    ~CRegKeyHandle() { Close(); }

    HKEY get() const { return m_hKey; }

    // Each returns the platform's code. Opening or creating first closes what
    // the wrapper holds.
    LONG Open(HKEY parent, LPCSTR name, REGSAM access);
    LONG Create(HKEY parent, LPCSTR name, REGSAM access);
    LONG Close();

    // Lends a key to the wrapper: it is used but never closed by it.
    void Attach(HKEY key);
    HKEY Detach();

    LONG SetStringValue(LPCSTR valueName, LPCSTR text);
    LONG SetDWORDValue(LPCSTR valueName, DWORD value);
    // bytes: the whole multi-string with its terminators.
    LONG SetMultiStringValue(LPCSTR valueName, const char* strings, DWORD bytes);
    LONG SetBinaryValue(LPCSTR valueName, const BYTE* data, DWORD bytes);
    LONG DeleteValue(LPCSTR valueName);

    // Deletes the subkey name, which must have no subkeys of its own.
    LONG RemoveSubkey(LPCSTR name);
    // Deletes the subkey name and everything below it.
    LONG DeleteKeyTree(LPCSTR name);

private:
    HKEY m_hKey = nullptr;
    bool m_bOwned = false;
};

// True only if the key's subkey count could be read and is above zero.
bool KeyHasSubkeys(HKEY key);
