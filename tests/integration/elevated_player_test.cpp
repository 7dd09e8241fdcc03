// Winamp run as administrator: Windows keeps what Skype, a process of lower
// integrity, sends the player's windows away unless the plug-in let it through
// its message filter. The stand-in player emulates that filter (Wine has none)
// and the stand-in Skype obeys it.
#include "harness.h"

#include "message_filter.h"

namespace {

namespace sk = standin_skype;
namespace mf = message_filter;
using standin::PlayState;

constexpr char kFilterForWindow[] = "ChangeWindowMessageFilterEx";
constexpr char kFilterForProcess[] = "ChangeWindowMessageFilter";
constexpr char kSongMood[] = "SET PROFILE RICH_MOOD_TEXT First Song";

UINT attachMessage() {
    return registeredMessage(sk::kAttachMessageName);
}
UINT taskbarCreated() {
    return registeredMessage("TaskbarCreated");
}

bool lookedUp(const char* name) {
    for (const ApiCall& call : recordedCalls({"GetProcAddress"}))
        if (call.text == name)
            return true;
    return false;
}

// The attach reply must get through the filter for the stage to come up.
class ElevatedPlayerTest : public BesideSkypeTest {
  protected:
    ElevatedPlayerTest() {
        stage_.ini = "[Tralmo]\nTRALMO_STOP_MUSIC=1\n";
        stage_.playing = true;
    }
    void configure(standin::PlayerOptions& options) override { options.elevated = elevated_; }

    void prepare() override {
        mf::clearFilterCalls();
        fakeWindowsVersion(major_, minor_);
        BesideSkypeTest::prepare();
    }

    bool elevated_ = true;
    DWORD major_ = 6;
    DWORD minor_ = 1;
};

TEST_F(ElevatedPlayerTest, OnWindows7SkypeReachesTheLinkWindowOnly) {
    const HWND link = skypeLink();
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(mf::deliverable(link, attachMessage()));
    EXPECT_TRUE(mf::deliverable(link, WM_COPYDATA));
    EXPECT_TRUE(mf::deliverable(host(), taskbarCreated())) << "the tray icons live on the host";
    // Winamp takes commands through WM_COPYDATA: no lower program may send it one.
    EXPECT_FALSE(mf::deliverable(host(), WM_COPYDATA));
    EXPECT_FALSE(mf::deliverable(playlist(), WM_COPYDATA));
    for (const mf::FilterCall& call : mf::filterCalls())
        EXPECT_EQ(call.function, kFilterForWindow) << "nothing process-wide on Windows 7";

    standin::sendSongStarted();
    ASSERT_TRUE(waitForSkypeToHear(kSongMood));

    EXPECT_EQ(skypeTells("CALL 31 STATUS RINGING"), 1);
    EXPECT_EQ(standin::playState(), PlayState::Paused);
    EXPECT_EQ(skypeTells("CALL 31 STATUS MISSED"), 1);
    EXPECT_EQ(standin::playState(), PlayState::Playing);
}

class VistaElevatedTest : public ElevatedPlayerTest {
  protected:
    VistaElevatedTest() { minor_ = 0; }
};

TEST_F(VistaElevatedTest, PublishesButNeverOpensWmCopyDataProcessWide) {
    standin::sendSongStarted();
    ASSERT_TRUE(waitForSkypeToHear(kSongMood));

    EXPECT_FALSE(lookedUp(kFilterForWindow)) << "Vista has no per-window filter";
    bool attachAllowed = false;
    bool taskbarAllowed = false;
    for (const mf::FilterCall& call : mf::filterCalls()) {
        EXPECT_EQ(call.function, kFilterForProcess);
        EXPECT_NE(call.message, static_cast<UINT>(WM_COPYDATA));
        attachAllowed |= call.message == attachMessage();
        taskbarAllowed |= call.message == taskbarCreated();
    }
    EXPECT_TRUE(attachAllowed);
    EXPECT_TRUE(taskbarAllowed);
    EXPECT_FALSE(mf::deliverable(host(), WM_COPYDATA));

    // Calls are not heard: the player keeps playing through a ringing call.
    EXPECT_EQ(skypeTells("CALL 32 STATUS RINGING"), kUndelivered);
    EXPECT_EQ(standin::playState(), PlayState::Playing);
}

class XpPlayerTest : public ElevatedPlayerTest {
  protected:
    XpPlayerTest() {
        elevated_ = false;
        major_ = 5;
        minor_ = 1;
    }
};

TEST_F(XpPlayerTest, LooksUpNoFilterFunction) {
    EXPECT_FALSE(lookedUp(kFilterForWindow));
    EXPECT_FALSE(lookedUp(kFilterForProcess));
    EXPECT_TRUE(mf::filterCalls().empty());
}

} // namespace
