// When a mood goes out beyond song starts and play-state changes: a stream's
// title that changes under a playing song, and a play state that changes
// while a mood is still on its way to Skype.
#include "harness.h"

namespace {

namespace sk = standin_skype;
using standin::PlayState;

constexpr char kRich[] = "SET PROFILE RICH_MOOD_TEXT ";

class PublishingTest : public BesideSkypeTest {
  protected:
    PublishingTest() { stage_.ini = "[Tralmo]\nTRALMO_USER_STRING=[%title%] [%state%]\n"; }

    static std::string mood(const std::string& text) { return kRich + text; }
};

// Internet radio: the title changes and the host only reports a status change.
TEST_F(PublishingTest, AStreamsNewTitleIsPublished) {
    standin::setPlayState(PlayState::Playing, standin::Notify::SongStarted);
    standin::pumpPending(); // the host posts the status callback
    ASSERT_TRUE(waitForLastSkypeCommand(mood("First Song playing")));
    const std::size_t playing = skypeCommandsSettled();

    standin::setTitles({"Next on the Stream"});
    standin::sendStatusChanged();
    ASSERT_TRUE(waitForLastSkypeCommand(mood("Next on the Stream playing")));

    // Volume, equaliser, anything else: the same title sends nothing.
    standin::sendStatusChanged();
    standin::setVolume(100);
    standin::sendStatusChanged();
    EXPECT_EQ(skypeCommandsSettled(), playing + 1);

    // While paused a new title waits for the music.
    standin::setPlayState(PlayState::Paused, standin::Notify::StatusChanged);
    standin::pumpPending();
    ASSERT_TRUE(waitForLastSkypeCommand(mood("Next on the Stream paused")));
    standin::setTitles({"Third on the Stream"});
    standin::sendStatusChanged();
    EXPECT_EQ(skypeCommandsSettled(), playing + 2);
    standin::setPlayState(PlayState::Playing, standin::Notify::StatusChanged);
    standin::pumpPending();
    ASSERT_TRUE(waitForLastSkypeCommand(mood("Third on the Stream playing")));
    standin::sendStatusChanged();
    EXPECT_EQ(skypeCommandsSettled(), playing + 3);
}

class CallDuringMoodTest : public PublishingTest {
  protected:
    CallDuringMoodTest() {
        // No tray icon: the shell call could let the notification in first.
        stage_.ini += "TRALMO_STOP_MUSIC=1\nTRALMO_SHOW_TRAYICON=0\n";
    }
    // The status callback is sent at once, so that its poll runs before the
    // queued notification is read: posted, it would come after it.
    void configure(standin::PlayerOptions& options) override {
        options.statusCallbacks = standin::StatusCallbacks::Sent;
    }
};

// The host starts playing; while Skype still dawdles over the mood for that,
// a call rings and pauses the host. Skype ends with the paused mood (after
// the playing one, if that was not superseded first), and when the call is
// missed the music and the mood come back.
TEST_F(CallDuringMoodTest, ACallWhileAMoodIsOnItsWayEndsPausedAndTheMissedCallUndoesIt) {
    sk::setCopyDataHang(300);
    const sk::RequestId ring =
        sk::requestNotification(sk::textNotification("CALL 7 STATUS RINGING"));
    ASSERT_TRUE(sentMessageQueued());
    standin::setPlayState(PlayState::Playing, standin::Notify::StatusChanged);
    ASSERT_TRUE(sk::waitFor(ring).delivered);
    EXPECT_EQ(standin::playState(), PlayState::Paused);
    ASSERT_TRUE(waitForLastSkypeCommand(mood("First Song paused")));
    skypeCommandsSettled();
    const std::vector<std::string> pausedOnly = {mood("First Song paused")};
    const std::vector<std::string> both = {mood("First Song playing"), mood("First Song paused")};
    EXPECT_TRUE(skypeCommandTexts() == pausedOnly || skypeCommandTexts() == both)
        << testing::PrintToString(skypeCommandTexts());
    sk::setCopyDataHang(0);

    ASSERT_EQ(skypeTells("CALL 7 STATUS MISSED"), 1);
    EXPECT_EQ(standin::playState(), PlayState::Playing);
    ASSERT_TRUE(waitForLastSkypeCommand(mood("First Song playing")));
}

} // namespace
