#pragma once

// The server put together: its module, which knows the classes the server
// offers, answers the registration switches and holds the per-user choice.
// This is the one place that sees every subsystem.

#include "registration/server_registration.h"
#include "server/interface_pins.h"
#include "server/module.h"

class CQuillmorphOLEModule : public CAtlExeModuleT<CQuillmorphOLEModule>
{
public:
    static GUID GetLibId();
    // The server declares no application id.
    static const wchar_t* GetAppId() { return L""; }

    HRESULT AddModuleReplacements(IRegistrarBase* registrar) override;

    // True to serve objects; false to end at once with *status as the exit
    // code, after a registration switch did its work.
    bool ParseCommandLine(LPCSTR commandLine, HRESULT* status);

    // The server has no module-level script.
    HRESULT ApplyModuleRegistry(bool /*registerEntries*/) { return S_OK; }
    HRESULT RegisterComServer(bool registerTypeLib);
    HRESULT UnregisterComServer(bool unregisterTypeLib);

    // Keeps one stub of every interface the classes serve for as long as they
    // are registered (see server/interface_pins.h); a failure only costs the pins.
    void PinServedInterfaces();
    void UnpinServedInterfaces() { m_servedInterfacePins.Clear(); }

private:
    InterfacePins m_servedInterfacePins;
};

extern CQuillmorphOLEModule s_module;

// The rows of the server's object table, the automation class first.
ObjectTableEntry** ObjectTableFirst();
ObjectTableEntry** ObjectTableLast();

// The per-user switch, off at start: once on, registration writes under
// HKCU\Software\Classes and uses the per-user type-library functions.
HRESULT EnablePerUserRegistration(bool enable);

// One of the executable's script resources, applied as the server registers
// itself.
HRESULT ApplyRegistryResource(WORD resourceId, bool registerEntries);
