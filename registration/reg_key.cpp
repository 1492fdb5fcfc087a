#include "registration/reg_key.h"

namespace {

using RegDeleteKeyExWFunc = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// Where the extended key deletion exists, it is looked up once and the answer
// (found or not) is kept for the rest of the process. Only the main thread
// registers, so the cache needs no lock.
bool s_bDeleteKeyExLookedUp = false;
RegDeleteKeyExWFunc s_pfnRegDeleteKeyExW = nullptr;

RegDeleteKeyExWFunc DeleteKeyExFunction()
{
    if (!s_bDeleteKeyExLookedUp) {
        HMODULE advapi = ::GetModuleHandleW(L"Advapi32.dll");
        if (advapi)
            s_pfnRegDeleteKeyExW = reinterpret_cast<RegDeleteKeyExWFunc>(
                reinterpret_cast<void*>(::GetProcAddress(advapi, "RegDeleteKeyExW")));
        s_bDeleteKeyExLookedUp = true;
    }
    return s_pfnRegDeleteKeyExW;
}

// Names enumerated during a tree deletion: longer ones end the enumeration.
constexpr DWORD kEnumNameSize = 256;

} // namespace

LONG OpenRegKey(HKEY parent, LPCWSTR name, REGSAM access, UniqueHKey* key)
{
    return ::RegOpenKeyExW(parent, name, 0, access, key->put());
}

LONG CreateRegKey(HKEY parent, LPCWSTR name, REGSAM access, UniqueHKey* key)
{
    return ::RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key->put(),
                             nullptr);
}

LONG SetValue(HKEY key, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD bytes)
{
    return ::RegSetValueExW(key, valueName, 0, type, data, bytes);
}

LONG DeleteValue(HKEY key, LPCWSTR valueName)
{
    return ::RegDeleteValueW(key, valueName);
}

LONG RemoveSubkey(HKEY parent, LPCWSTR name, REGSAM view)
{
    // Without the extended deletion (a system older than the two views) the
    // process's own view is the only one there is.
    RegDeleteKeyExWFunc deleteKeyEx = DeleteKeyExFunction();
    if (deleteKeyEx)
        return deleteKeyEx(parent, name, view, 0);
    return ::RegDeleteKeyW(parent, name);
}

LONG DeleteKeyTree(HKEY parent, LPCWSTR name, REGSAM view)
{
    UniqueHKey subkey;
    LONG rc = OpenRegKey(parent, name, KEY_READ | KEY_WRITE | view, &subkey);
    if (rc != ERROR_SUCCESS)
        return rc;
    for (;;) {
        // Always index 0: each child deleted moves the next one to the front.
        wchar_t child[kEnumNameSize] = {};
        DWORD length = kEnumNameSize;
        FILETIME written;
        if (::RegEnumKeyExW(subkey.get(), 0, child, &length, nullptr, nullptr, nullptr, &written) !=
            ERROR_SUCCESS)
            break;
        rc = DeleteKeyTree(subkey.get(), child, view);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    subkey.reset();
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
