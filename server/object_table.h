#pragma once

// The table of creatable classes and their registration with the component
// runtime, a row at a time. The rows themselves are the composition's
// (app/server_classes.cpp); the component module record holds their bounds and
// registers the whole table (server/module.h).

#include <windows.h>
#include <ole2.h>

#include <wrl/client.h>

using CreatorFunc = HRESULT(WINAPI*)(void* context, REFIID riid, void** ppv);
using InstanceCreatorFunc = HRESULT(WINAPI*)(IUnknown* outer, REFIID riid, void** ppv);

struct ObjectRegistration
{
    Microsoft::WRL::ComPtr<IUnknown> pCachedClassObject; // never filled by this server
    DWORD dwCookie;                                      // 0 = not registered
};

struct CategoryTableEntry;

struct ObjectTableEntry
{
    const CLSID* classId;
    HRESULT (*updateRegistry)(bool registerEntries);
    CreatorFunc createClassObject;
    InstanceCreatorFunc createInstance;
    ObjectRegistration* registration;
    const wchar_t* (*getDescription)();
    const CategoryTableEntry* (*getCategories)();
    void (*classStartStop)(bool starting);
};

HRESULT RegisterClassObject(ObjectTableEntry* entry, DWORD context, DWORD flags);
HRESULT RevokeClassObject(ObjectTableEntry* entry);
