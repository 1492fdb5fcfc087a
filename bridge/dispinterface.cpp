#include "bridge/dispinterface.h"

// IUnknown is answered with the first row. The six methods live with the work
// they do: editor_launch.cpp, returning_edits.cpp, clipboard_round_trip.cpp.
const InterfaceMapEntry* CDispinterface::GetInterfaceTable()
{
    static const InterfaceMapEntry table[] = {
        {&IID_IQuillmorphOLE, InterfaceOffset<CDispinterface, IQuillmorphOLE>(), QUILLMORPH_SIMPLE_ENTRY},
        {&IID_IDispatch, InterfaceOffset<CDispinterface, IQuillmorphOLE>(), QUILLMORPH_SIMPLE_ENTRY},
        {nullptr, 0, nullptr},
    };
    return table;
}
