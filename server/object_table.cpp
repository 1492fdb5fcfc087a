#include "server/object_table.h"

using Microsoft::WRL::ComPtr;

HRESULT RegisterClassObject(ObjectTableEntry* entry, DWORD context, DWORD flags)
{
    if (!entry->createClassObject)
        return S_OK;
    // The runtime takes its own reference: the class object lives exactly as
    // long as its registration.
    ComPtr<IUnknown> classObject;
    HRESULT hr =
        entry->createClassObject(reinterpret_cast<void*>(entry->createInstance), IID_PPV_ARGS(&classObject));
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
