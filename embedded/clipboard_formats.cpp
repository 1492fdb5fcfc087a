#include "embedded/clipboard_formats.h"

namespace {

CLIPFORMAT RegisterNamedFormat(const char* name)
{
    // Registered format numbers lie in 0xC000..0xFFFF and fit a CLIPFORMAT.
    return static_cast<CLIPFORMAT>(::RegisterClipboardFormatA(name));
}

} // namespace

CLIPFORMAT RegisterNativeDataFormat()
{
    return RegisterNamedFormat(kNativeDataFlavourName);
}
CLIPFORMAT RegisterEmbedSourceFormat()
{
    return RegisterNamedFormat(kEmbedSourceName);
}
CLIPFORMAT RegisterEmbeddedObjectFormat()
{
    return RegisterNamedFormat(kEmbeddedObjectName);
}
