// A Skype that is slow or busy (4 s over every message, never long enough to
// count as hung) costs the player nothing: the player's thread only hands the
// mood over, and Skype ends with the song that plays last.
#include "harness.h"

#include <algorithm>
#include <memory>

namespace {

namespace sk = standin_skype;

constexpr char kRich[] = "SET PROFILE RICH_MOOD_TEXT ";

// The moods Skype received, in order.
std::vector<std::string> moodsAtSkype() {
    std::vector<std::string> moods;
    for (const sk::CopyDataRecord& record : skypeCommands())
        moods.push_back(record.text());
    return moods;
}

class BusySkypeTest : public PluginTest {
  protected:
    void prepare() override { ASSERT_TRUE(startSkypeForPlugin(skype_)); }

    std::unique_ptr<sk::Running> skype_;
};

// The first song reaches Skype, which is still busy with it when the next
// two start: they must be handed over without waiting for Skype.
void threeSongsWhileSkypeIsBusyWithTheFirst() {
    standin::setPosition(0);
    standin::sendSongStarted();
    ASSERT_TRUE(waitForSkypeCommands(1)) << "Skype has the first song";
    for (int song = 1; song < 3; ++song) {
        standin::setPosition(song);
        standin::sendSongStarted();
    }
    EXPECT_EQ(sendsInFlight(), 1) << "a song change waited for Skype";
    EXPECT_EQ(skypeCommandCount(), 1u);
    EXPECT_EQ(standin::countQueries(host::kQueryPlaylistPosition), 3u);
}

bool aCommandTimedOut() {
    for (const ApiCall& call : recordedCalls({"SendMessageTimeoutA"}))
        if (call.args[1] == WM_COPYDATA && call.result == 0 && sendsInFlight() == 0)
            return true;
    return false;
}

bool skypeEndsWith(const std::string& mood) {
    return sk::pumpUntil([&] {
        const std::vector<std::string> moods = moodsAtSkype();
        return !moods.empty() && moods.back() == mood;
    });
}

TEST_F(BusySkypeTest, ASlowSkypeGetsTheLastSongAndNoStaleOne) {
    ASSERT_TRUE(waitForQuietLink());
    sk::holdCopyData(true); // slow, but answering within the bound once let go

    threeSongsWhileSkypeIsBusyWithTheFirst();
    sk::holdCopyData(false);

    ASSERT_TRUE(skypeEndsWith(std::string(kRich) + "Third Song"));
    // The second song was superseded while the first was on its way.
    const std::vector<std::string> moods = moodsAtSkype();
    EXPECT_EQ(moods.front(), std::string(kRich) + "First Song");
    EXPECT_EQ(std::count(moods.begin(), moods.end(), std::string(kRich) + "Second Song"), 0);
}

TEST_F(BusySkypeTest, ABusySkypeIsLetGoAndFoundAgainWithTheSongThatPlays) {
    ASSERT_TRUE(waitForQuietLink());
    sk::updateConfig([](sk::Config& config) { config = sk::busy(config); });

    threeSongsWhileSkypeIsBusyWithTheFirst();
    // The first mood outlasts the bound: the link lets Skype's window go.
    ASSERT_TRUE(sk::pumpUntil(aCommandTimedOut));

    sk::updateConfig([](sk::Config& config) {
        config.copyDataHangMs = 0;
        config.discoverHangMs = 0;
    });
    ASSERT_TRUE(sk::sync());
    standin::setPlayState(standin::PlayState::Playing);
    sendToHost(WM_TIMER, kDiscoveryTimer, 0);
    EXPECT_TRUE(skypeEndsWith(std::string(kRich) + "Third Song"))
        << "the attach publishes the song that plays by then";
}

} // namespace
