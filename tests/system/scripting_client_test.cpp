// The scripting client sample, run by the platform's own script host against
// the registered server: a late-bound caller that nobody here wrote.

#include <gtest/gtest.h>

#include <string>

#include "server/class_ids.h"
#include "support/clipboard_offer.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const char kNativeSample[] = "a drawing on the clipboard";

class ScriptingClient : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ASSERT_EQ(RegisterServer(ServerExePath()), 0u); }
    static void TearDownTestSuite()
    {
        WaitForNoProcess(L"QuillmorphOLE.exe", 10000);
        UnregisterServer(ServerExePath());
    }

    void SetUp() override
    {
        ASSERT_EQ(::OleInitialize(nullptr), S_OK);
        ASSERT_TRUE(WaitForNoProcess(L"QuillmorphOLE.exe", 10000));
    }
    void TearDown() override
    {
        ::OleSetClipboard(nullptr);
        ::OleUninitialize();
    }

    // Runs the sample with cscript and returns what it printed.
    std::string RunSample() { return RunScriptHost(QUILLMORPH_SAMPLE_SCRIPT); }
};

TEST_F(ScriptingClient, CallsEveryMethodLateBoundByProgId)
{
    std::string output = RunSample();
    EXPECT_NE(output.find("created: IQuillmorphOLE"), std::string::npos) << output;
    EXPECT_NE(output.find("CloseAll: ok"), std::string::npos) << output;
    EXPECT_NE(output.find("Close 7: ok"), std::string::npos) << output;
    EXPECT_NE(output.find("TripBack: no drawing on the clipboard"), std::string::npos) << output;
    EXPECT_NE(output.find("TripForward with strings: error 5"), std::string::npos) << output;
    EXPECT_NE(output.find("done"), std::string::npos) << output;
}

TEST_F(ScriptingClient, RoundTripsTheClipboardDrawingsBytesThroughTripForward)
{
    auto* offer = new ClipboardOffer;
    Bytes native(kNativeSample, kNativeSample + sizeof(kNativeSample) - 1);
    offer->OfferDrawing("Embedded Object", CLSID_QuillmorphEmbeddedObject, native);
    ASSERT_EQ(::OleSetClipboard(offer), S_OK);

    std::string output = RunSample();
    EXPECT_NE(output.find("TripBack: a byte array"), std::string::npos) << output;
    EXPECT_NE(output.find("TripForward: a byte array of compound file"), std::string::npos) << output;
    EXPECT_NE(output.find("done"), std::string::npos) << output;
}

} // namespace
