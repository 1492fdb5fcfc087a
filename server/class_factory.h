#pragma once

// The class object the runtime calls to create instances of a table row.

#include "server/com_object.h"
#include "server/object_table.h"

class CComClassFactory : public Implements<CComClassFactory, IClassFactory>,
                         public CComObjectRootEx<CComMultiThreadModel>
{
public:
    CComClassFactory() = default;
    virtual ~CComClassFactory() { m_critsec.Term(); }

    HRESULT FinalConstruct() { return m_critsec.Init(); }

    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHOD(LockServer)(BOOL lock) override;

    // Initialised at creation, never entered.
    CComCriticalSection m_critsec;
    InstanceCreatorFunc m_pfnCreateInstance = nullptr;
};

// The class-object creator shared by every row: the context is the row's
// instance creator.
HRESULT WINAPI CreateClassFactory(void* context, REFIID riid, void** ppv);
