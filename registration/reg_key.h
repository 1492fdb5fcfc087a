#pragma once

// The registry keys of the registry-script walk. A key it opens or creates is
// owned by a UniqueHKey (server/handles.h), closed with it; a key owned
// elsewhere (a root, the parent's key of an entry) is used through the
// functions below, which take the handle as it is.
//
// Every open, create and delete names the registry view it works in
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY, or 0 for the process's own), so that a
// walk that starts in one view stays there all the way down. Names and values
// go through the wide registry calls: a path in any script is kept whole.

#include <windows.h>

#include "server/handles.h"

// Each returns the platform's code; access carries the view. The key goes
// into *key, which closes the one it held first.
LONG OpenRegKey(HKEY parent, LPCWSTR name, REGSAM access, UniqueHKey* key);
LONG CreateRegKey(HKEY parent, LPCWSTR name, REGSAM access, UniqueHKey* key);

// valueName null: the key's default value. bytes: the whole data, terminators
// included.
LONG SetValue(HKEY key, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD bytes);
LONG DeleteValue(HKEY key, LPCWSTR valueName);

// Deletes the subkey name of parent, which must have no subkeys of its own.
LONG RemoveSubkey(HKEY parent, LPCWSTR name, REGSAM view);
// Deletes the subkey name of parent and everything below it.
LONG DeleteKeyTree(HKEY parent, LPCWSTR name, REGSAM view);

// True only if the key's subkey count could be read and is above zero.
bool KeyHasSubkeys(HKEY key);
