#include "server/object_table.h"

#include "bridge/dispinterface.h"
#include "embedded/embedded_object.h"
#include "registration/server_registration.h"
#include "server/class_factory.h"
#include "server/interface_pins.h"
#include "server/module.h"

namespace {

ObjectRegistration s_dispinterfaceRegistration = {nullptr, 0};
ObjectRegistration s_embeddedObjectRegistration = {nullptr, 0};

const wchar_t* NoDescription()
{
    return nullptr;
}
const CategoryTableEntry* NoCategories()
{
    return nullptr;
}
void NoStartStop(bool) {}

HRESULT UpdateDispinterfaceRegistry(bool registerEntries)
{
    return UpdateClassRegistry(IDR_QUILLMORPHOLE, registerEntries);
}

HRESULT UpdateEmbeddedObjectRegistry(bool registerEntries)
{
    return UpdateClassRegistry(IDR_QUILLMORPHEMBEDDEDOBJECT, registerEntries);
}

ObjectTableEntry s_dispinterfaceEntry = {
    &CLSID_QuillmorphOLE,
    &UpdateDispinterfaceRegistry,
    &CreateClassFactory,
    &CreateObjectInstance<CDispinterface>,
    &s_dispinterfaceRegistration,
    &NoDescription,
    &NoCategories,
    &NoStartStop,
};

ObjectTableEntry s_embeddedObjectEntry = {
    &CLSID_QuillmorphEmbeddedObject,
    &UpdateEmbeddedObjectRegistry,
    &CreateClassFactory,
    &CreateObjectInstance<CEmbeddedObject>,
    &s_embeddedObjectRegistration,
    &NoDescription,
    &NoCategories,
    &NoStartStop,
};

ObjectTableEntry* s_objectTable[] = {&s_dispinterfaceEntry, &s_embeddedObjectEntry};

InterfacePins s_servedInterfacePins;

} // namespace

ObjectTableEntry** ObjectTableFirst()
{
    return s_objectTable;
}
ObjectTableEntry** ObjectTableLast()
{
    return s_objectTable + sizeof(s_objectTable) / sizeof(s_objectTable[0]);
}

HRESULT RegisterClassObject(ObjectTableEntry* entry, DWORD context, DWORD flags)
{
    if (!entry->createClassObject)
        return S_OK;
    IUnknown* p = nullptr;
    HRESULT hr = entry->createClassObject(reinterpret_cast<void*>(entry->createInstance), IID_IUnknown,
                                          reinterpret_cast<void**>(&p));
    if (SUCCEEDED(hr))
        hr = ::CoRegisterClassObject(*entry->classId, p, context, flags, &entry->registration->dwCookie);
    // From here on the runtime holds its own reference: the class object lives
    // exactly as long as its registration.
    if (p)
        p->Release();
    return hr;
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

void PinServedInterfaces()
{
    // Objects that hold no process lock: the pins must not keep the server alive.
    Microsoft::WRL::ComPtr<IUnknown> automation(
        static_cast<IQuillmorphOLE*>(new (std::nothrow) CComObjectNoLock<CDispinterface>()));
    Microsoft::WRL::ComPtr<IUnknown> drawing(
        static_cast<IOleObject*>(new (std::nothrow) CComObjectNoLock<CEmbeddedObject>()));
    if (automation)
        s_servedInterfacePins.Pin(automation.Get(), IID_IQuillmorphOLE);
    if (drawing) {
        for (const IID* iid : {&IID_IOleObject, &IID_IDataObject, &IID_IPersistStorage})
            s_servedInterfacePins.Pin(drawing.Get(), *iid);
    }
}

void UnpinServedInterfaces()
{
    s_servedInterfacePins.Clear();
}
