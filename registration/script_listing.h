#pragma once

// What a registry script would write, listed without touching the registry:
// every key its register walk opens or creates and every value it sets, in
// the script's order. The listing reads an expanded script (script_expansion.h)
// with the same tokens and value types as the walk that writes it, so that a
// reader of the registry can tell whether a registration is there as the
// script says.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "registration/script_value.h"

struct ScriptEntry
{
    // The root key the script names (HKEY_CLASSES_ROOT for "HKCR").
    HKEY root = nullptr;
    // The key below the root, its names joined by backslashes.
    std::wstring keyPath;
    // False: the key itself; true: one of its values.
    bool isValue = false;
    // The value's name; empty for the key's default value.
    std::wstring valueName;
    RegistryValue value;
    // The key's modifiers: NoRemove keys are shared with other software,
    // ForceRemove keys are written afresh with everything below them.
    bool noRemove = false;
    bool forceRemove = false;
};

// The entries of expanded, appended to entries. A key entry comes before the
// entries below it. Delete entries write nothing and are not listed. A script
// the walk would refuse gives the walk's HRESULT (DISP_E_EXCEPTION for
// malformed text, the value type's own error for a value it cannot make).
HRESULT ListScriptEntries(std::wstring_view expanded, std::vector<ScriptEntry>* entries);
