// Process entry of the server: everything happens in the module's ServerMain.

#include "server/library_search.h"
#include "server/module.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int showCommand)
{
    // Before anything can load a library by name.
    LockLibrarySearchPath();
    return s_module.WinMain(showCommand);
}
