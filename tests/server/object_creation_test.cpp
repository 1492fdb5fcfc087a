// Class objects, instance creation and the process lock, in-process.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include "app/server_module.h"
#include "bridge/dispinterface.h"
#include "embedded/embedded_object.h"
#include "server/class_factory.h"
#include "server/module.h"
#include "server/object_table.h"
#include "support/test_support.h"

using Microsoft::WRL::ComPtr;

namespace {

// The runtime's process count, read without changing it.
LONG ProcessLockCount()
{
    LONG count = s_pModule->Lock();
    s_pModule->Unlock();
    return count - 1;
}

ComPtr<IClassFactory> FactoryFor(InstanceCreatorFunc creator)
{
    ComPtr<IClassFactory> factory;
    HRESULT hr = CreateClassFactory(reinterpret_cast<void*>(creator), IID_PPV_ARGS(&factory));
    EXPECT_EQ(hr, S_OK);
    return factory;
}

class ObjectCreation : public ::testing::Test
{
protected:
    testing_support::Apartment apartment_;
};

// A probe object with an interface table of its own, to exercise the lookup.
struct Probe : IPersist, IDataObject
{
    LONG refs = 0;
    STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOTIMPL; }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD(GetClassID)(CLSID*) override { return E_NOTIMPL; }
    STDMETHOD(GetData)(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHOD(GetDataHere)(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHOD(QueryGetData)(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHOD(GetCanonicalFormatEtc)(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHOD(SetData)(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHOD(EnumFormatEtc)(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHOD(DAdvise)(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHOD(DUnadvise)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(EnumDAdvise)(IEnumSTATDATA**) override { return E_NOTIMPL; }
};

HRESULT WINAPI RefuseStorage(void*, REFIID, void** ppv, DWORD_PTR)
{
    *ppv = reinterpret_cast<void*>(0x1);
    return E_ACCESSDENIED;
}

HRESULT WINAPI PassOn(void*, REFIID, void**, DWORD_PTR)
{
    return S_FALSE;
}

TEST(InterfaceTable, AnswersPlainEntriesByOffsetAndIUnknownWithTheFirst)
{
    Probe probe;
    const InterfaceMapEntry table[] = {
        {&IID_IPersist, InterfaceOffset<Probe, IPersist>(), QUILLMORPH_SIMPLE_ENTRY},
        {&IID_IDataObject, InterfaceOffset<Probe, IDataObject>(), QUILLMORPH_SIMPLE_ENTRY},
        {nullptr, 0, nullptr},
    };
    void* p = nullptr;
    EXPECT_EQ(QueryInterfaceTable(&probe, table, IID_IDataObject, &p), S_OK);
    EXPECT_EQ(p, static_cast<IDataObject*>(&probe));
    EXPECT_EQ(QueryInterfaceTable(&probe, table, IID_IUnknown, &p), S_OK);
    EXPECT_EQ(p, static_cast<IPersist*>(&probe));
    EXPECT_EQ(probe.refs, 2);

    p = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(QueryInterfaceTable(&probe, table, IID_IStorage, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(QueryInterfaceTable(nullptr, table, IID_IPersist, &p), E_INVALIDARG);
    EXPECT_EQ(QueryInterfaceTable(&probe, nullptr, IID_IPersist, &p), E_INVALIDARG);
    EXPECT_EQ(QueryInterfaceTable(&probe, table, IID_IPersist, nullptr), E_POINTER);
}

TEST(InterfaceTable, FunctionEntriesFailForTheirOwnIdAndPassOnOtherwise)
{
    Probe probe;
    const InterfaceMapEntry table[] = {
        {&IID_IPersist, InterfaceOffset<Probe, IPersist>(), QUILLMORPH_SIMPLE_ENTRY},
        {nullptr, 0, &PassOn},
        {&IID_IStorage, 0, &RefuseStorage},
        {&IID_IDataObject, InterfaceOffset<Probe, IDataObject>(), QUILLMORPH_SIMPLE_ENTRY},
        {nullptr, 0, nullptr},
    };
    void* p = nullptr;
    EXPECT_EQ(QueryInterfaceTable(&probe, table, IID_IStorage, &p), E_ACCESSDENIED);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(QueryInterfaceTable(&probe, table, IID_IDataObject, &p), S_OK);
    EXPECT_EQ(p, static_cast<IDataObject*>(&probe));
}

TEST_F(ObjectCreation, BothClassesAnswerExactlyTheirInterfaces)
{
    ComPtr<IUnknown> drawing;
    ASSERT_EQ(CreateObjectInstance<CEmbeddedObject>(nullptr, IID_IUnknown, &drawing), S_OK);
    ComPtr<IUnknown> unknown;
    for (const IID* iid : {&IID_IOleObject, &IID_IDataObject, &IID_IPersistStorage, &IID_IPersist})
        EXPECT_EQ(drawing->QueryInterface(*iid, &unknown), S_OK);
    ComPtr<IOleObject> ole;
    ASSERT_EQ(drawing.As(&ole), S_OK);
    EXPECT_EQ(ole.Get(), static_cast<IOleObject*>(static_cast<CEmbeddedObject*>(
                             static_cast<CComObject<CEmbeddedObject>*>(ole.Get()))));
    EXPECT_EQ(static_cast<IUnknown*>(ole.Get()), drawing.Get()) << "IUnknown is the IOleObject pointer";
    for (const IID* iid : {&IID_IViewObject, &IID_IOleCache, &IID_IOleInPlaceObject, &IID_IDispatch})
        EXPECT_EQ(drawing->QueryInterface(*iid, &unknown), E_NOINTERFACE);

    ComPtr<IUnknown> automation;
    ASSERT_EQ(CreateObjectInstance<CDispinterface>(nullptr, IID_IQuillmorphOLE, &automation), S_OK);
    ComPtr<IUnknown> viaDispatch;
    EXPECT_EQ(automation->QueryInterface(IID_IDispatch, &viaDispatch), S_OK);
    EXPECT_EQ(viaDispatch.Get(), automation.Get());
    EXPECT_EQ(automation->QueryInterface(IID_IOleObject, &unknown), E_NOINTERFACE);
}

TEST_F(ObjectCreation, AnInstanceHoldsOneProcessLockForItsLifetime)
{
    LONG before = ProcessLockCount();
    IUnknown* p = nullptr;
    ASSERT_EQ(CreateObjectInstance<CEmbeddedObject>(nullptr, IID_PPV_ARGS(&p)), S_OK);
    EXPECT_EQ(ProcessLockCount(), before + 1);
    EXPECT_EQ(p->AddRef(), 2u);
    EXPECT_EQ(p->Release(), 1u);
    EXPECT_EQ(p->Release(), 0u);
    EXPECT_EQ(ProcessLockCount(), before);
}

TEST_F(ObjectCreation, CreateInstanceRefusesNullOutAndAggregation)
{
    ComPtr<IClassFactory> factory = FactoryFor(&CreateObjectInstance<CEmbeddedObject>);
    ASSERT_TRUE(factory);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);

    Probe outer;
    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(static_cast<IPersist*>(&outer), IID_IOleObject, &p),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    p = reinterpret_cast<void*>(0x1);
    // The class object lets an IUnknown request through; the instance creator refuses it.
    EXPECT_EQ(factory->CreateInstance(static_cast<IPersist*>(&outer), IID_IUnknown, &p),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(CreateObjectInstance<CDispinterface>(static_cast<IPersist*>(&outer), IID_IUnknown, nullptr),
              E_POINTER);
}

TEST_F(ObjectCreation, AnUnofferedInterfaceLeavesNoInstanceAndNoLock)
{
    for (InstanceCreatorFunc creator :
         {&CreateObjectInstance<CEmbeddedObject>, &CreateObjectInstance<CDispinterface>}) {
        ComPtr<IClassFactory> factory = FactoryFor(creator);
        ASSERT_TRUE(factory);
        LONG before = ProcessLockCount();
        void* p = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IViewObject, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(ProcessLockCount(), before);
    }
}

TEST_F(ObjectCreation, LockServerRaisesAndLowersTheProcessCount)
{
    ComPtr<IClassFactory> factory = FactoryFor(&CreateObjectInstance<CDispinterface>);
    ASSERT_TRUE(factory);
    LONG before = ProcessLockCount();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(ProcessLockCount(), before + 1);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(ProcessLockCount(), before);
}

TEST_F(ObjectCreation, TheClassObjectTakesNoLockAndAnswersOnlyIClassFactory)
{
    LONG before = ProcessLockCount();
    IUnknown* unknown = nullptr;
    ASSERT_EQ(CreateClassFactory(reinterpret_cast<void*>(&CreateObjectInstance<CEmbeddedObject>),
                                 IID_PPV_ARGS(&unknown)),
              S_OK);
    EXPECT_EQ(ProcessLockCount(), before);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_PPV_ARGS(&factory)), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(factory), unknown);
    void* other = nullptr;
    EXPECT_EQ(unknown->QueryInterface(IID_IOleObject, &other), E_NOINTERFACE);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(unknown->Release(), 0u);
    EXPECT_EQ(ProcessLockCount(), before);

    EXPECT_EQ(CreateClassFactory(reinterpret_cast<void*>(&CreateObjectInstance<CEmbeddedObject>),
                                 IID_IUnknown, nullptr),
              E_POINTER);
    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CreateClassFactory(reinterpret_cast<void*>(&CreateObjectInstance<CEmbeddedObject>),
                                 IID_IOleObject, &p),
              E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
}

TEST_F(ObjectCreation, DirectCreationHandsOverAnUncountedWrapper)
{
    LONG before = ProcessLockCount();
    CComObject<CEmbeddedObject>* object = nullptr;
    ASSERT_EQ(CComObject<CEmbeddedObject>::CreateInstance(&object), S_OK);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->m_dwRef, 0);
    EXPECT_EQ(ProcessLockCount(), before + 1);
    object->AddRef();
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(ProcessLockCount(), before);
    EXPECT_EQ(CComObject<CEmbeddedObject>::CreateInstance(nullptr), E_POINTER);
}

TEST_F(ObjectCreation, RegistersBothClassesAutomationFirstAndRevokesThem)
{
    ObjectTableEntry** first = s_comModule.m_ppAutoObjMapFirst;
    ASSERT_EQ(s_comModule.m_ppAutoObjMapLast - first, 2);
    EXPECT_TRUE(InlineIsEqualGUID(*first[0]->classId, CLSID_QuillmorphOLE));
    EXPECT_TRUE(InlineIsEqualGUID(*first[1]->classId, CLSID_QuillmorphEmbeddedObject));

    ASSERT_EQ(RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED), S_OK);
    EXPECT_NE(first[0]->registration->dwCookie, 0u);
    EXPECT_NE(first[1]->registration->dwCookie, 0u);
    ASSERT_EQ(::CoResumeClassObjects(), S_OK);

    // The registered class object serves creation requests made in this process.
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(::CoGetClassObject(CLSID_QuillmorphEmbeddedObject, CLSCTX_LOCAL_SERVER, nullptr,
                                 IID_PPV_ARGS(&factory)),
              S_OK);
    ComPtr<IOleObject> drawing;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, &drawing), S_OK);
    drawing.Reset();
    factory.Reset();
    EXPECT_EQ(RevokeClassObjects(), S_OK);
}

TEST_F(ObjectCreation, ClassObjectsRefuseNewInstancesOnceTheServingProcessIsStopping)
{
    CAtlModule* saved = s_pModule;
    {
        CQuillmorphOLEModule module;
        ComPtr<IClassFactory> factory = FactoryFor(&CreateObjectInstance<CEmbeddedObject>);
        ASSERT_TRUE(factory);
        ComPtr<IUnknown> drawing;
        // The count passing through zero while nothing serves stops nothing.
        ASSERT_EQ(ProcessLockCount(), 0);
        module.Lock();
        module.Unlock();
        EXPECT_FALSE(module.IsStopping());

        // Serving: the last lock going signals the monitor, and from then on the
        // process is on its way out.
        UniqueKernelHandle monitor(module.StartShutdownMonitor());
        ASSERT_TRUE(monitor);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &drawing), S_OK);
        EXPECT_FALSE(module.IsStopping()) << "instances come and go while the server serves";
        drawing.Reset();
        EXPECT_TRUE(module.IsStopping());
        void* p = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &p), CO_E_SERVER_STOPPING);
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(ProcessLockCount(), 0) << "no instance was made";

        // The monitor posts the quit message to this thread; it is taken off again.
        EXPECT_EQ(::WaitForSingleObject(monitor.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        MSG quit;
        EXPECT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    }
    s_pModule = saved;
}

// A module built for the test, so that its termination can be watched.
std::vector<int> s_hookCalls;
void __stdcall RecordHook(DWORD_PTR argument)
{
    s_hookCalls.push_back(static_cast<int>(argument));
}

TEST(ModuleTermination, RunsTerminationHooksNewestFirstExactlyOnce)
{
    CAtlModule* saved = s_pModule;
    {
        CQuillmorphOLEModule module;
        EXPECT_EQ(s_pModule, &module);
        EXPECT_EQ(module.m_shutdownPauseMs, 1000u);
        EXPECT_EQ(module.m_shutdownTimeoutMs, 5000u);
        EXPECT_TRUE(module.m_bDelayedShutdown);
        EXPECT_EQ(module.m_mainThreadId, ::GetCurrentThreadId());
        EXPECT_TRUE(InlineIsEqualGUID(CQuillmorphOLEModule::m_libid, LIBID_QUILLMORPHOLELib));
        ASSERT_EQ(module.AddTerminationHook(&RecordHook, 1), S_OK);
        ASSERT_EQ(module.AddTerminationHook(&RecordHook, 2), S_OK);
        ASSERT_EQ(module.AddTerminationHook(&RecordHook, 3), S_OK);
        module.TerminateModule();
        EXPECT_EQ(s_hookCalls, (std::vector<int>{3, 2, 1}));
        EXPECT_EQ(module.m_sizeStamp, 0u);
        module.TerminateModule();
        EXPECT_EQ(s_hookCalls.size(), 3u);
    }
    s_pModule = saved;
}

} // namespace
