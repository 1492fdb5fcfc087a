#pragma once

// Reading the registry back in the registration tests: values with their
// types and bytes, subkey names, and whole trees as text for comparisons. Each
// reads in the process's own registry view, or in the view given
// (KEY_WOW64_64KEY, KEY_WOW64_32KEY).

#include <windows.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "server/handles.h"

namespace registry_reader {

struct RegValue
{
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

inline UniqueHKey OpenKey(HKEY root, const std::wstring& path, REGSAM access = KEY_READ, REGSAM view = 0)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, access | view, &key) != ERROR_SUCCESS)
        return UniqueHKey();
    return UniqueHKey(key);
}

inline bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    return static_cast<bool>(OpenKey(root, path, KEY_READ, view));
}

// A value as stored (8-bit name, so that it reads what the 8-bit writer wrote).
inline std::optional<RegValue> ReadValueA(HKEY root, const std::string& path, const char* name)
{
    HKEY raw = nullptr;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS)
        return std::nullopt;
    UniqueHKey key(raw);
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    RegValue value;
    value.type = type;
    value.bytes.resize(size);
    if (::RegQueryValueExA(key.get(), name, nullptr, &type, value.bytes.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.bytes.resize(size);
    return value;
}

// A REG_SZ value as text, or nullopt when it is missing or of another type.
inline std::optional<std::wstring> ReadString(HKEY root, const std::wstring& path,
                                              const wchar_t* name = nullptr, REGSAM view = 0)
{
    UniqueHKey key = OpenKey(root, path, KEY_READ, view);
    if (!key)
        return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

inline std::set<std::wstring> SubkeyNames(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    std::set<std::wstring> names;
    UniqueHKey key = OpenKey(root, path, KEY_READ, view);
    if (!key)
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.insert(name);
    }
    return names;
}

inline std::set<std::wstring> ValueNames(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    std::set<std::wstring> names;
    UniqueHKey key = OpenKey(root, path, KEY_READ, view);
    if (!key)
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD length = 16384;
        if (::RegEnumValueW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.insert(name);
    }
    return names;
}

// Every key below path (path itself included) mapped to its values, each as
// "name=type:hex bytes"; equal trees give equal maps.
inline void DumpTree(HKEY root, const std::wstring& path, std::map<std::wstring, std::wstring>* out,
                     REGSAM view = 0)
{
    UniqueHKey key = OpenKey(root, path, KEY_READ, view);
    if (!key)
        return;
    std::map<std::wstring, std::wstring> byName;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD length = 16384;
        DWORD type = 0;
        BYTE data[4096];
        DWORD size = sizeof(data);
        if (::RegEnumValueW(key.get(), i, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        std::wstring text = std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b)
            text += std::to_wstring(data[b]) + L",";
        byName[name] = text;
    }
    std::wstring values;
    for (const auto& [name, text] : byName)
        values += name + L"=" + text + L";";
    (*out)[path] = values;
    for (const std::wstring& child : SubkeyNames(root, path, view))
        DumpTree(root, path + L"\\" + child, out, view);
}

} // namespace registry_reader
