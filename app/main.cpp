// Process entry of the server: everything happens in the module's ServerMain.

#include "app/server_module.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int showCommand)
{
    return s_module.WinMain(showCommand);
}
