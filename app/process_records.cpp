// The process-wide records, defined in one translation unit so that they are
// built in exactly this order (and torn down in the reverse order): the base
// module record, the component module record with the server's object table,
// the window module record, the module object, then the bridge's table of open
// edits.

#include "app/server_module.h"
#include "bridge/open_edits.h"

CAtlBaseModule s_baseModule;
CAtlComModule s_comModule(ObjectTableFirst(), ObjectTableLast());
CAtlWinModule s_winModule;
CQuillmorphOLEModule s_module;
OpenObjectTable s_openObjects;
