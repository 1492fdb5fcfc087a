#pragma once

// The command-line scan that decides between serving objects and registering.

#include <windows.h>

// Position after the first '-' or '/' in s, or null.
LPCSTR FindSwitchStart(LPCSTR s);

// 0 when a and b hold the same word, compared without regard to case; a word
// ends at NUL, blank or tab.
int CompareSwitchWord(LPCSTR a, LPCSTR b);

enum class ServerSwitch
{
    None,
    UnregServer,
    RegServer,
    UnregServerPerUser,
    RegServerPerUser,
};

// The leftmost recognised switch on the line, or None.
ServerSwitch FindServerSwitch(LPCSTR commandLine);
