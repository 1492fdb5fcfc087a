#pragma once

// The classes the server offers: the rows of its object table, the automation
// class first.

#include "server/object_table.h"

ObjectTableEntry** ObjectTableFirst();
ObjectTableEntry** ObjectTableLast();
