// A server started by hand, without a switch, and never used: nothing asks it to
// end. (A program of its own: ending a server by force leaves its class
// registration behind for the rest of the session.)

#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace testing_support;

namespace {

TEST(IdleServer, KeepsRunningWhileNoClientEverCame)
{
    DWORD pid = 0;
    UniqueKernelHandle server = StartProcess(ServerExePath(), L"", &pid);
    ASSERT_TRUE(server);
    EXPECT_EQ(::WaitForSingleObject(server.get(), 3000), static_cast<DWORD>(WAIT_TIMEOUT));
    ::TerminateProcess(server.get(), 0);
    EXPECT_EQ(::WaitForSingleObject(server.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
}

} // namespace
