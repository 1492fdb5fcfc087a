#include "bridge/native_data_format.h"

const char kNativeDataFlavour[] = "JAVA_DATAFLAVOR:chemical/x-vantrelis-zrn; class=java.io.InputStream";

FORMATETC NativeDataFormatEtc()
{
    FORMATETC format = {};
    format.cfFormat = static_cast<CLIPFORMAT>(::RegisterClipboardFormatA(kNativeDataFlavour));
    format.ptd = nullptr;
    format.dwAspect = DVASPECT_CONTENT;
    format.lindex = -1;
    format.tymed = TYMED_HGLOBAL;
    return format;
}
