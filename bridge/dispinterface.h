#pragma once

// The automation class: the dual interface IQuillmorphOLE through which embedded
// drawings and the drawing application meet.

#include "server/class_ids.h"
#include "server/com_object.h"

class CDispinterface : public CComObjectRootEx<CComSingleThreadModel>,
                       public CComCoClass<CDispinterface, &CLSID_QuillmorphOLE>,
                       public IQuillmorphOLE
{
public:
    static const InterfaceMapEntry* GetInterfaceTable();

    // IDispatch
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override;
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                             DISPID* rgDispId) override;
    STDMETHOD(Invoke)(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                      VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // IQuillmorphOLE
    STDMETHOD(TripForward)(VARIANT a, VARIANT b, VARIANT* c) override;
    STDMETHOD(TripBack)(VARIANT* d) override;
    STDMETHOD(Activate)(VARIANT e) override;
    STDMETHOD(UpdateAndClose)(VARIANT f, VARIANT g, VARIANT h) override;
    STDMETHOD(Close)(VARIANT i) override;
    STDMETHOD(CloseAll)() override;

    virtual ~CDispinterface() = default;
};
