#include "server/object_table.h"

#include "server/module.h"

using Microsoft::WRL::ComPtr;

HRESULT RegisterClassObject(ObjectTableEntry* entry, DWORD context, DWORD flags)
{
    if (!entry->createClassObject)
        return S_OK;
    // The runtime takes its own reference: the class object lives exactly as
    // long as its registration.
    ComPtr<IUnknown> classObject;
    HRESULT hr = entry->createClassObject(reinterpret_cast<void*>(entry->createInstance), IID_IUnknown,
                                          reinterpret_cast<void**>(classObject.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    return ::CoRegisterClassObject(*entry->classId, classObject.Get(), context, flags,
                                   &entry->registration->dwCookie);
}

HRESULT RevokeClassObject(ObjectTableEntry* entry)
{
    if (entry->registration->dwCookie == 0)
        return S_OK;
    return ::CoRevokeClassObject(entry->registration->dwCookie);
}

HRESULT RegisterClassObjects(DWORD context, DWORD flags)
{
    HRESULT hr = S_FALSE;
    for (ObjectTableEntry** slot = s_comModule.m_ppAutoObjMapFirst;
         slot < s_comModule.m_ppAutoObjMapLast && SUCCEEDED(hr); ++slot) {
        if (*slot)
            hr = RegisterClassObject(*slot, context, flags);
    }
    return hr;
}

HRESULT RevokeClassObjects()
{
    HRESULT hr = S_OK;
    for (ObjectTableEntry** slot = s_comModule.m_ppAutoObjMapFirst;
         slot < s_comModule.m_ppAutoObjMapLast && hr == S_OK; ++slot) {
        if (*slot)
            hr = RevokeClassObject(*slot);
    }
    return hr;
}
