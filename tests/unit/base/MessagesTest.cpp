// The message table: every id has a text, and the texts a user sees end as they should.
#include <gtest/gtest.h>
#include <cwchar>
#include "base/Messages.h"

using namespace brm;

TEST(Messages, EveryIdHasText) {
    for (int i = 0; i < static_cast<int>(Msg::Count); ++i)
        EXPECT_GT(wcslen(MessageText(static_cast<Msg>(i))), 0u) << "message " << i;
    EXPECT_STREQ(MessageText(Msg::ScriptFileNotFound), L"Script file not found.");
}
