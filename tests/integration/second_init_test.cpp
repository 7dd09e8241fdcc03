// A host may call quit and then init again on the library it still holds
// (Winamp's plug-in preferences do, and a restart of the plug-in does): the
// second life must be the first one again, not what quit left behind.
#include "harness.h"

#include "spine_support.h"

namespace {

namespace sk = standin_skype;
using namespace spine;

constexpr char kExitMood[] = "SET PROFILE RICH_MOOD_TEXT Gone fishing";

class SecondInitTest : public BesideSkypeTest {
  protected:
    SecondInitTest() { stage_.ini = "[Tralmo]\nTRALMO_EXIT_MOOD=Gone fishing\n"; }
};

TEST_F(SecondInitTest, QuitThenInitIsAFirstInitAgain) {
    const HWND firstLink = skypeLink();
    // The user switches Active off before the first quit: the file keeps it.
    sendToHost(WM_COMMAND, IDM_ACTIVE, 0);
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(skypeLink(), nullptr) << "quit leaves no link window behind";
    EXPECT_FALSE(IsWindow(firstLink));
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_ACTIVE"), "0");

    clearRecordedCalls();
    const std::size_t before = sk::recordCount();
    ASSERT_TRUE(standin::initPlugin()) << standin::pluginError();
    EXPECT_EQ(countCalls(recordedCalls(), trayIcon(NIM_ADD, kMainIconId)), 1u)
        << "the tray icon comes back";
    ASSERT_TRUE(waitForSkypeToHear(kProtocolCommand, 1, before)) << "a new link attaches";

    // The menu works again: Active back on, and the song reaches Skype.
    sendToHost(WM_COMMAND, IDM_ACTIVE, 0);
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::SongStarted);
    EXPECT_TRUE(waitForSkypeToHear("SET PROFILE RICH_MOOD_TEXT First Song", 1, before));

    // And the second quit sets the exit mood as the first did.
    const std::size_t beforeQuit = sk::recordCount();
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(skypeHeard(kExitMood, beforeQuit), 1u);
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_ACTIVE"), "1");
}

// A call that paused the music in the first life holds nothing in the
// second: the next call's end gives the music back.
TEST_F(SecondInitTest, ASecondLifeForgetsTheCallsOfTheFirst) {
    sendToHost(WM_COMMAND, IDM_STOP_ON_CALL, 0); // saved at quit: on in both lives
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::StatusChanged);
    ASSERT_EQ(skypeTells("CALL 7 STATUS RINGING"), 1);
    ASSERT_EQ(standin::playState(), standin::PlayState::Paused);
    ASSERT_TRUE(standin::quitPlugin());

    const std::size_t before = sk::recordCount();
    ASSERT_TRUE(standin::initPlugin()) << standin::pluginError();
    ASSERT_TRUE(waitForSkypeToHear(kProtocolCommand, 1, before));
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::StatusChanged);
    ASSERT_EQ(skypeTells("CALL 8 STATUS RINGING"), 1);
    EXPECT_EQ(standin::playState(), standin::PlayState::Paused);
    ASSERT_EQ(skypeTells("CALL 8 STATUS MISSED"), 1);
    EXPECT_EQ(standin::playState(), standin::PlayState::Playing);
}

} // namespace
