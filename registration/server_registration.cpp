#include "registration/server_registration.h"

namespace {
bool s_bPerUserRegistration = false;
}

HRESULT EnablePerUserRegistration(bool enable)
{
    s_bPerUserRegistration = enable;
    return S_OK;
}

HRESULT QueryPerUserRegistration(bool* enabled)
{
    *enabled = s_bPerUserRegistration;
    return S_OK;
}

// The registry work is not built yet: nothing is written, and the switches say so.
HRESULT UpdateClassRegistry(WORD, bool) { return E_NOTIMPL; }
HRESULT RegisterComServer(bool, const CLSID*) { return E_NOTIMPL; }
HRESULT UnregisterComServer(bool, const CLSID*) { return E_NOTIMPL; }
