// The plug-in beside Skype as its clients know it: it answers commands,
// speaks the protocol the client asks for, asks the user first, restarts,
// logs out and in, and drops a client that is slow over a notification.
#include "harness.h"

#include <memory>

namespace {

namespace sk = standin_skype;
using standin::PlayState;

class RealSkypeTest : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        if (HasFatalFailure())
            return;
        // Ticks are sent by hand, so that no count depends on the clock.
        KillTimer(host(), kDiscoveryTimer);
        if (!askUser_) {
            ASSERT_TRUE(waitForSkypeAttach());
        }
        ASSERT_TRUE(caughtUp());
    }

    void prepare() override {
        ASSERT_TRUE(standin::writeIniContent(ini_));
        standin::setPlayState(PlayState::Playing);
        sk::Config config = sk::realistic(nullptr);
        config.clientProcess = GetCurrentProcessId();
        config.askUser = askUser_;
        skype_ = std::make_unique<sk::Running>(config);
        ASSERT_TRUE(skype_->started());
    }

    void TearDown() override {
        EXPECT_TRUE(sk::slowClients().empty()) << "Skype would have dropped the plug-in";
        skype_.reset();
        PluginTest::TearDown();
    }

    // The plug-in has nothing on its way to Skype, and Skype has carried out
    // and answered all it was sent.
    static bool caughtUp() {
        settleSkypeLink();
        return sk::sync();
    }

    // A new song plays, and Skype has caught up with what it was sent.
    static void play(int position) {
        const std::size_t seen = sk::recordCount();
        standin::setPosition(position);
        standin::sendSongStarted();
        ASSERT_TRUE(waitForSkypeRecords(seen + 1));
        ASSERT_TRUE(caughtUp());
    }

    std::string mood() const { return sk::mood().text; }

    std::string ini_ = "[Tralmo]\nTRALMO_STOP_MUSIC=1\n";
    bool askUser_ = false;
    std::unique_ptr<sk::Running> skype_;
};

TEST_F(RealSkypeTest, TheSessionSpeaksProtocolSevenAndTheRichMoodStands) {
    EXPECT_EQ(sk::clientProtocol(), 7);
    EXPECT_EQ(mood(), "First Song") << "published at the attach";
    EXPECT_TRUE(sk::mood().rich);
    play(1);
    EXPECT_EQ(mood(), "Second Song");
    EXPECT_TRUE(sk::mood().rich);
}

// A call cancelled by the caller is reported as such only from protocol 2 on;
// without it the music would stay paused.
TEST_F(RealSkypeTest, ACallCancelledByTheCallerResumesTheMusic) {
    ASSERT_TRUE(sk::startCall(sk::planCall(sk::CallScript::Cancelled)).completed);
    sk::runCallsToEnd();
    ASSERT_TRUE(caughtUp());
    ASSERT_FALSE(sk::calls().empty());
    EXPECT_EQ(sk::calls().back().status, "CANCELLED");
    EXPECT_EQ(standin::countCommands(standin::Window::Main, host::kCommandPause), 1u);
    EXPECT_EQ(standin::playState(), PlayState::Playing);
}

class SentCallbacksTest : public RealSkypeTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        options.statusCallbacks = standin::StatusCallbacks::Sent;
    }
};

// A host that sends its status callback has the pause published from inside
// Skype's notification; a Skype sending with SMTO_BLOCK hears it only once
// answered, and drops a client that keeps it waiting a second.
TEST_F(SentCallbacksTest, ACallAnsweredInTimeEvenWhenItsPauseIsPublishedAtOnce) {
    ASSERT_TRUE(sk::startCall(sk::planCall(sk::CallScript::Cancelled)).completed);
    sk::runCallsToEnd();
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(standin::countCommands(standin::Window::Main, host::kCommandPause), 1u);
    EXPECT_EQ(standin::playState(), PlayState::Playing);
    EXPECT_EQ(mood(), "First Song");
}

// Skype exits and starts again with a new window: the song that plays is
// published to it at once, and the next one reaches it too.
TEST_F(RealSkypeTest, ARestartedSkypeGetsTheSongAgain) {
    const HWND before = sk::skypeWindow();
    const std::size_t seen = sk::recordCount();
    ASSERT_TRUE(sk::waitFor(sk::requestRestart()).completed);
    ASSERT_TRUE(waitForSkypeRecords(seen + 2));
    ASSERT_TRUE(caughtUp());
    ASSERT_NE(sk::skypeWindow(), before);
    const auto records = sk::records(seen);
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[0].text(), kProtocolCommand);
    EXPECT_EQ(records[1].text(), "SET PROFILE RICH_MOOD_TEXT First Song");

    play(2);
    EXPECT_EQ(mood(), "Third Song");
    EXPECT_EQ(sk::attachedClient(), skypeLink());
}

TEST_F(RealSkypeTest, LogOutAndLogInBringTheSessionBack) {
    ASSERT_TRUE(sk::waitFor(sk::requestLogOut()).completed);
    ASSERT_TRUE(caughtUp());
    const std::size_t seen = sk::recordCount();
    standin::setPosition(1);
    standin::sendSongStarted();
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(sk::recordCount(), seen) << "nothing goes to a logged-out Skype";

    ASSERT_TRUE(sk::waitFor(sk::requestLogIn()).completed);
    ASSERT_TRUE(waitForSkypeRecords(seen + 2));
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(sk::clientProtocol(), 7);
    EXPECT_EQ(mood(), "Second Song");
}

class AskingSkypeTest : public RealSkypeTest {
  protected:
    AskingSkypeTest() { askUser_ = true; }
};

// The first time, Skype asks the user; once allowed, the song goes out then,
// not at the next change of the play state.
TEST_F(AskingSkypeTest, TheSongGoesOutWhenTheUserAllows) {
    EXPECT_EQ(sk::pendingClient(), skypeLink());
    EXPECT_FALSE(sk::moodSet());
    const std::size_t seen = sk::recordCount();
    ASSERT_TRUE(sk::decide(true).completed);
    ASSERT_TRUE(waitForSkypeRecords(seen + 2));
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(sk::clientProtocol(), 7);
    EXPECT_EQ(mood(), "First Song");
}

} // namespace
