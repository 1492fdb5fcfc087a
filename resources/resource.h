#pragma once

// Resource identifiers of the server executable.
#define IDS_PROJNAME 100
#define IDS_OBJECT_DESCRIPTION 103
#define IDR_QUILLMORPHEMBEDDEDOBJECT 104
#define IDR_QUILLMORPHOLE 105
