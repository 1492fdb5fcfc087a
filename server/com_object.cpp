#include "server/com_object.h"

HRESULT QueryInterfaceTable(void* object, const InterfaceMapEntry* table, REFIID riid, void** ppv)
{
    if (!object || !table)
        return E_INVALIDARG;
    if (!ppv)
        return E_POINTER;

    auto answer = [&](const InterfaceMapEntry& entry) {
        auto* p = reinterpret_cast<IUnknown*>(static_cast<BYTE*>(object) + entry.dw);
        p->AddRef();
        *ppv = p;
        return S_OK;
    };

    if (InlineIsEqualGUID(riid, IID_IUnknown))
        return answer(table[0]);

    for (const InterfaceMapEntry* entry = table; entry->pFunc; ++entry) {
        if (entry->piid && !InlineIsEqualGUID(*entry->piid, riid))
            continue;
        if (entry->pFunc == QUILLMORPH_SIMPLE_ENTRY)
            return answer(*entry);
        HRESULT hr = entry->pFunc(object, riid, ppv, entry->dw);
        if (hr == S_OK)
            return S_OK;
        if (entry->piid && FAILED(hr)) {
            *ppv = nullptr;
            return hr;
        }
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}
