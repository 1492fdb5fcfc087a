#pragma once

// QuillmorphCheck document FILE|FOLDER... [--json] [--extract DIR]: finds,
// checks and extracts every drawing in containers' documents.

#include <string>
#include <vector>

// True when the arguments (without the program's name) ask for the document mode.
bool IsDocumentCommand(const std::vector<std::wstring>& arguments);

// Runs the mode; returns the exit code (0 all sound, 1 a drawing has faults,
// 2 a document or an argument cannot be read).
int RunDocumentCommand(const std::vector<std::wstring>& arguments);
