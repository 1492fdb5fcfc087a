#pragma once

// The table of creatable classes and their registration with the component
// runtime. Row order matters: the automation class comes first.

#include <windows.h>
#include <ole2.h>

using CreatorFunc = HRESULT(WINAPI*)(void* context, REFIID riid, void** ppv);
using InstanceCreatorFunc = HRESULT(WINAPI*)(IUnknown* outer, REFIID riid, void** ppv);

struct ObjectRegistration
{
    IUnknown* pCachedClassObject; // never filled by this server
    DWORD dwCookie;               // 0 = not registered
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

// The bounds of the table as the component module record holds them.
ObjectTableEntry** ObjectTableFirst();
ObjectTableEntry** ObjectTableLast();

HRESULT RegisterClassObjects(DWORD context, DWORD flags);
// Keeps one stub of every interface the classes serve for as long as they are
// registered (see server/interface_pins.h); a failure only costs the pins.
void PinServedInterfaces();
void UnpinServedInterfaces();
HRESULT RevokeClassObjects();
HRESULT RegisterClassObject(ObjectTableEntry* entry, DWORD context, DWORD flags);
HRESULT RevokeClassObject(ObjectTableEntry* entry);
