#include "bridge/open_edits.h"

// The table itself is defined with the other process-wide records so that it is
// built after the module and destroyed before it.
LONG s_nextObjectKey = 0;
