// Directive settings as the loader stores them, read through a real ScriptReader over text in memory.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "loader/Directives.h"
#include "loader/ScriptReader.h"
#include "startup/ScriptHost.h"
#include "system/TextStream.h"

using namespace brm;

namespace {

// Reads UTF-8 script text through the line classifier; true when it loaded without error.
bool ReadDirectives(const char* text) {
    TextMem stream;
    if (!stream.Open(text, strlen(text), false, TextStream::Read | TextStream::EolCrLf, 65001)) return false;
    ScriptReader reader(stream, 0);
    bool savedStdOut = g_script.errorStdOut;
    g_script.errorStdOut = true;  // a failure is reported on standard error, never in a dialog
    bool ok = reader.Run(false) == Status::Ok;
    g_script.errorStdOut = savedStdOut;
    return ok;
}

TEST(DirectivesTest, IntegersAreClampedOrIgnored) {
    struct Case {
        const char* text;
        int32_t maxThreads;
    } cases[] = {
        {"#MaxThreads 0\n", 1}, {"#MaxThreads 300\n", 255}, {"#MaxThreads 0x10\n", 16}, {"#MaxThreads\n", 16},
        {"#MaxThreads 7\n#MaxThreads 9\n", 9},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ReadDirectives(c.text)) << c.text;
        EXPECT_EQ(g_directives.maxThreads, c.maxThreads) << c.text;
    }
    ASSERT_TRUE(ReadDirectives("#MaxThreadsPerHotkey 1000\n#HotIfTimeout 250\n"));
    EXPECT_EQ(g_directives.maxThreadsPerHotkey, 255);
    EXPECT_EQ(g_directives.hotIfTimeout, 250);
}

TEST(DirectivesTest, SingleInstanceModes) {
    struct Case {
        const char* text;
        SingleInstanceMode mode;
    } cases[] = {
        {"#SingleInstance\n", SingleInstanceMode::Force}, {"#SingleInstance prompt\n", SingleInstanceMode::Prompt},
        {"#SingleInstance IGNORE\n", SingleInstanceMode::Ignore}, {"#SingleInstance Off\n", SingleInstanceMode::Off},
        {"#SingleInstance Force\n", SingleInstanceMode::Force},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ReadDirectives(c.text)) << c.text;
        EXPECT_EQ(g_script.singleInstance, c.mode) << c.text;
    }
    EXPECT_FALSE(ReadDirectives("#SingleInstance Twice\n"));
}

TEST(DirectivesTest, WarnSetsOneOrAllModes) {
    ASSERT_TRUE(ReadDirectives("#Warn\n"));
    EXPECT_EQ(g_directives.warnLocalSameAsGlobal, WarnMode::MsgBox);
    EXPECT_EQ(g_directives.warnUnreachable, WarnMode::MsgBox);
    EXPECT_EQ(g_directives.warnVarUnset, WarnMode::MsgBox);
    ASSERT_TRUE(ReadDirectives("#Warn VarUnset, Off\n"));
    EXPECT_EQ(g_directives.warnVarUnset, WarnMode::Off);
    EXPECT_EQ(g_directives.warnUnreachable, WarnMode::MsgBox);
    ASSERT_TRUE(ReadDirectives("#Warn All, StdOut\n#Warn Unreachable, OutputDebug\n"));
    EXPECT_EQ(g_directives.warnLocalSameAsGlobal, WarnMode::StdOut);
    EXPECT_EQ(g_directives.warnUnreachable, WarnMode::OutputDebug);
    EXPECT_EQ(g_directives.warnVarUnset, WarnMode::StdOut);
    ASSERT_TRUE(ReadDirectives("#Warn , Off\n"));
    EXPECT_EQ(g_directives.warnVarUnset, WarnMode::Off);
    EXPECT_FALSE(ReadDirectives("#Warn Sometimes\n"));
    EXPECT_FALSE(ReadDirectives("#Warn All, Loud\n"));
}

TEST(DirectivesTest, SwitchesAndFlags) {
    ASSERT_TRUE(ReadDirectives("#MaxThreadsBuffer\n#SuspendExempt 1\n#NoTrayIcon\n#WinActivateForce\n"));
    EXPECT_TRUE(g_directives.maxThreadsBuffer);
    EXPECT_TRUE(g_directives.suspendExempt);
    EXPECT_TRUE(g_directives.noTrayIcon);
    EXPECT_TRUE(g_directives.winActivateForce);
    ASSERT_TRUE(ReadDirectives("#MaxThreadsBuffer false\n#SuspendExempt 0\n"));
    EXPECT_FALSE(g_directives.maxThreadsBuffer);
    EXPECT_FALSE(g_directives.suspendExempt);
    EXPECT_FALSE(ReadDirectives("#SuspendExempt maybe\n"));
}

TEST(DirectivesTest, RequiresVersions) {
    const char* met[] = {"#Requires Brindlemar v2.0\n", "#Requires Brindlemar 2.0\n", "#Requires BRINDLEMAR\n",
                         "#Requires Brindlemar >=2.0.33 <2.1 32-bit\n", "#Requires Brindlemar <>2.0.1\n",
                         "#Requires Brindlemar v2.0.33\n"};
    for (const char* text : met) EXPECT_TRUE(ReadDirectives(text)) << text;
    const char* unmet[] = {"#Requires Brindlemar v2.1\n", "#Requires Brindlemar 64-bit\n", "#Requires Brindlemar v1.1\n",
                           "#Requires Brindlemar >2.0.33\n", "#Requires Other 2.0\n", "#Requires Brindlemarx\n"};
    for (const char* text : unmet) EXPECT_FALSE(ReadDirectives(text)) << text;
}

TEST(DirectivesTest, ErrorStdOutTakesAnEncoding) {
    bool saved = g_script.errorStdOut;
    uint32_t savedPage = g_script.errorStdOutCodePage;
    ASSERT_TRUE(ReadDirectives("#ErrorStdOut 'UTF-16'\n"));
    EXPECT_EQ(g_script.errorStdOutCodePage, 1200u);
    g_script.errorStdOut = saved;
    g_script.errorStdOutCodePage = savedPage;
}

}  // namespace
