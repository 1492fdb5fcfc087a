#pragma once

// Starting the drawing application on a temporary copy of a drawing: where the
// editor lives beside the server, the temporary ".ZRN" file and the command line.

#include <windows.h>

#include <string>

// Replaces every non-overlapping occurrence of from, left to right, case-sensitively.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to);

// The editor beside the server's "resources" folder: the beta build when it is
// there, else the release build.
std::string MakeEditorPath(const std::string& modulePath);

// The folder the editor starts in: the installation folder followed by one blank
// (the platform strips the blank).
std::string MakeWorkingFolder(const std::string& modulePath);

// The ".ZRN" name made from a reserved temporary name: the trailing characters of
// ".tmp" trimmed off, ".ZRN" appended.
std::string MakeZrnFileName(const std::string& reservedName);

// "editor" "file" -ole key: both paths quoted, because either may hold blanks.
std::string MakeEditorCommandLine(const std::string& editorPath, const std::string& fileName, LONG key);

class EditFiles;

// Reserves a temporary name in the user's temporary folder and writes bytes to
// the matching ".ZRN" file; fileName receives the file's full name, and files
// the two files, to be deleted when the edit ends. A failure leaves neither.
HRESULT WriteNativeDocumentFile(const BYTE* bytes, SIZE_T size, std::string* fileName, EditFiles* files);
