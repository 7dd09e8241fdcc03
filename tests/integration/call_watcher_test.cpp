// "Stop on call": Skype's call notifications, which reach the plug-in's link
// window, pause and resume the player.
#include "harness.h"

#include <memory>
#include <utility>

namespace {

namespace sk = standin_skype;
using standin::PlayState;

constexpr unsigned kToggleStopOnCall = 107;
const std::string kStopOnCallOn = "[Tralmo]\nTRALMO_STOP_MUSIC=1\n";

std::size_t pausesSent() {
    return standin::countCommands(standin::Window::Main, host::kCommandPause);
}
std::size_t playsSent() {
    return standin::countCommands(standin::Window::Main, host::kCommandPlay);
}
std::size_t copyDataPassedOn() {
    return standin::countMessages(standin::Window::Main, WM_COPYDATA);
}

class CallWatcherTest : public BesideSkypeTest {
  protected:
    CallWatcherTest() { stage_.ini = kStopOnCallOn; }

    void SetUp() override {
        BesideSkypeTest::SetUp();
        if (HasFatalFailure())
            return;
        link_ = skypeLink();
        ASSERT_NE(link_, nullptr);
        ASSERT_EQ(sk::snapshot().lastClient, link_) << "Skype's client is the link window";
        standin::clearLog();
    }

    HWND link_ = nullptr;
};

// One step of a call scenario and the player's state and the plug-in's
// pause and play commands counted so far.
struct Step {
    enum Kind { Notify, UserSets, ToggleStopOnCall } kind;
    std::string text; // Notify
    PlayState state;  // UserSets: the new state; every step: the state after it
    std::size_t pauses;
    std::size_t plays;
};

Step note(std::string text, PlayState after, std::size_t pauses, std::size_t plays) {
    return {Step::Notify, std::move(text), after, pauses, plays};
}
Step user(PlayState state, std::size_t pauses, std::size_t plays) {
    return {Step::UserSets, "", state, pauses, plays};
}
Step toggle(PlayState after, std::size_t pauses, std::size_t plays) {
    return {Step::ToggleStopOnCall, "", after, pauses, plays};
}

std::string call(const std::string& status) {
    return "CALL 1234 STATUS " + status;
}

struct Scenario {
    const char* name;
    bool stopOnCall;
    PlayState start;
    std::vector<Step> steps;
};

constexpr PlayState Playing = PlayState::Playing;
constexpr PlayState Paused = PlayState::Paused;
constexpr PlayState Stopped = PlayState::Stopped;

std::string callOf(int id, const std::string& status) {
    return "CALL " + std::to_string(id) + " STATUS " + status;
}

std::vector<Scenario> scenarios() {
    std::vector<Scenario> all = {
        {"RingingPausesMissedResumes",
         true,
         Playing,
         {note(call("RINGING"), Paused, 1, 0), note(call("MISSED"), Playing, 1, 1),
          user(Paused, 1, 1), note(call("MISSED"), Paused, 1, 1)}},
        {"InProgressPauses", true, Playing, {note(call("INPROGRESS"), Paused, 1, 0)}},
        {"AnsweredCallStaysPausedAndIsForgotten",
         true,
         Playing,
         {note(call("RINGING"), Paused, 1, 0), note(call("INPROGRESS"), Paused, 1, 0),
          note(call("FINISHED"), Paused, 1, 0), note(call("MISSED"), Paused, 1, 0)}},
        {"RingingWhileUserPausedDoesNothing",
         true,
         Paused,
         {note(call("RINGING"), Paused, 0, 0), note(call("MISSED"), Paused, 0, 0)}},
        {"RingingWhileStoppedDoesNothing",
         true,
         Stopped,
         {note(call("RINGING"), Stopped, 0, 0), note(call("MISSED"), Stopped, 0, 0)}},
        {"ACallEndingWhileStoppedIsForgotten",
         true,
         Playing,
         {note(call("RINGING"), Paused, 1, 0), user(Stopped, 1, 0),
          note(call("MISSED"), Stopped, 1, 0), user(Paused, 1, 0),
          note(call("CANCELLED"), Paused, 1, 0)}},
        {"UserPlaysDuringTheCall",
         true,
         Playing,
         {note(call("RINGING"), Paused, 1, 0), user(Playing, 1, 0),
          note(call("FAILED"), Playing, 1, 0), user(Paused, 1, 0),
          note(call("FAILED"), Paused, 1, 0)}},
        {"StopOnCallOffDoesNothing",
         false,
         Playing,
         {note(call("RINGING"), Playing, 0, 0), note(call("INPROGRESS"), Playing, 0, 0)}},
        // Switched off, nothing pauses or resumes, but calls still end: none
        // is left to hold a later pause.
        {"StopOnCallOffStillEndsCalls",
         true,
         Playing,
         {note(call("RINGING"), Paused, 1, 0), toggle(Paused, 1, 0),
          note(call("MISSED"), Paused, 1, 0), note(callOf(2, "RINGING"), Paused, 1, 0),
          toggle(Paused, 1, 0), note(call("MISSED"), Paused, 1, 0),
          note(callOf(2, "MISSED"), Paused, 1, 0), user(Playing, 1, 0),
          note(callOf(3, "RINGING"), Paused, 2, 0), note(callOf(3, "MISSED"), Playing, 2, 1)}},
        {"SeparatorsAndTheirRuns",
         true,
         Playing,
         {note("CALL,1234\t\tSTATUS\n\nRINGING", Paused, 1, 0),
          note(" ,\tCALL , 1234 STATUS MISSED\n", Playing, 1, 1)}},
        {"LowerCaseMatchesNothing",
         true,
         Playing,
         {note("call 1234 STATUS RINGING", Playing, 0, 0), note(call("ringing"), Playing, 0, 0),
          note("Call 1234 STATUS RINGING", Playing, 0, 0)}},
        {"LastStatusWordWins",
         true,
         Playing,
         {note(call("RINGING MISSED"), Playing, 0, 0), note(call("MISSED RINGING"), Paused, 1, 0),
          note("CALL 1234 RINGING STATUS REFUSED", Paused, 1, 0)}},
        {"FirstWordMustBeCall",
         true,
         Playing,
         {note("CHAT 1234 STATUS RINGING", Playing, 0, 0), note("1234 CALL RINGING", Playing, 0, 0),
          note("CALLS 1234 STATUS RINGING", Playing, 0, 0),
          note("CALL 1234 DURATION 60", Playing, 0, 0), note("CALL", Playing, 0, 0),
          note("", Playing, 0, 0)}},
    };
    // The statuses that neither pause nor resume, before and after a pause.
    for (const char* status : {"UNPLACED", "ROUTING", "EARLYMEDIA", "ONHOLD", "FINISHED", "BUSY"})
        all.push_back({status,
                       true,
                       Playing,
                       {note(call(status), Playing, 0, 0), note(call("RINGING"), Paused, 1, 0),
                        note(call(status), Paused, 1, 0)}});
    for (const char* status : {"FAILED", "REFUSED", "CANCELLED"})
        all.push_back({status,
                       true,
                       Playing,
                       {note(call(status), Playing, 0, 0), note(call("RINGING"), Paused, 1, 0),
                        note(call(status), Playing, 1, 1)}});
    return all;
}

// Only the calls that paused the music give it back, and only once none of
// them rings, runs or is on hold any more.
std::vector<Scenario> pausingCalls() {
    return {
        // Answered and finished, then hours later a missed call from anyone.
        {"AMissedCallAfterAnAnsweredOneLeavesTheMusicPaused",
         true,
         Playing,
         {note(callOf(1, "RINGING"), Paused, 1, 0), note(callOf(1, "INPROGRESS"), Paused, 1, 0),
          note(callOf(1, "FINISHED"), Paused, 1, 0), note(callOf(2, "RINGING"), Paused, 1, 0),
          note(callOf(2, "MISSED"), Paused, 1, 0)}},
        {"OtherCallsEndingResumeNothing",
         true,
         Playing,
         {note(callOf(1, "RINGING"), Paused, 1, 0), note(callOf(2, "CANCELLED"), Paused, 1, 0),
          note(callOf(3, "FAILED"), Paused, 1, 0), note(callOf(4, "MISSED"), Paused, 1, 0),
          note(callOf(1, "REFUSED"), Playing, 1, 1)}},
        // A second call rings while the first holds the music: it holds it too.
        {"ASecondRingingCallKeepsTheMusicPaused",
         true,
         Playing,
         {note(callOf(1, "RINGING"), Paused, 1, 0), note(callOf(2, "RINGING"), Paused, 1, 0),
          note(callOf(1, "MISSED"), Paused, 1, 0), note(callOf(2, "MISSED"), Playing, 1, 1)}},
        {"ACallMissedDuringAnAnsweredOneResumesNothing",
         true,
         Playing,
         {note(callOf(1, "RINGING"), Paused, 1, 0), note(callOf(1, "INPROGRESS"), Paused, 1, 0),
          note(callOf(2, "RINGING"), Paused, 1, 0), note(callOf(2, "MISSED"), Paused, 1, 0),
          note(callOf(1, "FINISHED"), Paused, 1, 0)}},
        // On hold (ONHOLD, or LOCALHOLD from protocol 2 on) a call goes on.
        {"AHeldCallStillHoldsTheMusic",
         true,
         Playing,
         {note(callOf(1, "RINGING"), Paused, 1, 0), note(callOf(1, "INPROGRESS"), Paused, 1, 0),
          note(callOf(1, "ONHOLD"), Paused, 1, 0), note(callOf(2, "RINGING"), Paused, 1, 0),
          note(callOf(1, "LOCALHOLD"), Paused, 1, 0), note(callOf(2, "REFUSED"), Paused, 1, 0),
          note(callOf(1, "ROUTING"), Paused, 1, 0), note(callOf(1, "EARLYMEDIA"), Paused, 1, 0),
          note(callOf(1, "CANCELLED"), Playing, 1, 1)}},
        // The user plays through the first call's ringing; a second pauses.
        {"AnOverriddenCallStillHoldsALaterPause",
         true,
         Playing,
         {note(callOf(1, "RINGING"), Paused, 1, 0), user(Playing, 1, 0),
          note(callOf(2, "RINGING"), Paused, 2, 0), note(callOf(1, "MISSED"), Paused, 2, 0),
          note(callOf(2, "MISSED"), Playing, 2, 1)}},
        {"EndedCallsHoldNoLaterPause",
         true,
         Playing,
         {note(callOf(1, "RINGING"), Paused, 1, 0), note(callOf(1, "BUSY"), Paused, 1, 0),
          note(callOf(2, "RINGING"), Paused, 1, 0), user(Playing, 1, 0),
          note(callOf(3, "RINGING"), Paused, 2, 0), note(callOf(3, "FAILED"), Playing, 2, 1)}},
        // No id before the property: no status either.
        {"ACallWithoutAnIdChangesNothing",
         true,
         Playing,
         {note("CALL RINGING", Playing, 0, 0), note("CALL STATUS RINGING", Playing, 0, 0),
          note("CALL RINGING 1 MISSED", Playing, 0, 0)}},
    };
}

class CallScenarioTest : public CallWatcherTest, public testing::WithParamInterface<Scenario> {
  protected:
    CallScenarioTest() {
        if (!GetParam().stopOnCall)
            stage_.ini.clear();
    }
};

TEST_P(CallScenarioTest, PausesAndResumesAsTheCallGoes) {
    standin::setPlayState(GetParam().start, standin::Notify::StatusChanged);
    standin::clearLog();
    int index = 0;
    for (const Step& step : GetParam().steps) {
        SCOPED_TRACE("step " + std::to_string(index++) + " \"" + step.text + "\"");
        switch (step.kind) {
        case Step::Notify:
            EXPECT_EQ(skypeTells(step.text), 1) << "a Skype notification is taken";
            break;
        case Step::UserSets:
            standin::setPlayState(step.state, standin::Notify::StatusChanged);
            break;
        case Step::ToggleStopOnCall:
            sendToHost(WM_COMMAND, kToggleStopOnCall, 0);
            break;
        }
        EXPECT_EQ(standin::playState(), step.state);
        EXPECT_EQ(pausesSent(), step.pauses);
        EXPECT_EQ(playsSent(), step.plays);
    }
    EXPECT_EQ(copyDataPassedOn(), 0u) << "nothing of Skype's reaches the player's window";
}

INSTANTIATE_TEST_SUITE_P(Calls, CallScenarioTest, testing::ValuesIn(scenarios()),
                         [](const testing::TestParamInfo<Scenario>& info) {
                             return std::string(info.param.name);
                         });

INSTANTIATE_TEST_SUITE_P(PausingCalls, CallScenarioTest, testing::ValuesIn(pausingCalls()),
                         [](const testing::TestParamInfo<Scenario>& info) {
                             return std::string(info.param.name);
                         });

// Only the Skype window that attached may pause the player: the same ring
// from another program's window, or naming no sender, is not taken.
TEST_F(CallWatcherTest, TheLinkTakesOnlyTheAttachedSkypesNotifications) {
    standin::setPlayState(Playing, standin::Notify::StatusChanged);
    for (sk::Sender sender : {sk::Sender::Other, sk::Sender::None}) {
        sk::Notification ring = sk::textNotification(call("RINGING"));
        ring.sender = sender;
        EXPECT_EQ(skypeTells(ring), 0) << "not taken";
    }
    EXPECT_EQ(pausesSent(), 0u);
    EXPECT_EQ(standin::playState(), Playing);

    EXPECT_EQ(skypeTells(call("RINGING")), 1);
    EXPECT_EQ(standin::playState(), Paused);
    EXPECT_EQ(copyDataPassedOn(), 0u);
}

// The player takes commands in WM_COPYDATA: whatever is sent to its own
// window, by Skype's window or anyone else, is the player's and goes on
// untouched, its answer going back. None of it pauses the music.
TEST_F(CallWatcherTest, CopyDataToThePlayersWindowGoesOnUntouched) {
    standin::setPlayState(Playing, standin::Notify::StatusChanged);
    standin::clearLog();
    const std::pair<sk::Sender, HWND> senders[] = {{sk::Sender::Skype, sk::skypeWindow()},
                                                   {sk::Sender::Other, sk::snapshot().otherWindow},
                                                   {sk::Sender::None, nullptr}};
    for (const auto& [sender, window] : senders) {
        sk::Notification ring = sk::textNotification(call("RINGING"));
        ring.sender = sender;
        ring.target = host();
        const LRESULT answer = skypeTells(ring);
        const auto passed = standin::lastMessage(standin::Window::Main, WM_COPYDATA);
        ASSERT_TRUE(passed.has_value());
        EXPECT_EQ(passed->wParam, reinterpret_cast<WPARAM>(window));
        EXPECT_EQ(passed->result, answer) << "the player's own answer goes back";
    }
    EXPECT_EQ(copyDataPassedOn(), 3u);
    EXPECT_EQ(pausesSent(), 0u);
    EXPECT_EQ(standin::playState(), Playing);
}

// How the Skype session ends while call 7 holds the music paused.
enum class SessionEnd { LogOut, FailedSend, ApiAvailable };

struct CallsAcross {
    const char* name;
    SessionEnd end;
    bool errorAnswer; // Skype answers the question about its calls with an ERROR
    bool asked;       // the next session asks Skype which calls go on
    bool callGoesOn;  // call 7 still holds the pause after the new attach
};

void PrintTo(const CallsAcross& c, std::ostream* out) {
    *out << c.name;
}

class CallsAcrossSessionsTest : public CallWatcherTest,
                                public testing::WithParamInterface<CallsAcross> {
  protected:
    CallsAcrossSessionsTest() { stage_.skype.answers = sk::CommandAnswers::Later; }

    // The session ends as the case says, and Skype attaches the link again.
    void endAndAttachAgain() {
        const std::size_t opened = skypeHeard(kProtocolCommand);
        switch (GetParam().end) {
        case SessionEnd::LogOut:
            ASSERT_TRUE(sk::waitFor(sk::requestLogOut()).completed);
            ASSERT_TRUE(sk::waitFor(sk::requestLogIn()).completed);
            break;
        case SessionEnd::FailedSend: { // a mood meets a Skype that answers 0
            settleSkypeLink();
            const std::size_t records = sk::recordCount();
            sk::setCopyDataResult(0);
            standin::sendSongStarted();
            ASSERT_TRUE(waitForSkypeRecords(records + 1));
            settleSkypeLink();
            sk::setCopyDataResult(1);
            break;
        }
        case SessionEnd::ApiAvailable:
            if (GetParam().errorAnswer)
                sk::updateConfig(
                    [](sk::Config& config) { config.answers = sk::CommandAnswers::None; });
            ASSERT_TRUE(sk::sendAttach(sk::kAttachApiAvailable).delivered);
            break;
        }
        discoveryTick();
        ASSERT_TRUE(waitForSkypeToHear(kProtocolCommand, opened + 1));
        if (GetParam().errorAnswer) {
            ASSERT_TRUE(waitForSkypeToHear("SEARCH ACTIVECALLS"));
            EXPECT_EQ(skypeTells("ERROR 2 Unknown command"), 1);
        }
        settleSkypeLink();
        ASSERT_TRUE(sk::sync());
    }
};

// A Skype that logged out or restarted has ended its calls; one that only
// lost us may still have them, and is asked. A call that holds the pause
// across the end resumes the music as ever; one that ended meanwhile holds
// no later pause.
TEST_P(CallsAcrossSessionsTest, OnlyCallsSkypeStillHasHoldThePause) {
    const CallsAcross& c = GetParam();
    standin::setPlayState(Playing, standin::Notify::StatusChanged);
    EXPECT_EQ(skypeTells(callOf(7, "RINGING")), 1);
    ASSERT_EQ(standin::playState(), Paused);
    ASSERT_NO_FATAL_FAILURE(endAndAttachAgain());
    EXPECT_EQ(skypeHeard("SEARCH ACTIVECALLS"), c.asked ? 1u : 0u);
    EXPECT_EQ(standin::playState(), Paused) << "an end changes nothing of the music";

    if (c.callGoesOn) {
        EXPECT_EQ(skypeTells(callOf(7, "MISSED")), 1);
        EXPECT_EQ(standin::playState(), Playing) << "the call held the pause to its end";
        return;
    }
    // Call 7 is gone for good: the next call's pause is the only one.
    standin::setPlayState(Playing, standin::Notify::StatusChanged);
    EXPECT_EQ(skypeTells(callOf(8, "RINGING")), 1);
    EXPECT_EQ(standin::playState(), Paused);
    EXPECT_EQ(skypeTells(callOf(8, "MISSED")), 1);
    EXPECT_EQ(standin::playState(), Playing);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CallsAcrossSessionsTest,
    testing::Values(CallsAcross{"LogOutAndIn", SessionEnd::LogOut, false, false, false},
                    CallsAcross{"FailedSendCallRingsOn", SessionEnd::FailedSend, false, true, true},
                    CallsAcross{"ApiAvailableAnsweredWithAnError", SessionEnd::ApiAvailable, true,
                                true, false}),
    [](const testing::TestParamInfo<CallsAcross>& info) { return std::string(info.param.name); });

class NoSkypeWindowTest : public CallWatcherTest {
  protected:
    NoSkypeWindowTest() { stage_.skype.answerMode = sk::AnswerMode::None; }
};

// Until Skype attaches no window is known, so no ring pauses the player: not
// one naming Skype's window, nor one naming none.
TEST_F(NoSkypeWindowTest, NothingPausesBeforeSkypeAttaches) {
    standin::setPlayState(Playing, standin::Notify::StatusChanged);
    for (sk::Sender sender : {sk::Sender::Skype, sk::Sender::None}) {
        sk::Notification ring = sk::textNotification(call("RINGING"));
        ring.sender = sender;
        EXPECT_EQ(skypeTells(ring), 0) << "not taken";
    }
    EXPECT_EQ(pausesSent(), 0u);
    EXPECT_EQ(copyDataPassedOn(), 0u);
    EXPECT_EQ(standin::playState(), Playing);
}

TEST_F(CallWatcherTest, ReadsOnlyWithinCbData) {
    standin::setPlayState(Playing, standin::Notify::StatusChanged);
    standin::clearLog();

    // Without a terminator; the block ends at an inaccessible page.
    sk::Notification unterminated = sk::textNotification(call("RINGING"));
    unterminated.bytes.pop_back();
    unterminated.cbData = static_cast<DWORD>(unterminated.bytes.size());
    EXPECT_EQ(skypeTells(unterminated), 1);
    EXPECT_EQ(standin::playState(), Paused);

    // Cut short by cbData: "CALL 1234 STATUS MISS" names no status.
    sk::Notification cut = sk::textNotification(call("MISSED"));
    cut.cbData -= 3;
    EXPECT_EQ(skypeTells(cut), 1);
    EXPECT_EQ(standin::playState(), Paused);

    sk::Notification empty = sk::textNotification(call("MISSED"));
    empty.cbData = 0;
    EXPECT_NE(skypeTells(empty), kUndelivered);
    EXPECT_EQ(standin::playState(), Paused);

    // No data at all is no notification: not taken.
    sk::Notification noData = sk::textNotification(call("MISSED"));
    noData.nullData = true;
    EXPECT_EQ(skypeTells(noData), 0);
    EXPECT_EQ(standin::playState(), Paused);

    EXPECT_EQ(skypeTells(call("MISSED")), 1);
    EXPECT_EQ(standin::playState(), Playing);
    EXPECT_EQ(copyDataPassedOn(), 0u);
}

// On one thread nothing copies the block, so a sender can claim more bytes
// than it has; the reader must stop at the terminator and copy nothing huge.
TEST_F(CallWatcherTest, HugeCbDataWithASmallBlock) {
    standin::setPlayState(Playing, standin::Notify::StatusChanged);
    char text[] = "CALL 1234 STATUS RINGING";
    COPYDATASTRUCT record{0, 0x7FFFFFF0, text};
    EXPECT_EQ(SendMessageA(link_, WM_COPYDATA, reinterpret_cast<WPARAM>(sk::skypeWindow()),
                           reinterpret_cast<LPARAM>(&record)),
              1);
    EXPECT_EQ(standin::playState(), Paused);
}

} // namespace
