// The Skype session as the stand-in Skype client sees it: Discover broadcasts,
// Attach replies, the command channel, Skype leaving, hanging and answering
// in the middle of the plug-in's own sends.
#include "harness.h"

#include <algorithm>
#include <memory>

namespace {

namespace sk = standin_skype;

constexpr char kFirstSongMood[] = "SET PROFILE RICH_MOOD_TEXT First Song";
// Every wait on Skype is bounded at this; a hang outlasts it.
constexpr UINT kSkypeBoundMs = 1000;
constexpr DWORD kHangLongerThanBoundMs = 1500;

DWORD_PTR handle(HWND window) {
    return reinterpret_cast<DWORD_PTR>(window);
}

UINT discoverMessage() {
    return registeredMessage(sk::kDiscoverMessageName);
}
UINT attachMessage() {
    return registeredMessage(sk::kAttachMessageName);
}

// The plug-in's sends of `message` to `window`, as the import recorder saw them.
std::vector<ApiCall> sendsTo(HWND window, UINT message) {
    std::vector<ApiCall> found;
    for (const ApiCall& call : recordedCalls({"SendMessageTimeoutA"}))
        if (call.args[0] == handle(window) && call.args[1] == message)
            found.push_back(call);
    return found;
}

std::size_t broadcasts() {
    return sendsTo(HWND_BROADCAST, discoverMessage()).size();
}

void tick() {
    sendToHost(WM_TIMER, kDiscoveryTimer, 0);
}

// Position of the first transcript line that starts with `start`, from `from` on.
std::size_t lineStarting(const std::vector<std::string>& lines, const std::string& start,
                         std::size_t from = 0) {
    for (std::size_t i = from; i < lines.size(); ++i)
        if (lines[i].compare(0, start.size(), start) == 0)
            return i;
    return lines.size();
}

std::size_t logIndex(const std::function<bool(const standin::LoggedMessage&)>& matches) {
    const auto& log = standin::messageLog();
    return static_cast<std::size_t>(std::find_if(log.begin(), log.end(), matches) - log.begin());
}

class SessionTest : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        // Ticks are sent by hand, so that no count depends on the clock.
        KillTimer(host(), kDiscoveryTimer);
    }

    void prepare() override {
        if (!ini_.empty())
            standin::writeIniContent(ini_);
        if (playingAtStart_)
            standin::setPlayState(standin::PlayState::Playing);
        sk::Config config;
        config.clientProcess = GetCurrentProcessId();
        config.answerMode = answerMode_;
        skype_ = std::make_unique<sk::Running>(config);
        ASSERT_TRUE(skype_->started());
    }

    // A song starts; returns how many commands Skype received meanwhile.
    std::size_t songStarts() {
        const std::size_t before = sk::recordCount();
        standin::sendSongStarted();
        return sk::recordCount() - before;
    }

    sk::AnswerMode answerMode_ = sk::AnswerMode::Immediate;
    bool playingAtStart_ = false;
    std::string ini_;
    std::unique_ptr<sk::Running> skype_;
};

class SearchingTest : public SessionTest {
  protected:
    SearchingTest() { answerMode_ = sk::AnswerMode::None; }
};

TEST_F(SessionTest, DiscoversAtInitAndFallsQuietOnceAttached) {
    const auto broadcast = sendsTo(HWND_BROADCAST, discoverMessage());
    ASSERT_EQ(broadcast.size(), 1u);
    EXPECT_EQ(broadcast[0].args[2], handle(host()));
    EXPECT_EQ(broadcast[0].args[3], 0u);
    // A hung top-level window must not hold the player for long.
    EXPECT_TRUE(broadcast[0].args[4] & SMTO_ABORTIFHUNG);
    EXPECT_LT(broadcast[0].args[5], kHangLongerThanBoundMs);
    EXPECT_EQ(sk::discoversSeen(), 1u);
    ASSERT_EQ(sk::attachesSent().size(), 1u);
    EXPECT_EQ(sk::attachesSent()[0].result, 1);

    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_EQ(broadcasts(), 1u);
    EXPECT_EQ(sk::discoversSeen(), 1u);

    ASSERT_EQ(songStarts(), 1u);
    const auto record = sk::records().back();
    EXPECT_EQ(record.sender, host());
    EXPECT_EQ(record.text(), kFirstSongMood);
}

TEST_F(SearchingTest, BroadcastsAtEveryTickAndDropsCommands) {
    EXPECT_EQ(sk::discoversSeen(), 1u);
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_EQ(broadcasts(), 4u);
    EXPECT_EQ(sk::discoversSeen(), 4u);
    // The broadcast reaches the player's own window too and is handed on.
    EXPECT_EQ(standin::countMessages(standin::Window::Main, discoverMessage()), 3u);

    EXPECT_EQ(songStarts(), 0u);
    const auto lost = sendsTo(nullptr, WM_COPYDATA);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].result, 0u);
}

class AttachStatusTest : public SearchingTest, public testing::WithParamInterface<LONG> {};

TEST_P(AttachStatusTest, IsAnsweredOneAndOnlySuccessGivesAWindow) {
    const LONG status = GetParam();
    const bool success = status == sk::kAttachSuccess;
    const sk::Outcome outcome = sk::sendAttach(status);
    ASSERT_TRUE(outcome.completed && outcome.delivered);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(standin::countMessages(standin::Window::Main, attachMessage()), 0u)
        << "an Attach reply must never reach the player";

    // Skype's API becoming available is worth a discovery at once.
    const bool available = status == sk::kAttachApiAvailable;
    EXPECT_EQ(broadcasts(), available ? 2u : 1u);
    EXPECT_EQ(songStarts(), success ? 1u : 0u);
    tick();
    EXPECT_EQ(broadcasts(), (success ? 1u : 2u) + (available ? 1u : 0u));
}

INSTANTIATE_TEST_SUITE_P(EveryStatus, AttachStatusTest,
                         testing::Values(sk::kAttachSuccess, sk::kAttachPendingAuthorization,
                                         sk::kAttachRefused, sk::kAttachNotAvailable,
                                         sk::kAttachApiAvailable, 4));

struct LaterStatus {
    LONG status;
    bool forgets;     // the known window is dropped
    bool rediscovers; // a broadcast follows at once (and Skype, answering it, is back)
};

class LaterAttachStatusTest : public SessionTest,
                              public testing::WithParamInterface<LaterStatus> {};

TEST_P(LaterAttachStatusTest, FromTheKnownWindow) {
    const LaterStatus later = GetParam();
    const sk::Outcome outcome = sk::sendAttach(later.status);
    ASSERT_TRUE(outcome.completed && outcome.delivered);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(broadcasts(), later.rediscovers ? 2u : 1u);
    const bool known = !later.forgets || later.rediscovers;
    EXPECT_EQ(songStarts(), known ? 1u : 0u);
    tick();
    EXPECT_EQ(broadcasts(), later.forgets ? 2u : 1u);
    EXPECT_EQ(songStarts(), 1u);
}

INSTANTIATE_TEST_SUITE_P(AfterSuccess, LaterAttachStatusTest,
                         testing::Values(LaterStatus{sk::kAttachPendingAuthorization, false, false},
                                         LaterStatus{sk::kAttachRefused, true, false},
                                         LaterStatus{sk::kAttachNotAvailable, true, false},
                                         LaterStatus{sk::kAttachApiAvailable, true, true},
                                         LaterStatus{4, false, false}),
                         [](const testing::TestParamInfo<LaterStatus>& info) {
                             return "Status" + std::to_string(info.param.status);
                         });

TEST_F(SessionTest, SecondSuccessReplacesTheWindow) {
    const sk::Outcome outcome =
        sk::waitFor(sk::requestAttach(sk::kAttachSuccess, sk::Sender::Other));
    ASSERT_TRUE(outcome.completed && outcome.delivered);
    EXPECT_EQ(outcome.result, 1);

    // The other window does not speak the API: the protocol command that
    // opens the session fails there, and the window is forgotten at once.
    const auto toOther = sendsTo(sk::otherWindow(), WM_COPYDATA);
    ASSERT_EQ(toOther.size(), 1u);
    EXPECT_EQ(toOther[0].result, 1u) << "the send went through; its answer was 0";
    const std::size_t toSkype = sendsTo(sk::skypeWindow(), WM_COPYDATA).size();
    EXPECT_EQ(songStarts(), 0u);
    EXPECT_EQ(sendsTo(sk::otherWindow(), WM_COPYDATA).size(), 1u);
    EXPECT_EQ(sendsTo(sk::skypeWindow(), WM_COPYDATA).size(), toSkype);

    tick();
    EXPECT_EQ(sk::discoversSeen(), 2u);
    EXPECT_EQ(songStarts(), 1u);
}

TEST_F(SessionTest, FailedSendForgetsTheWindowUntilTheNextTick) {
    sk::setCopyDataResult(0);
    EXPECT_EQ(songStarts(), 1u) << "Skype received it but answered 0";
    EXPECT_EQ(songStarts(), 0u);
    // The session's protocol command, then the mood answered 0.
    EXPECT_EQ(sendsTo(sk::skypeWindow(), WM_COPYDATA).size(), 2u);
    EXPECT_EQ(sendsTo(nullptr, WM_COPYDATA).size(), 1u);

    sk::setCopyDataResult(1);
    tick();
    EXPECT_EQ(broadcasts(), 2u);
    ASSERT_EQ(songStarts(), 1u);
    EXPECT_EQ(sk::records().back().text(), kFirstSongMood);
    tick();
    EXPECT_EQ(broadcasts(), 2u);
}

TEST_F(SessionTest, SkypeLeavesAndComesBack) {
    const HWND gone = sk::skypeWindow();
    ASSERT_TRUE(sk::waitFor(sk::requestLeave()).delivered);

    EXPECT_EQ(songStarts(), 0u);
    tick();
    EXPECT_EQ(broadcasts(), 2u);
    EXPECT_EQ(songStarts(), 0u);
    EXPECT_EQ(sendsTo(gone, WM_COPYDATA).size(), 2u)
        << "the protocol command, then only the first mood meets it";

    ASSERT_TRUE(sk::waitFor(sk::requestReturn()).delivered);
    tick();
    EXPECT_EQ(sk::discoversSeen(), 2u);
    ASSERT_EQ(songStarts(), 1u);
    EXPECT_EQ(sk::records().back().text(), kFirstSongMood);
    EXPECT_EQ(sendsTo(sk::skypeWindow(), WM_COPYDATA).size(), 2u);
}

TEST_F(SessionTest, HungSkypeCostsTheBoundOnce) {
    sk::setCopyDataHang(kHangLongerThanBoundMs);
    EXPECT_EQ(songStarts(), 1u);
    sk::setCopyDataHang(0);
    auto toSkype = sendsTo(sk::skypeWindow(), WM_COPYDATA);
    ASSERT_EQ(toSkype.size(), 2u) << "the protocol command, then the mood";
    EXPECT_EQ(toSkype[1].result, 0u) << "the send must give up";
    EXPECT_TRUE(toSkype[1].args[4] & SMTO_ABORTIFHUNG);
    EXPECT_EQ(toSkype[1].args[5], kSkypeBoundMs);

    EXPECT_EQ(songStarts(), 0u);
    EXPECT_EQ(sendsTo(sk::skypeWindow(), WM_COPYDATA).size(), 2u) << "no second wait";

    // Once Skype is itself again, the next tick finds it.
    ASSERT_TRUE(sk::waitFor(sk::requestReturn()).completed);
    tick();
    EXPECT_EQ(sk::discoversSeen(), 2u);
    EXPECT_EQ(songStarts(), 1u);
}

class ReplyDuringBroadcastTest : public SessionTest {
  protected:
    ReplyDuringBroadcastTest() { playingAtStart_ = true; }
};

TEST_F(ReplyDuringBroadcastTest, ComposesInsideTheBroadcast) {
    const auto records = sk::records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text(), kProtocolCommand);
    EXPECT_EQ(records[1].text(), kFirstSongMood);

    // Skype's Attach is answered at once; the session's commands follow it
    // while the Discover broadcast is still being handled.
    const auto lines = sk::transcript();
    const std::size_t discover = lineStarting(lines, "discover ");
    const std::size_t attach = lineStarting(lines, "attach to=", discover);
    const std::size_t received = lineStarting(lines, "recv ", discover);
    ASSERT_LT(discover, lines.size());
    ASSERT_LT(attach, lines.size());
    EXPECT_LT(attach, received);
    const auto broadcast = sendsTo(HWND_BROADCAST, discoverMessage());
    ASSERT_EQ(broadcast.size(), 1u);
    EXPECT_NE(broadcast[0].result, 0u);

    standin::sendStatusChanged();
    EXPECT_EQ(sk::recordCount(), 2u) << "Playing was recorded";
}

class ReplyAfterBroadcastTest : public SessionTest {
  protected:
    ReplyAfterBroadcastTest() {
        playingAtStart_ = true;
        answerMode_ = sk::AnswerMode::Posted;
    }
};

// The poll after the broadcast composes while no window is known; the
// attach that follows publishes the song all the same.
TEST_F(ReplyAfterBroadcastTest, TheAttachPublishesWhatTheBroadcastLost) {
    ASSERT_TRUE(sk::pumpUntil([] { return sk::attachesSent().size() == 1; }));
    standin::pumpPending();
    const auto records = sk::records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text(), kProtocolCommand);
    EXPECT_EQ(records[1].text(), kFirstSongMood);
    EXPECT_EQ(sendsTo(nullptr, WM_COPYDATA).size(), 1u) << "the mood composed before the reply";
    tick();
    EXPECT_EQ(broadcasts(), 1u) << "the posted Success was taken";
    EXPECT_EQ(songStarts(), 1u);
}

class NotificationDuringSendTest : public SessionTest {
  protected:
    NotificationDuringSendTest() {
        playingAtStart_ = true;
        // No tray icon: the shell call could let the notification in first.
        ini_ = "[Tralmo]\nTRALMO_STOP_MUSIC=1\nTRALMO_SHOW_TRAYICON=0\n"
               "TRALMO_USER_STRING=[%title%] [%state%]\n";
    }
};

TEST_F(NotificationDuringSendTest, IsHandledInsideTheSend) {
    const std::size_t first = sk::recordCount();
    // Skype dawdles over the mood, so the ringing is surely read meanwhile.
    sk::setCopyDataHang(300);
    const sk::RequestId ring =
        sk::requestNotification(sk::textNotification("CALL 7 STATUS RINGING"));
    ASSERT_TRUE(sentMessageQueued());
    standin::sendSongStarted();
    const sk::Outcome rang = sk::waitFor(ring);
    sk::setCopyDataHang(0);
    ASSERT_TRUE(rang.completed && rang.delivered);
    EXPECT_EQ(rang.result, 1);
    standin::pumpPending(); // the pause's status callback is posted

    const auto moods = sk::records(first);
    ASSERT_EQ(moods.size(), 2u);
    EXPECT_EQ(moods[0].text(), "SET PROFILE RICH_MOOD_TEXT First Song playing");
    EXPECT_EQ(moods[1].text(), "SET PROFILE RICH_MOOD_TEXT First Song paused");
    EXPECT_EQ(standin::playState(), standin::PlayState::Paused);

    // The song-start callback reaches the player only after its mood was sent.
    const std::size_t pause = logIndex([](const standin::LoggedMessage& m) {
        return m.message == WM_COMMAND && LOWORD(m.wParam) == host::kCommandPause;
    });
    const std::size_t started = logIndex([](const standin::LoggedMessage& m) {
        return m.message == host::kWmUser && m.lParam == host::kCallbackSongStarted;
    });
    ASSERT_LT(pause, standin::messageLog().size());
    EXPECT_LT(pause, started);

    tick();
    EXPECT_EQ(broadcasts(), 1u) << "both sends succeeded";
}

} // namespace
