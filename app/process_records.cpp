// The process-wide records, defined in one translation unit so that they are
// built in exactly this order (and torn down in the reverse order): the base
// module record, the component module record, the window module record, the
// module object, then the bridge's table of open edits.

#include "bridge/open_edits.h"
#include "server/module.h"

CAtlBaseModule s_baseModule;
CAtlComModule s_comModule;
CAtlWinModule s_winModule;
CQuillmorphOLEModule s_module;
OpenObjectTable s_openObjects;
