#pragma once

// The object layer every COM class of the server is built on: threading models,
// the reference-count root, interface tables, and the creatable wrappers that
// tie each live instance to the module's process lock.

#include <windows.h>
#include <ole2.h>

#include <memory>
#include <new>

#include "server/module.h"
#include "server/return_if_failed.h"

// Reference counting policies.
struct CComSingleThreadModel
{
    static LONG Increment(LONG* p) { return ++(*p); }
    static LONG Decrement(LONG* p) { return --(*p); }
};

struct CComMultiThreadModel
{
    static LONG Increment(LONG* p) { return ::InterlockedIncrement(p); }
    static LONG Decrement(LONG* p) { return ::InterlockedDecrement(p); }
};

// One row of an interface table. A function field of 1 marks a plain entry whose
// datum is the offset of the interface pointer within the object; a null
// function field ends the table.
using InterfaceEntryFunc = HRESULT(WINAPI*)(void* object, REFIID riid, void** ppv, DWORD_PTR datum);

struct InterfaceMapEntry
{
    const IID* piid;
    DWORD_PTR dw;
    InterfaceEntryFunc pFunc;
};

#define QUILLMORPH_SIMPLE_ENTRY (reinterpret_cast<InterfaceEntryFunc>(static_cast<DWORD_PTR>(1)))

HRESULT QueryInterfaceTable(void* object, const InterfaceMapEntry* table, REFIID riid, void** ppv);

// Offset of interface I within class T, for plain table entries.
template <class T, class I> DWORD_PTR InterfaceOffset()
{
    // Any non-null address serves: only the difference is used.
    const DWORD_PTR base = 0x1000;
    return reinterpret_cast<DWORD_PTR>(static_cast<I*>(reinterpret_cast<T*>(base))) - base;
}

// An interface answered with the pointer of another one the class implements,
// as IPersist is answered through IPersistStorage.
template <class I, class Via> struct Through
{
    using Answered = I;
    using Pointer = Via;
    struct Base
    {
    };
};

namespace com_object_detail {
// A plain entry: the class derives from the interface and answers with it.
template <class I> struct Entry
{
    using Answered = I;
    using Pointer = I;
    using Base = I;
};
template <class I, class Via> struct Entry<Through<I, Via>> : Through<I, Via>
{
};
} // namespace com_object_detail

// A class declares its interfaces once, here: it derives from each of them, and
// its interface table is made from the same list, in its order. IUnknown is
// answered through the first entry.
template <class T, class... Entries> class Implements : public com_object_detail::Entry<Entries>::Base...
{
public:
    static const InterfaceMapEntry* GetInterfaceTable()
    {
        using namespace com_object_detail;
        static const InterfaceMapEntry table[] = {{&__uuidof(typename Entry<Entries>::Answered),
                                                   InterfaceOffset<T, typename Entry<Entries>::Pointer>(),
                                                   QUILLMORPH_SIMPLE_ENTRY}...,
                                                  {nullptr, 0, nullptr}};
        return table;
    }
};

// Root of every object: the count and the default construction hooks.
class CComObjectRootBase
{
public:
    HRESULT InitialConstruct() { return S_OK; }
    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}
    void PreDestroy() {}

    static HRESULT InternalQueryInterface(void* object, const InterfaceMapEntry* table, REFIID riid,
                                          void** ppv)
    {
        return QueryInterfaceTable(object, table, riid, ppv);
    }

    LONG m_dwRef = 0;
};

template <class ThreadModel> class CComObjectRootEx : public CComObjectRootBase
{
public:
    using ThreadModelType = ThreadModel;
    LONG InternalAddRef() { return ThreadModel::Increment(&m_dwRef); }
    LONG InternalRelease() { return ThreadModel::Decrement(&m_dwRef); }
};

// Binds a class to its class id.
template <class T, const CLSID* pclsid> class CComCoClass
{
public:
    static const CLSID& GetObjectCLSID() { return *pclsid; }
};

// Lifetime marker written into a dying object's count, so that a stray call on a
// destroyed object is recognisable in a debugger.
constexpr LONG kDestroyedRefCount = -(LONG_MAX / 2);

// Holds a module lock for the life of a scope.
class ScopedModuleLock
{
public:
    ScopedModuleLock() { s_pModule->Lock(); }
    ScopedModuleLock(const ScopedModuleLock&) = delete;
    ScopedModuleLock& operator=(const ScopedModuleLock&) = delete;
    ~ScopedModuleLock() { s_pModule->Unlock(); }
};

// The wrapper every object is made as: a plain count and the destruction
// steps. A locking wrapper holds one module lock from construction to
// destruction; class objects use the other kind, since they live as long as
// the runtime's registration and must not keep the server alive by themselves.
template <class Base, bool LocksModule> class CountedObject : public Base
{
public:
    CountedObject()
    {
        if (LocksModule)
            s_pModule->Lock();
    }
    CountedObject(const CountedObject&) = delete;
    CountedObject& operator=(const CountedObject&) = delete;

    virtual ~CountedObject()
    {
        this->m_dwRef = kDestroyedRefCount;
        this->FinalRelease();
        this->PreDestroy();
        if (LocksModule)
            s_pModule->Unlock();
    }

    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(this->InternalAddRef()); }

    STDMETHOD_(ULONG, Release)() override
    {
        LONG count = this->InternalRelease();
        if (count == 0 && LocksModule) {
            // The object's own lock goes while this one still holds the process,
            // so the live count reaches zero only after the memory is gone.
            ScopedModuleLock lock;
            delete this;
        } else if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        return Base::InternalQueryInterface(this, Base::GetInterfaceTable(), riid, ppv);
    }

    // Direct creation without an interface request: the wrapper comes back with a
    // count of 0 and the caller adds the first reference.
    static HRESULT CreateInstance(CountedObject** pp);

    // The construction steps in their order; the first failure ends them.
    HRESULT RunConstructionSteps()
    {
        RETURN_IF_FAILED(this->InitialConstruct());
        RETURN_IF_FAILED(this->PostConstruct());
        return this->FinalConstruct();
    }
    HRESULT PostConstruct() { return S_OK; }
};

template <class Base> using CComObject = CountedObject<Base, true>;
template <class Base> using CComObjectNoLock = CountedObject<Base, false>;

// The one way an object of the server comes into being: a new wrapper, held by
// its owner while the construction steps run, so that a failure anywhere frees
// it. It comes back whole and uncounted.
template <class Wrapper> HRESULT ConstructObject(std::unique_ptr<Wrapper>* object)
{
    object->reset(new (std::nothrow) Wrapper());
    if (!*object)
        return E_OUTOFMEMORY;
    HRESULT hr = (*object)->RunConstructionSteps();
    if (hr != S_OK)
        object->reset();
    return hr;
}

// Gives a whole object to a caller as interface riid; the caller's reference
// owns it from then on. When the object does not have riid, the owner frees it.
template <class Wrapper> HRESULT HandOutObject(std::unique_ptr<Wrapper> object, REFIID riid, void** ppv)
{
    HRESULT hr = object->QueryInterface(riid, ppv);
    if (hr == S_OK)
        static_cast<void>(object.release());
    return hr;
}

// A new object, handed out as riid in one step.
template <class Wrapper> HRESULT CreateObject(REFIID riid, void** ppv)
{
    std::unique_ptr<Wrapper> object;
    HRESULT hr = ConstructObject(&object);
    if (hr != S_OK)
        return hr;
    return HandOutObject(std::move(object), riid, ppv);
}

template <class Base, bool LocksModule>
HRESULT CountedObject<Base, LocksModule>::CreateInstance(CountedObject** pp)
{
    if (!pp)
        return E_POINTER;
    *pp = nullptr;
    std::unique_ptr<CountedObject> object;
    HRESULT hr = ConstructObject(&object);
    if (hr != S_OK)
        return hr;
    *pp = object.release();
    return S_OK;
}

// The instance creator of an object-table row: no aggregation, a new wrapper, the
// construction steps, then the interface the caller asked for.
template <class T> HRESULT WINAPI CreateObjectInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (outer) {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        return CLASS_E_NOAGGREGATION;
    }
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    return CreateObject<CComObject<T>>(riid, ppv);
}
