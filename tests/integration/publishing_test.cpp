// When a mood goes out beyond song starts and play-state changes: a stream's
// title that changes under a playing song, and a play state that changes
// while a mood is still on its way to Skype.
#include "harness.h"

#include <memory>

namespace {

namespace sk = standin_skype;
using standin::PlayState;

constexpr char kRich[] = "SET PROFILE RICH_MOOD_TEXT ";

class PublishingTest : public PluginTest {
  protected:
    void prepare() override {
        ASSERT_TRUE(standin::writeIniContent(ini_));
        sk::Config config;
        config.clientProcess = GetCurrentProcessId();
        skype_ = std::make_unique<sk::Running>(config);
        ASSERT_TRUE(skype_->started());
    }

    std::vector<std::string> moods() const {
        std::vector<std::string> texts;
        for (const auto& record : skypeCommands())
            texts.push_back(record.text());
        return texts;
    }
    std::string lastMood() const { return skypeCommands().back().text(); }

    std::string ini_ = "[Tralmo]\nTRALMO_USER_STRING=[%title%] [%state%]\n";
    std::unique_ptr<sk::Running> skype_;
};

// Internet radio: the title changes and the host only reports a status change.
TEST_F(PublishingTest, AStreamsNewTitleIsPublished) {
    standin::setPlayState(PlayState::Playing, standin::Notify::SongStarted);
    standin::pumpPending(); // the host posts the status callback
    ASSERT_EQ(moods().size(), 2u) << "the song start, then the poll that records Playing";

    standin::setTitles({"Next on the Stream"});
    standin::sendStatusChanged();
    ASSERT_EQ(moods().size(), 3u);
    EXPECT_EQ(lastMood(), kRich + std::string("Next on the Stream playing"));

    // Volume, equaliser, anything else: the same title sends nothing.
    standin::sendStatusChanged();
    standin::setVolume(100);
    standin::sendStatusChanged();
    EXPECT_EQ(moods().size(), 3u);

    // While paused a new title waits for the music.
    standin::setPlayState(PlayState::Paused, standin::Notify::StatusChanged);
    standin::pumpPending();
    standin::setTitles({"Third on the Stream"});
    standin::sendStatusChanged();
    EXPECT_EQ(moods().size(), 4u);
    standin::setPlayState(PlayState::Playing, standin::Notify::StatusChanged);
    standin::pumpPending();
    EXPECT_EQ(lastMood(), kRich + std::string("Third on the Stream playing"));
    standin::sendStatusChanged();
    EXPECT_EQ(moods().size(), 5u);
}

class CallDuringMoodTest : public PublishingTest {
  protected:
    CallDuringMoodTest() {
        // No tray icon: the shell call could let the notification in first.
        ini_ += "TRALMO_STOP_MUSIC=1\nTRALMO_SHOW_TRAYICON=0\n";
    }
    // The status callback is sent at once, so that its poll runs before the
    // queued notification is read: posted, it would come after it.
    void configure(standin::PlayerOptions& options) override {
        options.statusCallbacks = standin::StatusCallbacks::Sent;
    }
};

// The host starts playing; while the mood for that is on its way, a call
// rings and pauses the host, whose status change is polled inside the send.
// That poll must stand: when the call is missed, the music and the mood
// come back.
TEST_F(CallDuringMoodTest, APollInsideTheSendIsNotUndone) {
    sk::setCopyDataHang(300); // Skype dawdles, so the ringing is surely read meanwhile
    const sk::RequestId ring =
        sk::requestNotification(sk::textNotification("CALL 7 STATUS RINGING"));
    ASSERT_TRUE(sentMessageQueued());
    standin::setPlayState(PlayState::Playing, standin::Notify::StatusChanged);
    ASSERT_TRUE(sk::waitFor(ring).delivered);
    sk::setCopyDataHang(0);
    EXPECT_EQ(standin::playState(), PlayState::Paused);
    EXPECT_EQ(moods(), (std::vector<std::string>{kRich + std::string("First Song playing"),
                                                 kRich + std::string("First Song paused")}));

    ASSERT_EQ(sk::sendNotification("CALL 7 STATUS MISSED").result, 1);
    EXPECT_EQ(standin::playState(), PlayState::Playing);
    EXPECT_EQ(lastMood(), kRich + std::string("First Song playing"));
}

} // namespace
