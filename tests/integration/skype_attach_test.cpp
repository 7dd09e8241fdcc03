// Every attach as Skype sees it: the protocol the session opens with, the song
// published whatever the play state did, what each later status does to the
// session, and how long any wait on Skype may last. The plug-in sends from a
// thread of its own: each story waits for what Skype ends up with.
#include "harness.h"

namespace {

namespace sk = standin_skype;
using standin::PlayState;

constexpr UINT kSkypeBoundMs = 1000;
constexpr char kTemplate[] = "[Tralmo]\nTRALMO_USER_STRING=[%title%] [%state%]\n";
constexpr char kRich[] = "SET PROFILE RICH_MOOD_TEXT ";

class AttachTest : public BesideSkypeTest {
  protected:
    AttachTest() {
        stage_.ini = kTemplate;
        stage_.manualTicks = true;
    }

    // What Skype received from here on, once `awaited` records came and the
    // link fell quiet.
    std::vector<std::string> received(std::size_t awaited = 0) const {
        return skypeTextsSettled(seen_, awaited);
    }
    void forget() { seen_ = sk::recordCount(); }

    // The host's play state changes, and the `awaited` records that sends
    // have reached Skype.
    static void statusChangesTo(PlayState state, std::size_t awaited = 0) {
        const std::size_t first = sk::recordCount();
        standin::setPlayState(state, standin::Notify::StatusChanged);
        standin::pumpPending(); // the host posts the status callback
        skypeTextsSettled(first, awaited);
    }

    std::size_t seen_ = 0;
};

TEST_F(AttachTest, EverySessionOpensWithTheProtocol) {
    const auto records = sk::snapshot().records;
    ASSERT_FALSE(records.empty());
    const sk::CopyDataRecord& first = records[0];
    EXPECT_EQ(first.text(), kProtocolCommand);
    EXPECT_EQ(first.cbData, sizeof kProtocolCommand) << "its bytes and one terminating zero";
    EXPECT_TRUE(first.terminated());
    EXPECT_EQ(first.dwData, 0u);
    EXPECT_EQ(first.sender, skypeLink());

    // Another Success, even from the same window, is a new session.
    forget();
    ASSERT_EQ(sk::sendAttach(sk::kAttachSuccess).result, 1);
    EXPECT_EQ(received(1), std::vector<std::string>{kProtocolCommand});
}

struct PublishCase {
    const char* name;
    PlayState state;
    std::vector<std::string> afterProtocol;
};

class AttachPublishTest : public AttachTest, public testing::WithParamInterface<PublishCase> {
  protected:
    AttachPublishTest() { stage_.skype.answerMode = sk::AnswerMode::None; }
};

// A Skype that answers late (or restarts, or the user allows access later)
// has nothing of ours: the attach publishes what plays, changed or not.
TEST_P(AttachPublishTest, TheSongGoesOutAtEveryAttach) {
    statusChangesTo(GetParam().state);
    for (int attach = 0; attach < 2; ++attach) {
        SCOPED_TRACE(attach);
        forget();
        ASSERT_EQ(sk::sendAttach(sk::kAttachSuccess).result, 1);
        std::vector<std::string> expected{kProtocolCommand};
        for (const std::string& mood : GetParam().afterProtocol)
            expected.push_back(kRich + mood);
        EXPECT_EQ(received(expected.size()), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, AttachPublishTest,
    testing::Values(PublishCase{"Playing", PlayState::Playing, {"First Song playing"}},
                    PublishCase{"Paused", PlayState::Paused, {"First Song paused"}},
                    PublishCase{"Stopped", PlayState::Stopped, {}}),
    [](const testing::TestParamInfo<PublishCase>& info) { return info.param.name; });

TEST_F(AttachTest, AStoppedHostPublishesOnlyAChange) {
    statusChangesTo(PlayState::Playing, 1);
    standin::setPlayState(PlayState::Stopped);
    forget();
    ASSERT_EQ(sk::sendAttach(sk::kAttachSuccess).result, 1);
    EXPECT_EQ(received(2), (std::vector<std::string>{kProtocolCommand,
                                                     kRich + std::string("First Song stopped")}));
    forget();
    ASSERT_EQ(sk::sendAttach(sk::kAttachSuccess).result, 1);
    EXPECT_EQ(received(1), std::vector<std::string>{kProtocolCommand});
}

// The user logs out (status 3 to us), later logs in again: Skype tells every
// window its API is available, and the session is back with the song.
TEST_F(AttachTest, LogOutForgetsTheWindowAndLogInRepublishes) {
    statusChangesTo(PlayState::Playing, 1);
    ASSERT_EQ(sk::sendAttach(sk::kAttachNotAvailable).result, 1);
    forget();
    standin::sendSongStarted();
    EXPECT_TRUE(received().empty()) << "nothing goes to a logged-out Skype";

    const unsigned discovers = sk::snapshot().discovers;
    ASSERT_EQ(sk::sendAttach(sk::kAttachApiAvailable).result, 1);
    EXPECT_EQ(received(2), (std::vector<std::string>{kProtocolCommand,
                                                     kRich + std::string("First Song playing")}));
    EXPECT_EQ(sk::snapshot().discovers, discovers + 1)
        << "discovered at once, not at the next tick";
}

// Refusal and log-out speak for the window that sends them; the user still
// deciding changes nothing.
TEST_F(AttachTest, RefusalMattersOnlyFromTheKnownWindow) {
    for (LONG status : {sk::kAttachRefused, sk::kAttachNotAvailable}) {
        SCOPED_TRACE(status);
        ASSERT_EQ(sk::waitFor(sk::requestAttach(status, sk::Sender::Other)).result, 1);
        forget();
        standin::sendSongStarted();
        EXPECT_EQ(received(1).size(), 1u);
    }
    ASSERT_EQ(sk::sendAttach(sk::kAttachPendingAuthorization).result, 1);
    forget();
    standin::sendSongStarted();
    EXPECT_EQ(received(1).size(), 1u);

    ASSERT_EQ(sk::sendAttach(sk::kAttachRefused).result, 1);
    forget();
    standin::sendSongStarted();
    EXPECT_TRUE(received().empty()) << "a window that refused is not sent to";
    tickAndSettle();
    EXPECT_TRUE(sk::pumpUntil([] { return sk::snapshot().discovers == 2; }))
        << "the next tick looks again";
}

TEST_F(AttachTest, EveryWaitOnSkypeIsBoundedAtOneSecond) {
    forget();
    standin::sendSongStarted();
    ASSERT_EQ(received(1).size(), 1u);
    const auto sends = recordedCalls({"SendMessageTimeoutA"});
    std::size_t broadcasts = 0;
    std::size_t commands = 0;
    for (const ApiCall& call : sends) {
        if (call.args[0] == reinterpret_cast<DWORD_PTR>(HWND_BROADCAST))
            ++broadcasts;
        else if (call.args[1] == WM_COPYDATA)
            ++commands;
        else
            continue;
        EXPECT_EQ(call.args[5], kSkypeBoundMs);
        EXPECT_TRUE(call.args[4] & SMTO_ABORTIFHUNG);
    }
    EXPECT_EQ(broadcasts, 1u);
    EXPECT_EQ(commands, 2u) << "the protocol and the mood";
}

} // namespace
