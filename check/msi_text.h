#pragma once

// Text that Windows Installer hands out into a caller's buffer: asked for its
// length first, then read whole, since a value (a source folder, a row's
// field) may be longer than any fixed buffer.

#include <windows.h>

#include <functional>
#include <string>

// The text get writes (get(buffer, &length) as the installer's string
// functions take them); empty when there is none or it cannot be read.
std::wstring MsiText(const std::function<UINT(wchar_t* buffer, DWORD* length)>& get);
