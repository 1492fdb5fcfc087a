#pragma once

// The counting and QueryInterface that the test doubles share. A double answers
// with its interface I, which also serves as its IUnknown; it overrides
// Answers() to stand for a peer that lacks an interface. A double that lives in
// the test's scope starts with a count of 1, the test's own, and only records
// its count; one made with DeletesItself starts at 0, is made with new and
// handed to its first owner, and goes when its last reference does.

#include <windows.h>
#include <ole2.h>

namespace testing_support {

template <class I, bool DeletesItself = false> class CountedUnknown : public I
{
public:
    virtual ~CountedUnknown() = default;

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!Answers(riid))
            return E_NOINTERFACE;
        *ppv = static_cast<I*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG count = --refs_;
        if (DeletesItself && count == 0)
            delete this;
        return count;
    }

    ULONG References() const { return refs_; }

protected:
    virtual bool Answers(REFIID riid) const
    {
        return InlineIsEqualGUID(riid, IID_IUnknown) || InlineIsEqualGUID(riid, __uuidof(I));
    }

private:
    ULONG refs_ = DeletesItself ? 0 : 1;
};

} // namespace testing_support
