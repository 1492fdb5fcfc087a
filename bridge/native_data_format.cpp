#include "bridge/native_data_format.h"

#include "embedded/clipboard_formats.h"

FORMATETC NativeDataFormatEtc()
{
    FORMATETC format = {};
    format.cfFormat = RegisterNativeDataFormat();
    format.ptd = nullptr;
    format.dwAspect = DVASPECT_CONTENT;
    format.lindex = -1;
    format.tymed = TYMED_HGLOBAL;
    return format;
}
