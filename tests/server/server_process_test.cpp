// The real server process, started by the component runtime: it lives while an
// instance or a lock holds it, and ends about a second after the last one goes.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include "server/class_ids.h"
#include "support/test_support.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace {

class ServerProcess : public ::testing::Test
{
protected:
    // The server's own registration switch writes what the runtime needs.
    static void SetUpTestSuite() { ASSERT_EQ(RegisterServer(ServerExePath()), 0u); }
    static void TearDownTestSuite()
    {
        WaitForNoProcess(kServerImage, 10000);
        UnregisterServer(ServerExePath());
    }

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(apartment_.status()));
        // An activation during an old server's shutdown pause would fail.
        ASSERT_TRUE(WaitForNoProcess(kServerImage, 10000));
    }

    // The one server process that is running now.
    UniqueKernelHandle TheServer()
    {
        std::vector<DWORD> pids = FindProcesses(kServerImage);
        EXPECT_EQ(pids.size(), 1u);
        if (pids.size() != 1)
            return UniqueKernelHandle();
        return OpenServerProcess(pids[0]);
    }

    // Time from now until the process ends, or -1 after timeoutMs.
    static LONGLONG MsUntilExit(HANDLE process, DWORD timeoutMs)
    {
        ULONGLONG start = NowMs();
        if (::WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
            return -1;
        return static_cast<LONGLONG>(NowMs() - start);
    }

    void ExpectInstanceKeepsServerAlive(const CLSID& clsid, REFIID iid)
    {
        ComPtr<IUnknown> instance;
        ASSERT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, iid, &instance), S_OK);
        UniqueKernelHandle server = TheServer();
        ASSERT_TRUE(server);
        EXPECT_EQ(::WaitForSingleObject(server.get(), 2000), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the server must stay while an instance lives";
        instance.Reset();
        LONGLONG ms = MsUntilExit(server.get(), 5000);
        EXPECT_GE(ms, 800) << "the server pauses about a second after revoking its classes";
        EXPECT_NE(ms, -1) << "the server must end after the last release";
        DWORD code = 1;
        ::GetExitCodeProcess(server.get(), &code);
        EXPECT_EQ(code, 0u);
    }

    Apartment apartment_;
};

TEST_F(ServerProcess, AnAutomationInstanceKeepsTheServerUntilItsRelease)
{
    ExpectInstanceKeepsServerAlive(CLSID_QuillmorphOLE, IID_IUnknown);
}

TEST_F(ServerProcess, AnEmbeddedDrawingKeepsTheServerUntilItsRelease)
{
    ExpectInstanceKeepsServerAlive(CLSID_QuillmorphEmbeddedObject, IID_IOleObject);
}

TEST_F(ServerProcess, OneServerServesEveryInstanceOfBothClasses)
{
    ComPtr<IUnknown> first, second, third;
    ASSERT_EQ(::CoCreateInstance(CLSID_QuillmorphEmbeddedObject, nullptr, CLSCTX_LOCAL_SERVER, IID_IOleObject,
                                 &first),
              S_OK);
    ASSERT_EQ(::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&second)),
              S_OK);
    ASSERT_EQ(::CoCreateInstance(CLSID_QuillmorphEmbeddedObject, nullptr, CLSCTX_LOCAL_SERVER,
                                 IID_IPersistStorage, &third),
              S_OK);
    UniqueKernelHandle server = TheServer();
    ASSERT_TRUE(server);
    first.Reset();
    second.Reset();
    EXPECT_EQ(::WaitForSingleObject(server.get(), 2000), static_cast<DWORD>(WAIT_TIMEOUT));
    third.Reset();
    EXPECT_NE(MsUntilExit(server.get(), 5000), -1);
}

TEST_F(ServerProcess, AnUnofferedInterfaceFailsAndTheServerStillEnds)
{
    ComPtr<IUnknown> instance;
    EXPECT_EQ(::CoCreateInstance(CLSID_QuillmorphEmbeddedObject, nullptr, CLSCTX_LOCAL_SERVER,
                                 IID_IViewObject, &instance),
              E_NOINTERFACE);
    EXPECT_FALSE(instance);
    // The failed creation took the count from 0 to 1 and back, which starts the
    // shutdown like any other last release.
    EXPECT_TRUE(WaitForNoProcess(kServerImage, 5000));
}

} // namespace
