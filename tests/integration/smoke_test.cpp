#include "harness.h"

using SmokeTest = PluginTest;

TEST_F(SmokeTest, LoadsAndPassesQueriesOn) {
    EXPECT_EQ(sendToHost(WM_USER, 0, 4242), standin::kUnknownQueryTag | 4242);
    EXPECT_FALSE(standin::ownsWindowProc(standin::Window::Main));
}
