#pragma once

// The automation class: the dual interface IQuillmorphOLE through which embedded
// drawings and the drawing application meet. An instance holds nothing of its
// own; the edits it opens and ends live in the process-wide table of open edits,
// so any instance can end an edit that another one opened. The six methods
// live with the work they do: activate.cpp, returning_edits.cpp,
// clipboard_round_trip.cpp.

#include "server/dispatch_impl.h"
#include "server/class_ids.h"
#include "server/com_object.h"

// IDispatch is answered through the dual interface.
class CDispinterface
    : public CComObjectRootEx<CComSingleThreadModel>,
      public CComCoClass<CDispinterface, &CLSID_QuillmorphOLE>,
      public IDispatchImpl<Implements<CDispinterface, IQuillmorphOLE, Through<IDispatch, IQuillmorphOLE>>,
                           &IID_IQuillmorphOLE, &LIBID_QUILLMORPHOLELib, 1, 0, CComTypeInfoHolder>
{
public:
    // IQuillmorphOLE
    STDMETHOD(TripForward)(VARIANT a, VARIANT b, VARIANT* c) override;
    STDMETHOD(TripBack)(VARIANT* d) override;
    STDMETHOD(Activate)(VARIANT e) override;
    STDMETHOD(UpdateAndClose)(VARIANT f, VARIANT g, VARIANT h) override;
    STDMETHOD(Close)(VARIANT i) override;
    STDMETHOD(CloseAll)() override;

    virtual ~CDispinterface() = default;
};
