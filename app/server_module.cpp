#include "app/server_module.h"

#include "bridge/dispinterface.h"
#include "embedded/embedded_object.h"
#include "server/command_line.h"
#include "server/server_lifetime.h"

template class CAtlExeModuleT<CQuillmorphOLEModule>;

namespace {

bool s_bPerUserRegistration = false;

// What registration is told of this server: its module, the executable, its
// classes and the per-user switch as it stands.
RegistrationContext ServerRegistrationContext()
{
    return RegistrationContext{s_pModule, s_baseModule.m_hInst, s_comModule.m_ppAutoObjMapFirst,
                               s_comModule.m_ppAutoObjMapLast, s_bPerUserRegistration};
}

} // namespace

GUID CQuillmorphOLEModule::GetLibId()
{
    return LIBID_QUILLMORPHOLELib;
}

HRESULT CQuillmorphOLEModule::AddModuleReplacements(IRegistrarBase* registrar)
{
    return registrar->DefineReplacement(L"APPID", GetAppId());
}

bool CQuillmorphOLEModule::ParseCommandLine(LPCSTR commandLine, HRESULT* status)
{
    *status = S_OK;
    const ServerSwitch found = FindServerSwitch(commandLine);
    if (found == ServerSwitch::None)
        return true;
    if (found == ServerSwitch::UnregServerPerUser || found == ServerSwitch::RegServerPerUser) {
        *status = EnablePerUserRegistration(true);
        if (FAILED(*status))
            return false;
    }
    if (found == ServerSwitch::UnregServer || found == ServerSwitch::UnregServerPerUser) {
        // Classes first, then the module step.
        *status = UnregisterComServer(true);
        if (FAILED(*status))
            return false;
        *status = ApplyModuleRegistry(false);
        return false;
    }
    // The module step first, then classes.
    *status = ApplyModuleRegistry(true);
    if (FAILED(*status))
        return false;
    *status = RegisterComServer(true);
    return false;
}

HRESULT CQuillmorphOLEModule::RegisterComServer(bool registerTypeLib)
{
    return ::RegisterComServer(ServerRegistrationContext(), registerTypeLib, nullptr);
}

HRESULT CQuillmorphOLEModule::UnregisterComServer(bool unregisterTypeLib)
{
    return ::UnregisterComServer(ServerRegistrationContext(), unregisterTypeLib, nullptr);
}

void CQuillmorphOLEModule::PinServedInterfaces()
{
    // Objects that hold no process lock: the pins must not keep the server alive.
    Microsoft::WRL::ComPtr<IUnknown> automation;
    Microsoft::WRL::ComPtr<IUnknown> drawing;
    CreateObject<CComObjectNoLock<CDispinterface>>(IID_PPV_ARGS(&automation));
    CreateObject<CComObjectNoLock<CEmbeddedObject>>(IID_PPV_ARGS(&drawing));
    if (automation)
        m_servedInterfacePins.Pin(automation.Get(), IID_IQuillmorphOLE);
    if (drawing) {
        for (const IID* iid : {&IID_IOleObject, &IID_IDataObject, &IID_IPersistStorage})
            m_servedInterfacePins.Pin(drawing.Get(), *iid);
    }
}

HRESULT EnablePerUserRegistration(bool enable)
{
    s_bPerUserRegistration = enable;
    return S_OK;
}

HRESULT ApplyRegistryResource(WORD resourceId, bool registerEntries)
{
    return ApplyRegistryResource(ServerRegistrationContext(), resourceId, registerEntries);
}
