// Process entry of the server: everything happens in the module's ServerMain.

#include "server/module.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int showCommand)
{
    return s_module.WinMain(showCommand);
}
