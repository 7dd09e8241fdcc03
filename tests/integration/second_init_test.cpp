// A host may call quit and then init again on the library it still holds
// (Winamp's plug-in preferences do, and a restart of the plug-in does): the
// second life must be the first one again, not what quit left behind.
#include "harness.h"

#include "spine_support.h"

#include <memory>

namespace {

namespace sk = standin_skype;
using namespace spine;

constexpr char kExitMoodIni[] = "[Tralmo]\nTRALMO_EXIT_MOOD=Gone fishing\n";
constexpr char kExitMood[] = "SET PROFILE RICH_MOOD_TEXT Gone fishing";

bool skypeHeard(const std::string& text, std::size_t from = 0) {
    for (const sk::CopyDataRecord& record : sk::snapshot(from).records)
        if (record.text() == text)
            return true;
    return false;
}

class SecondInitTest : public PluginTest {
  protected:
    void prepare() override {
        standin::writeIniContent(kExitMoodIni);
        ASSERT_TRUE(startSkypeForPlugin(skype_));
    }

    std::unique_ptr<sk::Running> skype_;
};

TEST_F(SecondInitTest, QuitThenInitIsAFirstInitAgain) {
    ASSERT_TRUE(waitForSkypeAttach());
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
    ASSERT_TRUE(sk::pumpUntil([&] { return skypeHeard(kProtocolCommand, before); }))
        << "a new link attaches";

    // The menu works again: Active back on, and the song reaches Skype.
    sendToHost(WM_COMMAND, IDM_ACTIVE, 0);
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::SongStarted);
    EXPECT_TRUE(
        sk::pumpUntil([&] { return skypeHeard("SET PROFILE RICH_MOOD_TEXT First Song", before); }));

    // And the second quit sets the exit mood as the first did.
    const std::size_t beforeQuit = sk::recordCount();
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_TRUE(skypeHeard(kExitMood, beforeQuit));
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_ACTIVE"), "1");
}

// A call that paused the music in the first life holds nothing in the
// second: the next call's end gives the music back.
TEST_F(SecondInitTest, ASecondLifeForgetsTheCallsOfTheFirst) {
    ASSERT_TRUE(waitForSkypeAttach());
    sendToHost(WM_COMMAND, IDM_STOP_ON_CALL, 0); // saved at quit: on in both lives
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::StatusChanged);
    ASSERT_EQ(sk::sendNotification("CALL 7 STATUS RINGING").result, 1);
    ASSERT_EQ(standin::playState(), standin::PlayState::Paused);
    ASSERT_TRUE(standin::quitPlugin());

    const std::size_t before = sk::recordCount();
    ASSERT_TRUE(standin::initPlugin()) << standin::pluginError();
    ASSERT_TRUE(sk::pumpUntil([&] { return skypeHeard(kProtocolCommand, before); }));
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::StatusChanged);
    ASSERT_EQ(sk::sendNotification("CALL 8 STATUS RINGING").result, 1);
    EXPECT_EQ(standin::playState(), standin::PlayState::Paused);
    ASSERT_EQ(sk::sendNotification("CALL 8 STATUS MISSED").result, 1);
    EXPECT_EQ(standin::playState(), standin::PlayState::Playing);
}

} // namespace
