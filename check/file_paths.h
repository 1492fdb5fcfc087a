#pragma once

// Files as the check compares them: a path may name a file in any letter case
// or in its short 8.3 form.

#include <windows.h>

#include <string>

// True when path names an existing file (not a folder).
bool FileExists(const std::wstring& path);

// True when a and b name the same file, whatever the letter case or the short
// 8.3 form of either.
bool SamePath(const std::wstring& a, const std::wstring& b);
