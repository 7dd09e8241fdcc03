// A Skype that is slow or busy (4 s over every message, never long enough to
// count as hung) costs the player nothing: the player's thread only hands the
// mood over, and Skype ends with the song that plays last.
#include "harness.h"

#include <algorithm>
#include <memory>

namespace {

namespace sk = standin_skype;

constexpr char kRich[] = "SET PROFILE RICH_MOOD_TEXT ";

using BusySkypeTest = BesideSkypeTest;

// The first song reaches Skype, which is still busy with it when the next
// two start: they must be handed over without waiting for Skype.
void threeSongsWhileSkypeIsBusyWithTheFirst() {
    playSong(0);
    ASSERT_TRUE(waitForSkypeCommands(1)) << "Skype has the first song";
    for (int song = 1; song < 3; ++song)
        playSong(song);
    EXPECT_EQ(sendsInFlight(), 1) << "a song change waited for Skype";
    EXPECT_EQ(skypeCommandCount(), 1u);
    EXPECT_EQ(standin::countQueries(host::kQueryPlaylistPosition), 3u);
}

TEST_F(BusySkypeTest, ASlowSkypeGetsTheLastSongAndNoStaleOne) {
    sk::holdCopyData(true); // slow, but answering within the bound once let go

    threeSongsWhileSkypeIsBusyWithTheFirst();
    sk::holdCopyData(false);

    ASSERT_TRUE(waitForLastSkypeCommand(std::string(kRich) + "Third Song"));
    // The second song was superseded while the first was on its way.
    const std::vector<std::string> moods = skypeCommandTexts();
    EXPECT_EQ(moods.front(), std::string(kRich) + "First Song");
    EXPECT_EQ(std::count(moods.begin(), moods.end(), std::string(kRich) + "Second Song"), 0);
}

TEST_F(BusySkypeTest, ABusySkypeIsLetGoAndFoundAgainWithTheSongThatPlays) {
    sk::updateConfig([](sk::Config& config) { config = sk::busy(config); });

    threeSongsWhileSkypeIsBusyWithTheFirst();
    // The first mood outlasts the bound: the link lets Skype's window go.
    ASSERT_TRUE(waitForTimedOutCommand(0));

    sk::updateConfig([](sk::Config& config) {
        config.copyDataHangMs = 0;
        config.discoverHangMs = 0;
    });
    ASSERT_TRUE(sk::sync());
    standin::setPlayState(standin::PlayState::Playing);
    discoveryTick();
    EXPECT_TRUE(waitForLastSkypeCommand(std::string(kRich) + "Third Song"))
        << "the attach publishes the song that plays by then";
}

} // namespace
