// Process entry of the server: everything happens in the module's ServerMain.

#include "app/server_module.h"
#include "server/library_search.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int showCommand)
{
    // Before anything can load a library by name.
    LockLibrarySearchPath();
    return s_module.WinMain(showCommand);
}
