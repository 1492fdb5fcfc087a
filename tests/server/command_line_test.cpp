// How the server reads its command line: which words are switches, which switch
// wins, and what is left alone.

#include <gtest/gtest.h>

#include "server/command_line.h"

namespace {

TEST(SwitchScan, FindsTheCharacterAfterEitherPrefix)
{
    const char* line = "server.exe -x /y";
    EXPECT_STREQ(FindSwitchStart(line), "x /y");
    EXPECT_STREQ(FindSwitchStart(FindSwitchStart(line)), "y");
    EXPECT_EQ(FindSwitchStart("no switches here"), nullptr);
    EXPECT_EQ(FindSwitchStart(""), nullptr);
    EXPECT_EQ(FindSwitchStart(nullptr), nullptr);
}

TEST(SwitchScan, ComparesWordsWithoutRegardToCaseUpToBlankTabOrEnd)
{
    EXPECT_EQ(CompareSwitchWord("regserver", "RegServer"), 0);
    EXPECT_EQ(CompareSwitchWord("REGSERVER more", "RegServer"), 0);
    EXPECT_EQ(CompareSwitchWord("RegServer\tmore", "RegServer"), 0);
    EXPECT_NE(CompareSwitchWord("RegServerX", "RegServer"), 0);
    EXPECT_NE(CompareSwitchWord("RegServer:", "RegServer"), 0);
    EXPECT_NE(CompareSwitchWord("RegServer\"", "RegServer"), 0);
    EXPECT_NE(CompareSwitchWord("RegServ", "RegServer"), 0);
    EXPECT_NE(CompareSwitchWord("UnregServerPerUser", "UnregServer"), 0);
}

struct SwitchCase
{
    const char* line;
    ServerSwitch expected;
};

class SwitchRecognition : public ::testing::TestWithParam<SwitchCase>
{
};

TEST_P(SwitchRecognition, PicksTheLeftmostRecognisedSwitch)
{
    EXPECT_EQ(FindServerSwitch(GetParam().line), GetParam().expected) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SwitchRecognition,
    ::testing::Values(SwitchCase{"Q.exe /RegServer", ServerSwitch::RegServer},
                      SwitchCase{"Q.exe -regserver", ServerSwitch::RegServer},
                      SwitchCase{"Q.exe /REGSERVER", ServerSwitch::RegServer},
                      SwitchCase{"Q.exe --RegServer", ServerSwitch::RegServer},
                      SwitchCase{"Q.exe /-RegServer", ServerSwitch::RegServer},
                      SwitchCase{"Q.exe /UnregServer", ServerSwitch::UnregServer},
                      SwitchCase{"Q.exe -UnregServerPerUser", ServerSwitch::UnregServerPerUser},
                      SwitchCase{"Q.exe /RegServerPerUser", ServerSwitch::RegServerPerUser},
                      SwitchCase{"Q.exe /RegServer\t-x", ServerSwitch::RegServer},
                      SwitchCase{"Q.exe /RegServerX", ServerSwitch::None},
                      SwitchCase{"Q.exe /RegServer:", ServerSwitch::None},
                      SwitchCase{"\"Q.exe\" \"/RegServer\"", ServerSwitch::None},
                      SwitchCase{"Q.exe RegServer", ServerSwitch::None},
                      SwitchCase{"Q.exe", ServerSwitch::None},
                      SwitchCase{"Q.exe -Embedding", ServerSwitch::None},
                      SwitchCase{"C:\\Program Files\\x-RegServer y", ServerSwitch::RegServer},
                      SwitchCase{"C:\\tools/UnregServer\\Q.exe", ServerSwitch::None},
                      SwitchCase{"Q.exe -foo /RegServer /UnregServer", ServerSwitch::RegServer},
                      SwitchCase{"Q.exe /UnregServer /RegServer", ServerSwitch::UnregServer},
                      SwitchCase{"Q.exe \"a-RegServerPerUser\"", ServerSwitch::None},
                      SwitchCase{"Q.exe a-RegServerPerUser b", ServerSwitch::RegServerPerUser}));

} // namespace
