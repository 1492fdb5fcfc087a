#pragma once

// Where the process may load libraries from. Platform components that load a
// library by name while they run (the printer dialog's, for one) would search
// the executable's own folder first; the server's folder lies inside the
// drawing application's installation, where a planted library of such a name
// would run inside every user's server.

#include <windows.h>

// Restricts every later load by name to the system folder. Called first thing
// in the process, before anything could load a library. Systems without the
// restricting call (Windows 7 before its loader update) at least lose the
// current folder from the search. Returns whether the search is restricted to
// the system folder.
bool LockLibrarySearchPath();
