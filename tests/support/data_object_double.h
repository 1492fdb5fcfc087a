#pragma once

// The part of a data object that the stand-ins for a drawing do not serve:
// every method but GetData and SetData answers E_NOTIMPL. A stand-in derives
// from it and serves those two as its test needs.

#include <windows.h>
#include <ole2.h>

#include "support/counted_unknown.h"

namespace testing_support {

template <bool DeletesItself> class DataObjectDouble : public CountedUnknown<IDataObject, DeletesItself>
{
public:
    STDMETHOD(GetDataHere)(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHOD(QueryGetData)(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHOD(GetCanonicalFormatEtc)(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHOD(EnumFormatEtc)(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHOD(DAdvise)(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHOD(DUnadvise)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(EnumDAdvise)(IEnumSTATDATA**) override { return E_NOTIMPL; }
};

} // namespace testing_support
