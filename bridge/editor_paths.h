#pragma once

// The rules that start the drawing application on a temporary copy of a
// drawing: where the editor lives beside the server, the name of the temporary
// ".ZRN" file and the command line. Rules only, so that the check program can
// apply them as the server does. Paths are UTF-16 all the way: an installation
// folder or a user's temporary folder may be named in any letters.

#include <windows.h>

#include <string>

// Replaces every non-overlapping occurrence of from, left to right, case-sensitively.
std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to);

// The drawing application's folder when the server is installed as
// "resources\QuillmorphOLE.exe" in it (letter case aside, and also where the
// path names it in the short 8.3 form); empty otherwise.
std::wstring InstallationFolder(const std::wstring& modulePath);

// The editor beside the server's "resources" folder: the beta build when it is
// there, else the release build.
std::wstring MakeEditorPath(const std::wstring& modulePath);

// The folder the editor starts in: the installation folder followed by one blank
// (the platform strips the blank).
std::wstring MakeWorkingFolder(const std::wstring& modulePath);

// The ".ZRN" name made from a reserved temporary name: the trailing characters of
// ".tmp" trimmed off, ".ZRN" appended.
std::wstring MakeZrnFileName(const std::wstring& reservedName);

// "editor" "file" -ole key: both paths quoted, because either may hold blanks.
std::wstring MakeEditorCommandLine(const std::wstring& editorPath, const std::wstring& fileName, LONG key);
