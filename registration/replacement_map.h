#pragma once

// The replacements of a registry script's %NAME% references: name/value pairs.
// Adding never replaces: lookup finds the first pair whose name matches
// without regard to case.

#include <windows.h>
#include <ole2.h>

#include <string>
#include <string_view>
#include <vector>

class CReplacementMap
{
public:
    HRESULT Add(LPCOLESTR name, LPCOLESTR value);
    // The value of the first matching pair, or null.
    LPCOLESTR Lookup(std::wstring_view name) const;
    void RemoveAll() { m_pairs.clear(); }

private:
    struct Pair
    {
        std::wstring name;
        std::wstring value;
    };
    std::vector<Pair> m_pairs;
};
