#include "registration/library_interfaces.h"

#include <wrl/client.h>

#include "server/handles.h"
#include "server/return_if_failed.h"

HRESULT
ForEachLibraryInterface(ITypeLib* library,
                        const std::function<HRESULT(UINT index, TYPEKIND kind, const TYPEATTR& attr)>& visit)
{
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind = TKIND_MAX;
        if (FAILED(library->GetTypeInfoType(i, &kind)) || (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH))
            continue;
        Microsoft::WRL::ComPtr<ITypeInfo> info;
        RETURN_IF_FAILED(library->GetTypeInfo(i, &info));
        TypeAttrGuard attr(info.Get());
        RETURN_IF_FAILED(info->GetTypeAttr(attr.put()));
        RETURN_IF_FAILED(visit(i, kind, *attr.operator->()));
    }
    return S_OK;
}
