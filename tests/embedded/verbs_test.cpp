// The drawing's verbs and its container notifications: opening hands the drawing
// to the automation class once per edit, hiding and closing tell the site.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <atomic>
#include <thread>

#include "embedded/test_doubles.h"
#include "support/test_support.h"

using Microsoft::WRL::ComPtr;
using namespace embedded_test;

namespace {

using Calls = std::vector<std::string>;

class Verbs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(apartment_.status()));
        ASSERT_EQ(classObject_.Register(), S_OK);
        ole_ = NewDrawing();
        ASSERT_TRUE(ole_);
        ASSERT_EQ(ole_.As(&data_), S_OK);
        ASSERT_EQ(ole_->SetClientSite(&site_), S_OK);
    }

    // Whatever the drawing left to tell its site runs while the site still lives.
    void TearDown() override
    {
        testing_support::PumpMessagesFor(20);
        automation_.ReleaseKept();
    }

    // A drawing bound to a storage, with the site saving into it when asked.
    ComPtr<IStorage> BindStorage()
    {
        ComPtr<IStorage> storage = NewMemoryStorage();
        ComPtr<IPersistStorage> persist;
        EXPECT_EQ(ole_.As(&persist), S_OK);
        EXPECT_EQ(persist->InitNew(storage.Get()), S_OK);
        site_.drawing = ole_.Get();
        site_.storage = storage.Get();
        return storage;
    }

    HRESULT IsDirty()
    {
        ComPtr<IPersistStorage> persist;
        return SUCCEEDED(ole_.As(&persist)) ? persist->IsDirty() : E_NOINTERFACE;
    }

    HRESULT Verb(LONG verb) { return ole_->DoVerb(verb, nullptr, &site_, 0, nullptr, nullptr); }

    testing_support::Apartment apartment_;
    RecordingAutomation automation_;
    StandInClassObject classObject_{&automation_};
    ContainerSite site_;
    ComPtr<IOleObject> ole_;
    ComPtr<IDataObject> data_;
};

TEST_F(Verbs, OpeningHandsTheDrawingOverOncePerEdit)
{
    ULONG before = RefCount(ole_.Get());
    ASSERT_EQ(Verb(OLEIVERB_PRIMARY), S_OK);
    EXPECT_EQ(site_.Calls(), (Calls{"ShowObject", "OnShowWindow(TRUE)"}));
    EXPECT_EQ(classObject_.creations, 1);
    EXPECT_EQ(automation_.activations, 1);
    EXPECT_EQ(automation_.lastType, VT_UNKNOWN);
    EXPECT_EQ(automation_.lastIdentity, static_cast<IUnknown*>(ole_.Get())) << "the drawing's own identity";
    // The automation class keeps one reference, as its table of open edits does;
    // the verb keeps none.
    EXPECT_EQ(RefCount(ole_.Get()), before + 1);
    EXPECT_EQ(automation_.kept.size(), 1u);

    // While the editor has it, opening again does nothing at all.
    site_.ClearCalls();
    for (LONG verb : {OLEIVERB_PRIMARY, OLEIVERB_SHOW, OLEIVERB_OPEN})
        EXPECT_EQ(Verb(verb), S_OK);
    EXPECT_EQ(Verb(3), OLEOBJ_S_INVALIDVERB);
    EXPECT_TRUE(site_.Calls().empty());
    EXPECT_EQ(classObject_.creations, 1);
    EXPECT_EQ(automation_.activations, 1);
    EXPECT_EQ(RefCount(ole_.Get()), before + 1);
}

TEST_F(Verbs, EachWayOfEndingTheEditAllowsANewOne)
{
    ComPtr<IPersistStorage> persist;
    ASSERT_EQ(ole_.As(&persist), S_OK);
    ASSERT_EQ(persist->InitNew(NewMemoryStorage().Get()), S_OK);
    ASSERT_EQ(Verb(OLEIVERB_SHOW), S_OK);
    ASSERT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
    ASSERT_EQ(Verb(OLEIVERB_SHOW), S_OK);
    EXPECT_EQ(automation_.activations, 2);

    // The editor's close signal.
    ASSERT_EQ(data_->SetData(nullptr, nullptr, FALSE), S_OK);
    ASSERT_EQ(Verb(OLEIVERB_OPEN), S_OK);
    EXPECT_EQ(automation_.activations, 3);

    // New data from the editor.
    ASSERT_EQ(SetNativeData(data_.Get(), Bytes{1, 2}), S_OK);
    EXPECT_EQ(Verb(7), OLEOBJ_S_INVALIDVERB) << "an unknown positive verb opens all the same";
    EXPECT_EQ(automation_.activations, 4);

    // Loading a bound drawing again starts over.
    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(WriteStream(storage.Get(), L"EMF", {}), S_OK);
    ASSERT_EQ(WriteStream(storage.Get(), L"ZRN", {}), S_OK);
    ASSERT_EQ(persist->Load(storage.Get()), S_OK);
    ASSERT_EQ(Verb(OLEIVERB_PRIMARY), S_OK);
    EXPECT_EQ(automation_.activations, 5);
}

TEST_F(Verbs, AFailedHandOverLeavesNoReferenceAndCanBeRetried)
{
    ULONG before = RefCount(ole_.Get());
    automation_.activateResult = E_ACCESSDENIED;
    EXPECT_EQ(Verb(OLEIVERB_PRIMARY), E_ACCESSDENIED);
    EXPECT_EQ(RefCount(ole_.Get()), before) << "a leaked reference would keep the server alive";
    EXPECT_EQ(site_.Calls(), (Calls{"ShowObject", "OnShowWindow(TRUE)"})) << "the container was told already";

    // The drawing was not handed over, so the user can try again.
    automation_.activateResult = S_OK;
    EXPECT_EQ(Verb(OLEIVERB_PRIMARY), S_OK);
    EXPECT_EQ(automation_.activations, 2);
    EXPECT_EQ(RefCount(ole_.Get()), before + 1);
}

TEST_F(Verbs, AnAutomationClassThatCannotBeHadFailsTheVerb)
{
    ULONG before = RefCount(ole_.Get());
    classObject_.createResult = CO_E_SERVER_EXEC_FAILURE;
    EXPECT_EQ(Verb(OLEIVERB_SHOW), CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(automation_.activations, 0);

    classObject_.createResult = S_OK;
    automation_.answerAutomationInterface = false;
    EXPECT_EQ(Verb(OLEIVERB_SHOW), E_POINTER) << "an object without the automation interface";
    EXPECT_EQ(automation_.activations, 0);
    EXPECT_EQ(RefCount(ole_.Get()), before);

    automation_.answerAutomationInterface = true;
    EXPECT_EQ(Verb(OLEIVERB_SHOW), S_OK) << "not left in the editing state";
    EXPECT_EQ(automation_.activations, 1);
}

TEST_F(Verbs, OtherVerbsNeitherOpenNorFail)
{
    EXPECT_EQ(Verb(OLEIVERB_HIDE), S_OK);
    EXPECT_EQ(site_.Calls(), (Calls{"OnShowWindow(FALSE)"}));
    for (LONG verb :
         {OLEIVERB_UIACTIVATE, OLEIVERB_INPLACEACTIVATE, LONG(-7) /* properties */, LONG(-8), LONG(-100)})
        EXPECT_EQ(Verb(verb), E_NOTIMPL) << verb;
    EXPECT_EQ(Verb(OLEIVERB_DISCARDUNDOSTATE), S_OK);
    EXPECT_EQ(automation_.activations, 0);
    EXPECT_EQ(site_.Calls().size(), 1u);
}

TEST_F(Verbs, TheActiveSiteMustBeTheDrawingsSite)
{
    ContainerSite other;
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, nullptr, 0, nullptr, nullptr), E_UNEXPECTED);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, &other, 0, nullptr, nullptr), E_UNEXPECTED);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_HIDE, nullptr, &other, 0, nullptr, nullptr), E_UNEXPECTED);
    EXPECT_TRUE(site_.Calls().empty());
    EXPECT_EQ(automation_.activations, 0);

    // Without a site on either side the verb goes ahead and tells no one.
    ASSERT_EQ(ole_->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, nullptr, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(automation_.activations, 1);
    EXPECT_TRUE(site_.Calls().empty());
}

TEST_F(Verbs, CloseAsksForASaveOnlyWhenTheOptionSaysSo)
{
    struct Case
    {
        DWORD option;
        Calls calls;
    } cases[] = {
        {OLECLOSE_SAVEIFDIRTY, {"SaveObject", "OnShowWindow(FALSE)"}},
        {OLECLOSE_PROMPTSAVE, {"SaveObject", "OnShowWindow(FALSE)"}},
        {OLECLOSE_NOSAVE, {"OnShowWindow(FALSE)"}},
        {7, {"OnShowWindow(FALSE)"}},
    };
    ComPtr<IPersistStorage> persist;
    ASSERT_EQ(ole_.As(&persist), S_OK);
    ComPtr<IStorage> storage = NewMemoryStorage();
    ASSERT_EQ(persist->InitNew(storage.Get()), S_OK);
    ASSERT_EQ(persist->Save(storage.Get(), TRUE), S_OK);
    ASSERT_EQ(persist->SaveCompleted(nullptr), S_OK);
    ASSERT_EQ(persist->IsDirty(), S_FALSE) << "the site is asked even for a clean drawing";
    for (const Case& c : cases) {
        site_.ClearCalls();
        EXPECT_EQ(ole_->Close(c.option), S_OK);
        EXPECT_EQ(site_.Calls(), c.calls) << c.option;
    }
    // Close keeps the site.
    ComPtr<IOleClientSite> site;
    ASSERT_EQ(ole_->GetClientSite(&site), S_OK);
    EXPECT_EQ(site.Get(), &site_);
}

TEST_F(Verbs, AnEditEndedWithNewDataIsSavedByTheContainerOnceItHasAllArrived)
{
    ComPtr<IStorage> storage = BindStorage();
    ASSERT_EQ(Verb(OLEIVERB_PRIMARY), S_OK);
    site_.ClearCalls();

    // As the editor hands an edit back: the document, then the picture, in one call.
    const Bytes native = PatternBytes(20000, 5);
    UniqueEnhMetaFile picture = MakePicture({0, 0, 3000, 2000});
    ASSERT_EQ(SetNativeData(data_.Get(), native), S_OK);
    ASSERT_EQ(SetPicture(data_.Get(), picture.get()), S_OK);
    EXPECT_TRUE(site_.Calls().empty()) << "nothing is told before the editor's call has returned";

    testing_support::PumpMessagesFor(20);
    EXPECT_EQ(site_.Calls(), (Calls{"SaveObject", "OnShowWindow(FALSE)"}));
    EXPECT_EQ(IsDirty(), S_FALSE) << "the container saved the drawing";
    Bytes stored;
    ASSERT_EQ(ReadStream(storage.Get(), L"ZRN", &stored), S_OK);
    EXPECT_TRUE(stored == native);
    ASSERT_EQ(ReadStream(storage.Get(), L"EMF", &stored), S_OK);
    EXPECT_EQ(stored, PictureBits(picture.get())) << "the new picture went with the new document";

    // Told once; new data outside an edit ends none.
    ASSERT_EQ(SetNativeData(data_.Get(), Bytes{1}), S_OK);
    testing_support::PumpMessagesFor(20);
    EXPECT_EQ(site_.Calls().size(), 2u);
}

TEST_F(Verbs, AnEditThatEndsWhileTheContainerSavesIsToldOnceTheSaveIsComplete)
{
    // The user saves the document just as the editor hands the edit back: the
    // container's save reaches the drawing first, and while the drawing writes
    // into the container's storage the thread's loop runs the end of the edit.
    ComPtr<IStorage> storage = BindStorage();
    ASSERT_EQ(Verb(OLEIVERB_PRIMARY), S_OK);
    const Bytes native = PatternBytes(20000, 9);
    ASSERT_EQ(SetNativeData(data_.Get(), native), S_OK);
    site_.ClearCalls();

    DistantStorage distant(storage.Get());
    std::vector<std::string> duringSave;
    distant.afterMessages = [&](const std::wstring&) {
        const Calls calls = site_.Calls();
        duringSave.insert(duringSave.end(), calls.begin(), calls.end());
    };
    ComPtr<IPersistStorage> persist;
    ASSERT_EQ(ole_.As(&persist), S_OK);
    EXPECT_EQ(persist->Save(&distant, TRUE), S_OK) << "no second save nested in the container's own";
    EXPECT_TRUE(duringSave.empty()) << "the site was asked to save while the drawing saved";
    testing_support::PumpMessagesFor(20);
    EXPECT_TRUE(site_.Calls().empty()) << "nor between Save and SaveCompleted";

    ASSERT_EQ(persist->SaveCompleted(nullptr), S_OK);
    testing_support::PumpMessagesFor(20);
    EXPECT_EQ(site_.Calls(), (Calls{"SaveObject", "OnShowWindow(FALSE)"}));
    EXPECT_EQ(IsDirty(), S_FALSE);
    Bytes stored;
    ASSERT_EQ(ReadStream(storage.Get(), L"ZRN", &stored), S_OK);
    EXPECT_TRUE(stored == native);
}

TEST_F(Verbs, AnEditEndedWithoutDataOrNotSavedLosesNothing)
{
    BindStorage();
    // The editor gave the edit up: the window is gone, there is nothing to save.
    ASSERT_EQ(Verb(OLEIVERB_SHOW), S_OK);
    site_.ClearCalls();
    ASSERT_EQ(data_->SetData(nullptr, nullptr, FALSE), S_OK);
    testing_support::PumpMessagesFor(20);
    EXPECT_EQ(site_.Calls(), (Calls{"OnShowWindow(FALSE)"}));

    // A container that cannot save is still told, and the drawing stays dirty.
    site_.saveResult = E_FAIL;
    ASSERT_EQ(Verb(OLEIVERB_SHOW), S_OK);
    site_.ClearCalls();
    ASSERT_EQ(SetNativeData(data_.Get(), Bytes{4, 5, 6}), S_OK);
    testing_support::PumpMessagesFor(20);
    EXPECT_EQ(site_.Calls(), (Calls{"SaveObject", "OnShowWindow(FALSE)"}));
    EXPECT_EQ(IsDirty(), S_OK);
    Bytes held;
    ASSERT_EQ(GetNativeData(data_.Get(), &held), S_OK);
    EXPECT_EQ(held, (Bytes{4, 5, 6}));
}

TEST_F(Verbs, TheDrawingLivesUntilTheEndOfItsEditIsTold)
{
    ASSERT_EQ(Verb(OLEIVERB_SHOW), S_OK);
    ASSERT_EQ(SetNativeData(data_.Get(), Bytes{7}), S_OK);
    // The editor's and the container's references go before anything was told.
    automation_.ReleaseKept();
    ole_.Reset();
    data_.Reset();
    EXPECT_EQ(site_.refs(), 2u) << "the drawing still holds its site";
    testing_support::PumpMessagesFor(20);
    EXPECT_EQ(site_.Calls().back(), "OnShowWindow(FALSE)");
    EXPECT_EQ(site_.refs(), 1u) << "and lets it go once it has told it";
}

TEST_F(Verbs, AForgedWakeUpRunsNothingButTheWorkThatWasDueAndThatOnce)
{
    ASSERT_EQ(Verb(OLEIVERB_SHOW), S_OK);
    automation_.ReleaseKept();
    const ULONG before = RefCount(ole_.Get());
    site_.ClearCalls();
    // The editor gave the edit up: the container is to be told once this call is over.
    ASSERT_EQ(data_->SetData(nullptr, nullptr, FALSE), S_OK);
    ASSERT_EQ(RefCount(ole_.Get()), before + 1) << "the pending work holds the drawing";

    // Anyone on the desktop finds the window by its class and sends or posts
    // its message, with anything at all in it; an address among what it sends.
    const HWND window = ::FindWindowExW(HWND_MESSAGE, nullptr, L"QuillmorphDeferredCalls", nullptr);
    ASSERT_TRUE(window);
    const Bytes bait(64, 0x41);
    const LPARAM address = reinterpret_cast<LPARAM>(bait.data());
    std::atomic<bool> sent{false};
    std::thread stranger([&] {
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutW(window, WM_APP + 1, address, address, SMTO_NORMAL, 10000, &answer);
        sent = true;
        for (LPARAM forged : {LPARAM(0), LPARAM(1), address})
            ::PostMessageW(window, WM_APP + 1, forged, forged);
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    });
    // Looking at the queue for something else takes in sent messages only:
    // the sent one is no wake-up, and runs nothing in the middle of a call.
    MSG message;
    while (!sent) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
        ::PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    }
    stranger.join();
    EXPECT_TRUE(site_.Calls().empty()) << "work ran from inside a sent message";

    testing_support::PumpMessagesFor(50);
    EXPECT_EQ(site_.Calls(), (Calls{"OnShowWindow(FALSE)"})) << "the due work ran once, and nothing else";
    EXPECT_EQ(RefCount(ole_.Get()), before);
    EXPECT_TRUE(::IsWindow(window)) << "no one else closes the window";
}

// A container's site that lets itself be dropped from inside OnShowWindow, as
// a container that calls SetClientSite(NULL) there does. It notes whether it
// went while its own call was still running.
class SiteDroppedInsideItsCall : public testing_support::CountedUnknown<IOleClientSite, true>
{
public:
    struct Record
    {
        bool inCall = false;
        bool destroyedInCall = false;
        bool destroyed = false;
    };
    SiteDroppedInsideItsCall(IOleObject* drawing, Record* record) : drawing_(drawing), record_(record) {}
    ~SiteDroppedInsideItsCall() override
    {
        record_->destroyed = true;
        record_->destroyedInCall = record_->inCall;
    }

    STDMETHOD(OnShowWindow)(BOOL) override
    {
        // Only locals after the drop: this object may be gone by then.
        Record* record = record_;
        record->inCall = true;
        drawing_->SetClientSite(nullptr);
        record->inCall = false;
        return S_OK;
    }
    STDMETHOD(SaveObject)() override { return S_OK; }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHOD(GetContainer)(IOleContainer**) override { return E_NOTIMPL; }
    STDMETHOD(ShowObject)() override { return S_OK; }
    STDMETHOD(RequestNewObjectLayout)() override { return E_NOTIMPL; }

private:
    IOleObject* drawing_; // not counted: the test keeps it
    Record* record_;
};

TEST_F(Verbs, HidingKeepsTheSiteAliveWhileItIsBeingCalled)
{
    SiteDroppedInsideItsCall::Record record;
    ComPtr<IOleClientSite> site(new SiteDroppedInsideItsCall(ole_.Get(), &record));
    ASSERT_EQ(ole_->SetClientSite(site.Get()), S_OK);
    IOleClientSite* const active = site.Get();
    site.Reset(); // the drawing's reference is the only one now

    EXPECT_EQ(ole_->DoVerb(OLEIVERB_HIDE, nullptr, active, 0, nullptr, nullptr), S_OK);
    EXPECT_TRUE(record.destroyed) << "the drawing let the site go";
    EXPECT_FALSE(record.destroyedInCall) << "the site went while its OnShowWindow was still running";
}

TEST_F(Verbs, TheSiteIsACountedReference)
{
    ULONG before = site_.refs();
    ContainerSite other;
    ASSERT_EQ(ole_->SetClientSite(&other), S_OK);
    EXPECT_EQ(site_.refs(), before - 1) << "the previous site is released";
    ComPtr<IOleClientSite> got;
    ASSERT_EQ(ole_->GetClientSite(&got), S_OK);
    EXPECT_EQ(got.Get(), &other);
    got.Reset();
    ASSERT_EQ(ole_->SetClientSite(nullptr), S_OK);
    ASSERT_EQ(ole_->GetClientSite(&got), S_OK);
    EXPECT_EQ(got.Get(), nullptr);
    EXPECT_EQ(other.refs(), 1u);
    EXPECT_EQ(ole_->GetClientSite(nullptr), E_POINTER);

    ASSERT_EQ(ole_->SetClientSite(&other), S_OK);
    ole_.Reset();
    data_.Reset();
    EXPECT_EQ(other.refs(), 1u) << "the last release of the drawing releases its site";
}

TEST_F(Verbs, FixedAnswersOfTheObject)
{
    SIZEL size = {100, 100};
    EXPECT_EQ(ole_->SetExtent(DVASPECT_CONTENT, &size), E_FAIL);
    EXPECT_EQ(ole_->GetExtent(DVASPECT_ICON, &size), E_FAIL);
    EXPECT_EQ(ole_->GetExtent(DVASPECT_CONTENT, nullptr), E_POINTER);
    ASSERT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(size.cx, 0) << "no picture, no size";
    EXPECT_EQ(ole_->SetHostNames(L"Container", L"Document"), S_OK);
    EXPECT_EQ(ole_->Update(), S_OK);
    EXPECT_EQ(ole_->IsUpToDate(), S_OK);
    EXPECT_EQ(ole_->EnumVerbs(nullptr), E_POINTER);
    EXPECT_EQ(ole_->SetMoniker(OLEWHICHMK_OBJREL, nullptr), E_NOTIMPL);
    IMoniker* moniker = nullptr;
    EXPECT_EQ(ole_->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJREL, &moniker), E_NOTIMPL);
    EXPECT_EQ(ole_->InitFromData(data_.Get(), TRUE, 0), E_NOTIMPL);
    IDataObject* clip = nullptr;
    EXPECT_EQ(ole_->GetClipboardData(0, &clip), E_NOTIMPL);
    EXPECT_EQ(ole_->SetColorScheme(nullptr), E_NOTIMPL);
}

} // namespace
