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
    m_bOwned = true;
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
    m_bOwned = true;
    return ERROR_SUCCESS;
}

LONG CRegKeyHandle::Close()
{
    LONG rc = ERROR_SUCCESS;
    if (m_hKey && m_bOwned)
        rc = ::RegCloseKey(m_hKey);
    m_hKey = nullptr;
    m_bOwned = false;
    return rc;
}

void CRegKeyHandle::Attach(HKEY key)
{
    Close();
    m_hKey = key;
    m_bOwned = false;
}

HKEY CRegKeyHandle::Detach()
{
    HKEY key = m_hKey;
    m_hKey = nullptr;
    m_bOwned = false;
    return key;
}

LONG CRegKeyHandle::SetStringValue(LPCSTR valueName, LPCSTR text)
{
    return ::RegSetValueExA(m_hKey, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                            static_cast<DWORD>(std::strlen(text) + 1));
}

LONG CRegKeyHandle::SetDWORDValue(LPCSTR valueName, DWORD value)
{
    return ::RegSetValueExA(m_hKey, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof(value));
}

LONG CRegKeyHandle::SetMultiStringValue(LPCSTR valueName, const char* strings, DWORD bytes)
{
    return ::RegSetValueExA(m_hKey, valueName, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(strings),
                            bytes);
}

LONG CRegKeyHandle::SetBinaryValue(LPCSTR valueName, const BYTE* data, DWORD bytes)
{
    return ::RegSetValueExA(m_hKey, valueName, 0, REG_BINARY, data, bytes);
}

LONG CRegKeyHandle::DeleteValue(LPCSTR valueName)
{
    return ::RegDeleteValueA(m_hKey, valueName);
}

LONG CRegKeyHandle::RemoveSubkey(LPCSTR name)
{
    RegDeleteKeyExAFunc deleteKeyEx = DeleteKeyExFunction();
    if (deleteKeyEx)
        return deleteKeyEx(m_hKey, name, 0, 0);
    return ::RegDeleteKeyA(m_hKey, name);
}

LONG CRegKeyHandle::DeleteKeyTree(LPCSTR name)
{
    CRegKeyHandle subkey;
    LONG rc = subkey.Open(m_hKey, name, KEY_READ | KEY_WRITE);
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
        rc = subkey.DeleteKeyTree(child);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    subkey.Close();
    return RemoveSubkey(name);
}

bool KeyHasSubkeys(HKEY key)
{
    DWORD subkeys = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return subkeys > 0;
}
