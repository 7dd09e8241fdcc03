// The plug-in beside Skype as its clients know it: it answers commands,
// speaks the protocol the client asks for, asks the user first, restarts,
// logs out and in, and drops a client that is slow over a notification.
#include "harness.h"

#include <algorithm>

namespace {

namespace sk = standin_skype;
using standin::PlayState;

class RealSkypeTest : public BesideSkypeTest {
  protected:
    RealSkypeTest() {
        stage_.ini = "[Tralmo]\nTRALMO_STOP_MUSIC=1\n";
        stage_.playing = true;
        stage_.skype = sk::realistic(nullptr);
        stage_.manualTicks = true;
    }

    void TearDown() override {
        EXPECT_TRUE(sk::snapshot().slowClients.empty()) << "Skype would have dropped the plug-in";
        skype_.reset();
        BesideSkypeTest::TearDown();
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
        playSong(position);
        ASSERT_TRUE(waitForSkypeRecords(seen + 1));
        ASSERT_TRUE(caughtUp());
    }

    std::string mood() const { return sk::snapshot().mood.text; }
};

TEST_F(RealSkypeTest, TheSessionSpeaksProtocolSevenAndTheRichMoodStands) {
    const sk::Snapshot attached = sk::snapshot();
    EXPECT_EQ(attached.clientProtocol, 7);
    EXPECT_EQ(attached.mood.text, "First Song") << "published at the attach";
    EXPECT_TRUE(attached.mood.rich);
    play(1);
    EXPECT_EQ(mood(), "Second Song");
    EXPECT_TRUE(sk::snapshot().mood.rich);
}

// A call cancelled by the caller is reported as such only from protocol 2 on;
// without it the music would stay paused.
TEST_F(RealSkypeTest, ACallCancelledByTheCallerResumesTheMusic) {
    ASSERT_TRUE(sk::startCall(sk::planCall(sk::CallScript::Cancelled)).completed);
    sk::runCallsToEnd();
    ASSERT_TRUE(caughtUp());
    const auto calls = sk::snapshot().calls;
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().status, "CANCELLED");
    EXPECT_EQ(standin::countCommands(standin::Window::Main, host::kCommandPause), 1u);
    EXPECT_EQ(standin::playState(), PlayState::Playing);
}

// ---- Stop on call resumes only what a call paused ----

std::size_t pausesSent() {
    return standin::countCommands(standin::Window::Main, host::kCommandPause);
}
std::size_t playsSent() {
    return standin::countCommands(standin::Window::Main, host::kCommandPlay);
}

class PausingCallTest : public RealSkypeTest {};

// The user talks on an answered call while a second one rings and is missed:
// the music stays paused through both and after them.
TEST_F(PausingCallTest, ACallMissedDuringAnAnsweredOneLeavesTheMusicPaused) {
    ASSERT_TRUE(sk::startCall(sk::planCall(sk::CallScript::TwoCalls)).completed);
    sk::runCallsToEnd();
    ASSERT_TRUE(sk::sync());
    const auto calls = sk::snapshot().calls;
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].status, "FINISHED");
    EXPECT_EQ(calls[1].status, "MISSED");
    EXPECT_EQ(pausesSent(), 1u);
    EXPECT_EQ(playsSent(), 0u);
    EXPECT_EQ(standin::playState(), PlayState::Paused);
}

// An answered call leaves the music paused; a call missed later, when the
// user has not started it again, must not start it.
TEST_F(PausingCallTest, AMissedCallAfterAnAnsweredOneLeavesTheMusicPaused) {
    ASSERT_TRUE(sk::startCall(sk::planCall(sk::CallScript::Incoming)).completed);
    sk::runCallsToEnd();
    ASSERT_TRUE(sk::startCall(sk::planCall(sk::CallScript::Missed)).completed);
    sk::runCallsToEnd();
    ASSERT_TRUE(sk::sync());
    EXPECT_EQ(sk::snapshot().calls.back().status, "MISSED");
    EXPECT_EQ(pausesSent(), 1u);
    EXPECT_EQ(playsSent(), 0u);
    EXPECT_EQ(standin::playState(), PlayState::Paused);

    // Once the user plays again, the next call pauses and resumes as ever.
    standin::setPlayState(PlayState::Playing, standin::Notify::StatusChanged);
    ASSERT_TRUE(sk::startCall(sk::planCall(sk::CallScript::Refused)).completed);
    sk::runCallsToEnd();
    ASSERT_TRUE(sk::sync());
    EXPECT_EQ(pausesSent(), 2u);
    EXPECT_EQ(playsSent(), 1u);
    EXPECT_EQ(standin::playState(), PlayState::Playing);
}

// Skype goes down in the middle of a call: that call is over, and must not
// hold the music paused when a call of the new Skype is missed.
TEST_F(PausingCallTest, ARestartedSkypeEndsTheCallsOfTheOldOne) {
    ASSERT_TRUE(sk::startCall(sk::planCall(sk::CallScript::Incoming)).completed);
    ASSERT_TRUE(sk::stepCall().delivered); // RINGING
    ASSERT_TRUE(sk::stepCall().delivered); // INPROGRESS
    EXPECT_EQ(standin::playState(), PlayState::Paused);
    ASSERT_TRUE(sk::waitFor(sk::requestRestart()).completed);
    ASSERT_TRUE(sk::sync());

    standin::setPlayState(PlayState::Playing, standin::Notify::StatusChanged);
    ASSERT_TRUE(sk::startCall(sk::planCall(sk::CallScript::Missed)).completed);
    sk::runCallsToEnd();
    ASSERT_TRUE(sk::sync());
    EXPECT_EQ(pausesSent(), 2u);
    EXPECT_EQ(playsSent(), 1u);
    EXPECT_EQ(standin::playState(), PlayState::Playing);
}

// ---- Titles in rich mood text ----

std::size_t errorsAnswered() {
    const auto sent = sk::snapshot().sent;
    return static_cast<std::size_t>(
        std::count_if(sent.begin(), sent.end(), [](const sk::SentMessage& message) {
            return message.kind == sk::SentKind::Answer && message.text.rfind("ERROR ", 0) == 0;
        }));
}

const std::vector<std::string> kMarkUpTitles = {"Simon & Garfunkel - Cecilia", "Song <Live>",
                                                "AC/DC > Queen"};

class MarkUpTitleTest : public RealSkypeTest {
  protected:
    void configure(standin::PlayerOptions& options) override { options.titles = kMarkUpTitles; }
    // The user's template and exit mood are mark-up of their own.
    std::string iniWith(const std::string& lines) const {
        return "[Tralmo]\nTRALMO_USER_STRING=<b>[%title%]</b> [%state%]\n"
               "TRALMO_EXIT_MOOD=<i>Back &amp; soon</i>\n" +
               lines;
    }
};

class RichMarkUpTitleTest : public MarkUpTitleTest {
  protected:
    RichMarkUpTitleTest() { stage_.ini = iniWith(""); }
};

// Skype reads a rich mood as XML: a raw "&" or "<" in a title would make it
// refuse the mood and keep the old one.
TEST_F(RichMarkUpTitleTest, TitlesReachSkypeAsTextInsideTheUsersMarkUp) {
    EXPECT_EQ(mood(), "<b>Simon &amp; Garfunkel - Cecilia</b> playing");
    EXPECT_TRUE(sk::snapshot().mood.rich);
    play(1);
    EXPECT_EQ(mood(), "<b>Song &lt;Live&gt;</b> playing");
    play(2);
    EXPECT_EQ(mood(), "<b>AC/DC &gt; Queen</b> playing");
    EXPECT_EQ(errorsAnswered(), 0u);
    EXPECT_TRUE(waitForTrayTip(kMarkUpTitles.back()));
    EXPECT_EQ(trayTips(), kMarkUpTitles) << "the tooltip shows the title as it is";

    ASSERT_TRUE(standin::quitPlugin());
    ASSERT_TRUE(sk::sync());
    EXPECT_EQ(mood(), "<i>Back &amp; soon</i>") << "the exit mood goes as the user wrote it";
    EXPECT_EQ(errorsAnswered(), 0u);
}

class PlainMarkUpTitleTest : public MarkUpTitleTest {
  protected:
    PlainMarkUpTitleTest() { stage_.ini = iniWith("TRALMO_ALLOW_HTML=0\n"); }
};

// Plain mood text is no XML: the title goes as it is.
TEST_F(PlainMarkUpTitleTest, TitlesGoAsTheyAre) {
    EXPECT_EQ(mood(), "<b>Simon & Garfunkel - Cecilia</b> playing");
    EXPECT_FALSE(sk::snapshot().mood.rich);
    play(1);
    EXPECT_EQ(mood(), "<b>Song <Live></b> playing");
    EXPECT_EQ(errorsAnswered(), 0u);
}

class BrokenMarkUpTemplateTest : public MarkUpTitleTest {
  protected:
    BrokenMarkUpTemplateTest() { stage_.ini = "[Tralmo]\nTRALMO_USER_STRING=<b>[%title%]\n"; }
};

// The user's own mark-up is not mended: a template Skype cannot read is
// refused, and Skype keeps the mood it had.
TEST_F(BrokenMarkUpTemplateTest, SkypeRefusesItAndKeepsItsMood) {
    EXPECT_FALSE(sk::snapshot().moodSet);
    EXPECT_EQ(errorsAnswered(), 1u);
    const std::size_t seen = sk::recordCount();
    play(1);
    const auto records = sk::snapshot(seen).records;
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text(), "SET PROFILE RICH_MOOD_TEXT <b>Song &lt;Live&gt;");
    EXPECT_EQ(errorsAnswered(), 2u);
    EXPECT_FALSE(sk::snapshot().moodSet);
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
    const auto records = sk::snapshot(seen).records;
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[0].text(), kProtocolCommand);
    EXPECT_EQ(records[1].text(), "SET PROFILE RICH_MOOD_TEXT First Song");

    play(2);
    EXPECT_EQ(mood(), "Third Song");
    EXPECT_EQ(sk::snapshot().attachedClient, skypeLink());
}

TEST_F(RealSkypeTest, LogOutAndLogInBringTheSessionBack) {
    ASSERT_TRUE(sk::waitFor(sk::requestLogOut()).completed);
    ASSERT_TRUE(caughtUp());
    const std::size_t seen = sk::recordCount();
    playSong(1);
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(sk::recordCount(), seen) << "nothing goes to a logged-out Skype";

    ASSERT_TRUE(sk::waitFor(sk::requestLogIn()).completed);
    ASSERT_TRUE(waitForSkypeRecords(seen + 2));
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(sk::snapshot().clientProtocol, 7);
    EXPECT_EQ(mood(), "Second Song");
}

class AskingSkypeTest : public RealSkypeTest {
  protected:
    AskingSkypeTest() { stage_.skype.askUser = true; }
};

// The first time, Skype asks the user; once allowed, the song goes out then,
// not at the next change of the play state.
TEST_F(AskingSkypeTest, TheSongGoesOutWhenTheUserAllows) {
    const sk::Snapshot asking = sk::snapshot();
    EXPECT_EQ(asking.pendingClient, skypeLink());
    EXPECT_FALSE(asking.moodSet);
    const std::size_t seen = sk::recordCount();
    ASSERT_TRUE(sk::decide(true).completed);
    ASSERT_TRUE(waitForSkypeRecords(seen + 2));
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(sk::snapshot().clientProtocol, 7);
    EXPECT_EQ(mood(), "First Song");
}

} // namespace
