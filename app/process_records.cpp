// The process-wide records, defined in one translation unit so that they are
// built in exactly this order (and torn down in the reverse order): the base
// module record, the component module record with the server's object table,
// the window module record, then the module object. The bridge keeps its table
// of open edits itself (bridge/open_edits.cpp): the table calls nothing of the
// module or the runtime when it goes.

#include "app/server_module.h"

CAtlBaseModule s_baseModule;
CAtlComModule s_comModule(ObjectTableFirst(), ObjectTableLast());
CAtlWinModule s_winModule;
CQuillmorphOLEModule s_module;
