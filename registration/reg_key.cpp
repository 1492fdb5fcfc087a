#include "registration/reg_key.h"

#include <cstring>

namespace {

using RegDeleteKeyExAFunc = LONG(WINAPI*)(HKEY, LPCSTR, REGSAM, DWORD);

// Where the extended key deletion exists, it is looked up once and the answer
// (found or not) is kept for the rest of the process. Only the main thread
// registers, so the cache needs no lock.
bool s_bDeleteKeyExLookedUp = false;
RegDeleteKeyExAFunc s_pfnRegDeleteKeyExA = nullptr;

RegDeleteKeyExAFunc DeleteKeyExFunction()
{
    if (!s_bDeleteKeyExLookedUp) {
        HMODULE advapi = ::GetModuleHandleA("Advapi32.dll");
        if (advapi)
            s_pfnRegDeleteKeyExA = reinterpret_cast<RegDeleteKeyExAFunc>(
                reinterpret_cast<void*>(::GetProcAddress(advapi, "RegDeleteKeyExA")));
        s_bDeleteKeyExLookedUp = true;
    }
    return s_pfnRegDeleteKeyExA;
}

// Names enumerated during a tree deletion: longer ones end the enumeration.
constexpr DWORD kEnumNameSize = 256;

} // namespace

LONG CRegKeyHandle::Open(HKEY parent, LPCSTR name, REGSAM access)
{
    HKEY key = nullptr;
    LONG rc = ::RegOpenKeyExA(parent, name, 0, access, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    Close();
    m_hKey = key;
    return ERROR_SUCCESS;
}

LONG CRegKeyHandle::Create(HKEY parent, LPCSTR name, REGSAM access)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG rc = ::RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                                &disposition);
    if (rc != ERROR_SUCCESS)
        return rc;
    Close();
    m_hKey = key;
    return ERROR_SUCCESS;
}

LONG CRegKeyHandle::Close()
{
    LONG rc = ERROR_SUCCESS;
    if (m_hKey)
        rc = ::RegCloseKey(m_hKey);
    m_hKey = nullptr;
    return rc;
}

LONG SetStringValue(HKEY key, LPCSTR valueName, LPCSTR text)
{
    return ::RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                            static_cast<DWORD>(std::strlen(text) + 1));
}

LONG SetDWORDValue(HKEY key, LPCSTR valueName, DWORD value)
{
    return ::RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof(value));
}

LONG SetMultiStringValue(HKEY key, LPCSTR valueName, const char* strings, DWORD bytes)
{
    return ::RegSetValueExA(key, valueName, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(strings), bytes);
}

LONG SetBinaryValue(HKEY key, LPCSTR valueName, const BYTE* data, DWORD bytes)
{
    return ::RegSetValueExA(key, valueName, 0, REG_BINARY, data, bytes);
}

LONG DeleteValue(HKEY key, LPCSTR valueName)
{
    return ::RegDeleteValueA(key, valueName);
}

LONG RemoveSubkey(HKEY parent, LPCSTR name, REGSAM view)
{
    // Without the extended deletion (a system older than the two views) the
    // process's own view is the only one there is.
    RegDeleteKeyExAFunc deleteKeyEx = DeleteKeyExFunction();
    if (deleteKeyEx)
        return deleteKeyEx(parent, name, view, 0);
    return ::RegDeleteKeyA(parent, name);
}

LONG DeleteKeyTree(HKEY parent, LPCSTR name, REGSAM view)
{
    CRegKeyHandle subkey;
    LONG rc = subkey.Open(parent, name, KEY_READ | KEY_WRITE | view);
    if (rc != ERROR_SUCCESS)
        return rc;
    for (;;) {
        // Always index 0: each child deleted moves the next one to the front.
        char child[kEnumNameSize] = {};
        DWORD length = kEnumNameSize;
        FILETIME written;
        if (::RegEnumKeyExA(subkey.get(), 0, child, &length, nullptr, nullptr, nullptr, &written) !=
            ERROR_SUCCESS)
            break;
        rc = DeleteKeyTree(subkey.get(), child, view);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    subkey.Close();
    return RemoveSubkey(parent, name, view);
}

bool KeyHasSubkeys(HKEY key)
{
    DWORD subkeys = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return subkeys > 0;
}
