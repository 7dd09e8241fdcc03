// The Skype session as the stand-in Skype client sees it: Discover broadcasts
// from the plug-in's link window and their back-off, Attach replies, the
// command channel and its order, Skype leaving, hanging, being slow and
// ringing while it reads a mood.
#include "harness.h"

#include <algorithm>

namespace {

namespace sk = standin_skype;

constexpr char kMoodPrefix[] = "SET PROFILE RICH_MOOD_TEXT ";
constexpr char kFirstSongMood[] = "SET PROFILE RICH_MOOD_TEXT First Song";
// Every wait on Skype is bounded at this.
constexpr UINT kSkypeBoundMs = 1000;
// A Skype slow over each command, yet well inside the bound: what is
// composed meanwhile piles up behind the command it reads.
constexpr DWORD kSlowSkypeMs = 500;
// Ticks while nothing answers: every one for the first minute, then every sixth.
constexpr char kFirstMinute[] = "BBBBBBBBBBBB";
constexpr char kPatientMinute[] = ".....B.....B";

std::string moodOf(const std::string& title) {
    return kMoodPrefix + title;
}

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

std::size_t commandSends() {
    std::size_t count = 0;
    for (const ApiCall& call : recordedCalls({"SendMessageTimeoutA"}))
        count += call.args[1] == WM_COPYDATA ? 1 : 0;
    return count;
}

// Pumps until `count` Discover broadcasts have been made and returned.
bool broadcastsMade(std::size_t count) {
    return sk::pumpUntil([count] { return discoverBroadcasts() >= count && sendsInFlight() == 0; });
}

// Pumps until Skype has heard PROTOCOL 7 `count` times: that many sessions
// were opened.
bool sessionsOpened(std::size_t count) {
    return waitForSkypeToHear(kProtocolCommand, count);
}

// Waits until Skype holds `count` records, handling nothing meanwhile: a
// notification Skype is sending this thread stays unread. False after a
// safety bound.
bool skypeHoldsUnread(std::size_t count) {
    for (int i = 0; i < 5000; ++i) {
        if (sk::recordCount() >= count)
            return true;
        Sleep(2);
    }
    return false;
}

// Where in `texts` each of `moods` comes, in order; -1 where it is missing.
std::vector<int> positionsIn(const std::vector<std::string>& moods,
                             const std::vector<std::string>& texts) {
    std::vector<int> positions;
    for (const std::string& text : texts) {
        const auto found = std::find(moods.begin(), moods.end(), text);
        positions.push_back(found == moods.end() ? -1 : static_cast<int>(found - moods.begin()));
    }
    return positions;
}

// A Skype window of the test's own, on this thread: it takes every command
// and keeps its text.
class OtherSkype {
  public:
    OtherSkype() {
        texts().clear();
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &OtherSkype::procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "TralmoTestOtherSkype";
        RegisterClassA(&windowClass);
        window_ = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, windowClass.hInstance, nullptr);
    }
    ~OtherSkype() { DestroyWindow(window_); }
    OtherSkype(const OtherSkype&) = delete;
    OtherSkype& operator=(const OtherSkype&) = delete;

    HWND window() const { return window_; }
    static std::vector<std::string>& texts() {
        static std::vector<std::string> received;
        return received;
    }

  private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != WM_COPYDATA)
            return DefWindowProcA(window, message, wParam, lParam);
        const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const auto* bytes = static_cast<const char*>(record->lpData);
        texts().emplace_back(bytes, std::find(bytes, bytes + record->cbData, '\0'));
        return 1;
    }

    HWND window_ = nullptr;
};

class SessionTest : public BesideSkypeTest {
  protected:
    SessionTest() { stage_.manualTicks = true; }

    // A song starts: what Skype receives for it.
    static std::vector<std::string> songStarts(std::size_t awaited = 0) {
        const std::size_t first = sk::recordCount();
        standin::sendSongStarted();
        return skypeTextsSettled(first, awaited);
    }

    // One tick for each character of `pattern`: at a 'B' the Discover
    // message must be broadcast, at a '.' it must not.
    static void expectTicks(const std::string& pattern) {
        std::size_t expected = discoverBroadcasts();
        char previous = 'B';
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            // A wanted broadcast not yet sent would merge with the next one.
            if (pattern[i] == 'B' && previous == '.') {
                settleSkypeLink();
                ASSERT_EQ(discoverBroadcasts(), expected)
                    << "before tick " << i << " of " << pattern;
            }
            discoveryTick();
            if (pattern[i] == 'B') {
                ++expected;
                ASSERT_TRUE(broadcastsMade(expected))
                    << "no broadcast at tick " << i << " of " << pattern;
            }
            previous = pattern[i];
        }
        settleSkypeLink();
        EXPECT_EQ(discoverBroadcasts(), expected) << pattern;
    }
};

class SearchingTest : public SessionTest {
  protected:
    SearchingTest() { stage_.skype.answerMode = sk::AnswerMode::None; }
};

// ---- Discovery ---------------------------------------------------------------------

// Skype knows the plug-in by its link window; nothing of Skype's goes to the
// player's window, where the player takes commands of its own.
TEST_F(SessionTest, DiscoversFromItsLinkWindowAndFallsQuietOnceAttached) {
    const HWND link = skypeLink();
    ASSERT_NE(link, nullptr);
    EXPECT_NE(link, host());
    // Hidden, and top-level: Skype announces its API by broadcast.
    EXPECT_FALSE(IsWindowVisible(link));
    EXPECT_EQ(GetAncestor(link, GA_PARENT), GetDesktopWindow());

    const auto broadcast = sendsTo(HWND_BROADCAST, discoverMessage());
    ASSERT_EQ(broadcast.size(), 1u);
    EXPECT_EQ(broadcast[0].args[2], handle(link));
    EXPECT_EQ(broadcast[0].args[3], 0u);
    // A hung top-level window must not hold discovery for long.
    EXPECT_TRUE(broadcast[0].args[4] & SMTO_ABORTIFHUNG);
    EXPECT_EQ(broadcast[0].args[5], kSkypeBoundMs);
    const sk::Snapshot skype = sk::snapshot();
    EXPECT_EQ(skype.discovers, 1u);
    EXPECT_EQ(skype.lastClient, link);
    ASSERT_EQ(skype.attaches.size(), 1u);
    EXPECT_EQ(skype.attaches[0].client, link);
    EXPECT_EQ(skype.attaches[0].result, 1);

    for (int i = 0; i < 3; ++i)
        tickAndSettle();
    EXPECT_EQ(discoverBroadcasts(), 1u);
    EXPECT_EQ(sk::snapshot().discovers, 1u);

    ASSERT_EQ(songStarts(1), std::vector<std::string>{kFirstSongMood});
    EXPECT_EQ(sk::snapshot().records.back().sender, link);
    EXPECT_EQ(skypeTells("USERSTATUS ONLINE"), 1) << "the link takes what the known Skype tells it";

    EXPECT_EQ(standin::countMessages(standin::Window::Main, attachMessage()), 0u);
    EXPECT_EQ(standin::countMessages(standin::Window::Main, WM_COPYDATA), 0u);
}

TEST_F(SearchingTest, BroadcastsAtEveryTickAndDropsCommands) {
    EXPECT_EQ(sk::snapshot().discovers, 1u);
    const std::size_t hostSaw = standin::countMessages(standin::Window::Main, discoverMessage());
    ASSERT_NO_FATAL_FAILURE(expectTicks("BBB"));
    EXPECT_EQ(sk::snapshot().discovers, 4u);
    // The broadcast reaches the player's own window too and is handed on.
    EXPECT_EQ(standin::countMessages(standin::Window::Main, discoverMessage()), hostSaw + 3);

    EXPECT_TRUE(songStarts().empty());
    EXPECT_EQ(commandSends(), 0u) << "with no Skype known, a command is dropped unsent";
}

TEST_F(SearchingTest, DiscoveryBacksOffWhileNothingAnswers) {
    EXPECT_EQ(discoverBroadcasts(), 1u) << "at init";
    ASSERT_NO_FATAL_FAILURE(expectTicks(kFirstMinute));
    ASSERT_NO_FATAL_FAILURE(expectTicks(kPatientMinute));

    // Skype announces its API: discovered at once, and eagerly again.
    ASSERT_EQ(sk::sendAttach(sk::kAttachApiAvailable).result, 1);
    EXPECT_TRUE(broadcastsMade(16));
    ASSERT_NO_FATAL_FAILURE(expectTicks(kFirstMinute));
    ASSERT_NO_FATAL_FAILURE(expectTicks(".....B"));

    // Skype starts again and asks its user whether to let the player in:
    // asked at every tick, for as long as it answers so.
    sk::setAnswer(sk::AnswerMode::Immediate, sk::kAttachPendingAuthorization);
    const std::size_t before = discoverBroadcasts();
    ASSERT_EQ(sk::sendAttach(sk::kAttachApiAvailable).result, 1);
    EXPECT_TRUE(broadcastsMade(before + 1));
    ASSERT_NO_FATAL_FAILURE(expectTicks("BBBBBBBB"));
    // The user closes Skype instead of answering: the search backs off again.
    sk::setAnswer(sk::AnswerMode::None);
    ASSERT_NO_FATAL_FAILURE(expectTicks(std::string("B") + kFirstMinute + kPatientMinute));
}

// Skype may be answering the broadcast on its way: a tick due meanwhile waits
// for its return, and Skype's answer, read by then, spares the broadcast.
TEST_F(SearchingTest, ATickWhileTheBroadcastIsOnItsWayWaitsForItsReturn) {
    sk::setAnswer(sk::AnswerMode::Posted); // read once the broadcast is back
    holdBroadcasts(true);
    discoveryTick();
    ASSERT_TRUE(sk::pumpUntil([] { return sendsInFlight() == 1; }));
    discoveryTick(); // due, and nothing attached
    holdBroadcasts(false);
    settleSkypeLinkUnread();
    EXPECT_EQ(discoverBroadcasts(), 2u) << "a broadcast left before the return was read";
    settleSkypeLink();
    EXPECT_EQ(discoverBroadcasts(), 2u);
    EXPECT_EQ(skypeTexts(), std::vector<std::string>{kProtocolCommand});
}

// A Skype that attached, then failed a command, is looked for again eagerly,
// however long the player searched before it came.
TEST_F(SearchingTest, AFailedSendStartsDiscoveryOver) {
    ASSERT_NO_FATAL_FAILURE(expectTicks(kFirstMinute));
    ASSERT_NO_FATAL_FAILURE(expectTicks(kPatientMinute));
    ASSERT_EQ(sk::sendAttach(sk::kAttachSuccess).result, 1);
    ASSERT_EQ(skypeTextsSettled(0, 1).back(), kProtocolCommand);

    sk::setCopyDataResult(0);
    ASSERT_EQ(songStarts(1), std::vector<std::string>{kFirstSongMood});
    sk::setCopyDataResult(1);
    ASSERT_NO_FATAL_FAILURE(expectTicks(kFirstMinute));
    ASSERT_NO_FATAL_FAILURE(expectTicks(".....B"));
}

// ---- Attach replies ------------------------------------------------------------------

class AttachStatusTest : public SearchingTest, public testing::WithParamInterface<LONG> {};

TEST_P(AttachStatusTest, IsAnsweredOneAndOnlySuccessGivesAWindow) {
    const LONG status = GetParam();
    const bool success = status == sk::kAttachSuccess;
    const sk::Outcome outcome = sk::sendAttach(status);
    ASSERT_TRUE(outcome.completed && outcome.delivered);
    EXPECT_EQ(outcome.result, 1);
    // Skype's API becoming available is worth a discovery at once.
    const bool available = status == sk::kAttachApiAvailable;
    if (available) {
        EXPECT_TRUE(broadcastsMade(2));
    }
    if (success) {
        EXPECT_TRUE(sessionsOpened(1));
    }
    settleSkypeLink();
    EXPECT_EQ(standin::countMessages(standin::Window::Main, attachMessage()), 0u)
        << "an Attach reply must never reach the player";
    EXPECT_EQ(discoverBroadcasts(), available ? 2u : 1u);
    EXPECT_EQ(songStarts(success ? 1 : 0),
              success ? std::vector<std::string>{kFirstSongMood} : std::vector<std::string>{});
    tickAndSettle();
    EXPECT_EQ(discoverBroadcasts(), (success ? 1u : 2u) + (available ? 1u : 0u));
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
    if (later.rediscovers) {
        EXPECT_TRUE(sessionsOpened(2));
    }
    settleSkypeLink();
    EXPECT_EQ(discoverBroadcasts(), later.rediscovers ? 2u : 1u);
    const bool known = !later.forgets || later.rediscovers;
    EXPECT_EQ(songStarts(known ? 1 : 0).size(), known ? 1u : 0u);
    discoveryTick();
    if (later.forgets) {
        EXPECT_TRUE(sessionsOpened(2));
    }
    settleSkypeLink();
    EXPECT_EQ(discoverBroadcasts(), later.forgets ? 2u : 1u);
    EXPECT_EQ(songStarts(1), std::vector<std::string>{kFirstSongMood});
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
    const HWND other = sk::snapshot().otherWindow;
    const sk::Outcome outcome =
        sk::waitFor(sk::requestAttach(sk::kAttachSuccess, sk::Sender::Other));
    ASSERT_TRUE(outcome.completed && outcome.delivered);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_TRUE(sk::pumpUntil(
        [other] { return !sendsTo(other, WM_COPYDATA).empty() && sendsInFlight() == 0; }));
    settleSkypeLink();

    // The other window does not speak the API: the protocol command that
    // opens the session fails there, and the window is forgotten at once.
    const auto toOther = sendsTo(other, WM_COPYDATA);
    ASSERT_EQ(toOther.size(), 1u);
    EXPECT_EQ(toOther[0].result, 1u) << "the send went through; its answer was 0";
    const std::size_t sends = commandSends();
    EXPECT_TRUE(songStarts().empty());
    EXPECT_EQ(commandSends(), sends);

    discoveryTick();
    EXPECT_TRUE(sessionsOpened(2));
    settleSkypeLink();
    EXPECT_EQ(sk::snapshot().discovers, 2u);
    EXPECT_EQ(songStarts(1), std::vector<std::string>{kFirstSongMood});
}

// Whatever way the reply comes, the session opens with the protocol and the
// song that plays, once.
class AttachAtInitTest : public SessionTest, public testing::WithParamInterface<sk::AnswerMode> {
  protected:
    AttachAtInitTest() {
        stage_.playing = true;
        stage_.skype.answerMode = GetParam();
    }
};

TEST_P(AttachAtInitTest, PublishesWhatPlaysOnce) {
    EXPECT_EQ(skypeTextsSettled(0, 2),
              (std::vector<std::string>{kProtocolCommand, kFirstSongMood}));
    standin::sendStatusChanged();
    settleSkypeLink();
    EXPECT_EQ(sk::recordCount(), 2u) << "Playing was recorded";
}

std::string answerName(const testing::TestParamInfo<sk::AnswerMode>& info) {
    switch (info.param) {
    case sk::AnswerMode::Immediate:
        return "Immediate";
    case sk::AnswerMode::Deferred:
        return "Deferred";
    case sk::AnswerMode::Posted:
        return "Posted";
    case sk::AnswerMode::None:
        break;
    }
    return "None";
}

INSTANTIATE_TEST_SUITE_P(EveryAnswer, AttachAtInitTest,
                         testing::Values(sk::AnswerMode::Immediate, sk::AnswerMode::Deferred,
                                         sk::AnswerMode::Posted),
                         answerName);

// ---- Order -------------------------------------------------------------------------

class SongBurstTest : public SessionTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        options.titles.clear();
        for (int i = 1; i <= kSongs; ++i)
            options.titles.push_back("Song " + std::to_string(i));
    }
    static constexpr int kSongs = 8;
};

// The player composes faster than a slow Skype reads: moods that were
// superseded before they could leave are dropped, the rest arrive in the
// order composed, and the last song's mood is what Skype ends up with.
TEST_F(SongBurstTest, IntoASlowSkypeEndsWithTheLastSong) {
    std::vector<std::string> composed;
    for (int i = 1; i <= kSongs; ++i)
        composed.push_back(moodOf("Song " + std::to_string(i)));
    const std::size_t first = sk::recordCount();
    sk::setCopyDataHang(kSlowSkypeMs);
    playSong(0);
    ASSERT_TRUE(waitForSkypeRecords(first + 1));
    for (int i = 1; i < kSongs; ++i)
        playSong(i);
    sk::setCopyDataHang(0);
    ASSERT_TRUE(sk::pumpUntil([&] { return sk::snapshot().mood.text == "Song 8"; }));
    settleSkypeLink();

    const std::vector<std::string> received = skypeTexts(first);
    const std::vector<int> order = positionsIn(composed, received);
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front(), 0);
    EXPECT_EQ(order.back(), kSongs - 1);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()) &&
                std::adjacent_find(order.begin(), order.end()) == order.end())
        << "every mood once, in the order composed";
    EXPECT_LT(received.size(), composed.size()) << "superseded moods are dropped";
    EXPECT_EQ(sk::snapshot().mood.text, "Song 8");
}

// PROTOCOL 7 opens every session before its mood, also when Skype attaches
// again while moods of the session before are still on their way.
TEST_F(SessionTest, EveryAttachSendsTheProtocolBeforeItsMood) {
    standin::setPlayState(standin::PlayState::Playing);
    for (int position : {1, 2, 0}) {
        SCOPED_TRACE(position);
        const std::size_t played = sk::recordCount();
        playSong(position);
        ASSERT_EQ(skypeTextsSettled(played, 1).size(), 1u);
        const std::size_t first = sk::recordCount();
        ASSERT_EQ(sk::sendAttach(sk::kAttachSuccess).result, 1);
        EXPECT_EQ(
            skypeTextsSettled(first, 2),
            (std::vector<std::string>{kProtocolCommand, moodOf(standin::titles()[position])}));
    }

    const std::size_t first = sk::recordCount();
    sk::setCopyDataHang(kSlowSkypeMs);
    playSong(1);
    ASSERT_TRUE(waitForSkypeRecords(first + 1));
    playSong(2); // waits behind the mood Skype is reading
    EXPECT_EQ(SendMessageA(skypeLink(), attachMessage(),
                           reinterpret_cast<WPARAM>(sk::skypeWindow()), sk::kAttachSuccess),
              1);
    sk::setCopyDataHang(0);
    const std::vector<std::string> received = skypeTextsSettled(first, 3);
    ASSERT_GE(received.size(), 3u);
    EXPECT_EQ(received.front(), moodOf("Second Song"));
    EXPECT_EQ(std::vector<std::string>(received.end() - 2, received.end()),
              (std::vector<std::string>{kProtocolCommand, moodOf("Third Song")}));
}

// ---- Failed sends ---------------------------------------------------------------------

TEST_F(SessionTest, AFailedSendForgetsTheWindowUntilTheNextTick) {
    sk::setCopyDataResult(0);
    EXPECT_EQ(songStarts(1).size(), 1u) << "Skype received it but answered 0";
    EXPECT_TRUE(songStarts().empty());
    // The session's protocol command, then the mood answered 0.
    EXPECT_EQ(sendsTo(sk::skypeWindow(), WM_COPYDATA).size(), 2u);
    EXPECT_EQ(commandSends(), 2u);

    sk::setCopyDataResult(1);
    discoveryTick();
    EXPECT_TRUE(sessionsOpened(2));
    settleSkypeLink();
    EXPECT_EQ(discoverBroadcasts(), 2u);
    EXPECT_EQ(songStarts(1), std::vector<std::string>{kFirstSongMood});
}

// A hung Skype holds neither the player nor what comes after: the send that
// meets it gives up at the bound, the window and what waited for it are
// dropped, and the next tick finds Skype again with the song that plays.
TEST_F(SessionTest, AHungSkypeIsForgottenWithWhatWaitedForIt) {
    standin::setPlayState(standin::PlayState::Playing);
    const std::size_t first = sk::recordCount();
    sk::holdCopyData(true);
    playSong(1);
    ASSERT_TRUE(waitForSkypeRecords(first + 1));
    EXPECT_EQ(sendsInFlight(), 1) << "the player goes on while the send waits";
    playSong(2);
    ASSERT_TRUE(waitForTimedOutCommand(0)) << "the send must give up";
    sk::holdCopyData(false);
    EXPECT_EQ(skypeTextsSettled(first), std::vector<std::string>{moodOf("Second Song")});
    const auto toSkype = sendsTo(sk::skypeWindow(), WM_COPYDATA);
    ASSERT_EQ(toSkype.size(), 2u) << "the protocol command, then the mood";
    EXPECT_TRUE(toSkype[1].args[4] & SMTO_ABORTIFHUNG);
    EXPECT_EQ(toSkype[1].args[5], kSkypeBoundMs);

    EXPECT_TRUE(songStarts().empty());
    EXPECT_EQ(commandSends(), 2u) << "no second wait";

    discoveryTick();
    EXPECT_EQ(
        skypeTextsSettled(first, 3),
        (std::vector<std::string>{moodOf("Second Song"), kProtocolCommand, moodOf("Third Song")}));
    EXPECT_EQ(sk::snapshot().discovers, 2u);
}

// The send that fails forgets the window it went to, not a Skype that
// attached while it waited.
TEST_F(SessionTest, AFailedSendForgetsOnlyTheWindowItWentTo) {
    standin::setPlayState(standin::PlayState::Playing);
    OtherSkype other;
    ASSERT_NE(other.window(), nullptr);
    const std::size_t first = sk::recordCount();
    sk::holdCopyData(true);
    playSong(1);
    ASSERT_TRUE(waitForSkypeRecords(first + 1));
    EXPECT_EQ(SendMessageA(skypeLink(), attachMessage(), reinterpret_cast<WPARAM>(other.window()),
                           sk::kAttachSuccess),
              1);
    ASSERT_TRUE(waitForTimedOutCommand(0)) << "the send to the hung Skype gave up";
    sk::holdCopyData(false);
    ASSERT_TRUE(sk::pumpUntil([] { return OtherSkype::texts().size() >= 2; }));
    settleSkypeLink();
    EXPECT_EQ(OtherSkype::texts(),
              (std::vector<std::string>{kProtocolCommand, moodOf("Second Song")}));

    playSong(2);
    ASSERT_TRUE(sk::pumpUntil([] { return OtherSkype::texts().size() >= 3; }));
    settleSkypeLink();
    EXPECT_EQ(OtherSkype::texts().back(), moodOf("Third Song"));
    EXPECT_EQ(skypeTexts(first), std::vector<std::string>{moodOf("Second Song")});
    tickAndSettle();
    EXPECT_EQ(discoverBroadcasts(), 1u) << "a Skype is known: nothing to look for";
}

TEST_F(SessionTest, SkypeLeavesAndComesBack) {
    const HWND gone = sk::skypeWindow();
    ASSERT_TRUE(sk::waitFor(sk::requestLeave()).delivered);

    EXPECT_TRUE(songStarts().empty());
    tickAndSettle();
    EXPECT_EQ(discoverBroadcasts(), 2u);
    EXPECT_TRUE(songStarts().empty());
    EXPECT_EQ(sendsTo(gone, WM_COPYDATA).size(), 2u)
        << "the protocol command, then only the first mood meets it";
    EXPECT_EQ(commandSends(), 2u);

    ASSERT_TRUE(sk::waitFor(sk::requestReturn()).delivered);
    discoveryTick();
    EXPECT_TRUE(sessionsOpened(2));
    settleSkypeLink();
    EXPECT_EQ(sk::snapshot().discovers, 2u);
    EXPECT_EQ(songStarts(1), std::vector<std::string>{kFirstSongMood});
    EXPECT_EQ(sendsTo(sk::skypeWindow(), WM_COPYDATA).size(), 2u);
}

// ---- Skype's notifications -----------------------------------------------------------

class RingWhileReadingTest : public SessionTest {
  protected:
    RingWhileReadingTest() {
        stage_.playing = true;
        // No tray icon: the shell call could let the ringing in first.
        stage_.ini = "[Tralmo]\nTRALMO_STOP_MUSIC=1\nTRALMO_SHOW_TRAYICON=0\n"
                     "TRALMO_USER_STRING=[%title%] [%state%]\n";
    }
};

// A call rings while Skype still reads the song's mood: the ringing is
// answered, the music pauses, and Skype ends with the paused mood after the
// playing one.
TEST_F(RingWhileReadingTest, PausesAndPublishesThePauseAfterTheSong) {
    const std::size_t first = sk::recordCount();
    sk::setCopyDataHang(kSlowSkypeMs / 2);
    const sk::RequestId ring =
        sk::requestNotification(sk::textNotification("CALL 7 STATUS RINGING"));
    ASSERT_TRUE(sentMessageQueued());
    standin::sendSongStarted();
    ASSERT_TRUE(skypeHoldsUnread(first + 1));
    const sk::Outcome rang = sk::waitFor(ring);
    sk::setCopyDataHang(0);
    ASSERT_TRUE(rang.completed && rang.delivered);
    EXPECT_EQ(rang.result, 1);
    standin::pumpPending(); // the pause's status callback is posted

    EXPECT_EQ(skypeTextsSettled(first, 2), (std::vector<std::string>{moodOf("First Song playing"),
                                                                     moodOf("First Song paused")}));
    EXPECT_EQ(standin::playState(), standin::PlayState::Paused);
    EXPECT_EQ(standin::countCommands(standin::Window::Main, host::kCommandPause), 1u);
    EXPECT_EQ(standin::countMessages(standin::Window::Main, WM_COPYDATA), 0u);

    tickAndSettle();
    EXPECT_EQ(discoverBroadcasts(), 1u) << "both sends succeeded";
}

} // namespace
