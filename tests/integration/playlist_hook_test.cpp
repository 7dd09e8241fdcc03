// The playlist window's right-click pick and command 1000: a message box with
// the chat command, then the command itself to Skype.
#include "harness.h"

#include <functional>

namespace {

namespace sk = standin_skype;

constexpr unsigned kChatCommand = 1000;
constexpr char kChatText[] = "CHAT CREATE dorvenak";
// The list area's insets in the playlist's client rectangle, and the lift of
// the point that is tested above the one the button came up at.
constexpr int kInsetLeft = 12;
constexpr int kInsetTop = 18;
constexpr int kInsetRight = 19;
constexpr int kInsetBottom = 40;
constexpr int kLift = 2;

struct Box {
    HWND owner;
    std::string text;
    bool nullCaption;
    std::size_t skypeRecordsThen;
};

class PlaylistHookTest : public BesideSkypeTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        options.titles.clear();
        for (int i = 0; i < 11; ++i)
            options.titles.push_back("Song " + std::to_string(i));
    }

    void SetUp() override {
        BesideSkypeTest::SetUp();
        onMessageBox([this](HWND owner, const char* text, const char* caption) {
            boxes_.push_back({owner, text ? text : "", caption == nullptr, skypeCommandCount()});
            if (whileBoxIsOpen_)
                whileBoxIsOpen_();
        });
    }

    RECT client() const {
        RECT rect{};
        GetClientRect(playlist(), &rect);
        return rect;
    }

    // WM_RBUTTONUP at a client point; returns how many index queries it made.
    std::size_t rightClick(int x, int y) {
        const std::size_t before = standin::countPlaylistQueries(host::kPlaylistQueryIndexAt);
        SendMessageA(playlist(), WM_RBUTTONUP, 0, MAKELPARAM(x, y));
        return standin::countPlaylistQueries(host::kPlaylistQueryIndexAt) - before;
    }
    // A right-click whose tested point lies in the middle of the row.
    void pickRow(int row) {
        const POINT point = standin::playlistRowPoint(row);
        ASSERT_EQ(rightClick(point.x, point.y + kLift), 1u);
    }
    void command(WORD high = 0) {
        SendMessageA(playlist(), WM_COMMAND, MAKEWPARAM(kChatCommand, high), 0);
    }

    // The chats Skype holds once `expected` have come (or a safety bound
    // passed) and the link has nothing more on its way.
    static std::size_t chatsReachingSkype(std::size_t expected) {
        waitForSkypeToHear(kChatText, expected);
        settleSkypeLink();
        return skypeHeard(kChatText);
    }

    std::vector<Box> boxes_;
    std::function<void()> whileBoxIsOpen_;
};

TEST_F(PlaylistHookTest, PickThenCommandShowsTheBoxThenSendsTheChat) {
    pickRow(3);
    const auto query = standin::lastMessage(standin::Window::Playlist, host::kWmUser);
    ASSERT_TRUE(query.has_value());
    EXPECT_EQ(query->result, 3);

    command(1); // the high word does not matter
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].owner, host());
    EXPECT_EQ(boxes_[0].text, kChatText);
    EXPECT_TRUE(boxes_[0].nullCaption);
    EXPECT_EQ(boxes_[0].skypeRecordsThen, 0u) << "the box comes first";
    const auto box = recordedCalls({"MessageBoxA"});
    ASSERT_EQ(box.size(), 1u);
    EXPECT_EQ(box[0].args[2], static_cast<DWORD_PTR>(MB_OK));

    ASSERT_EQ(chatsReachingSkype(1), 1u);
    const auto records = skypeCommands();
    ASSERT_EQ(records.size(), 1u);
    const std::vector<unsigned char> expected(kChatText, kChatText + sizeof kChatText);
    EXPECT_EQ(records[0].bytes, expected);
    EXPECT_EQ(records[0].cbData, 21u);
    EXPECT_EQ(records[0].dwData, 0u);
    EXPECT_EQ(records[0].sender, skypeLink());

    // Both messages went on to the playlist's own procedure.
    EXPECT_EQ(standin::countMessages(standin::Window::Playlist, WM_RBUTTONUP), 1u);
    EXPECT_EQ(standin::countCommands(standin::Window::Playlist, kChatCommand), 1u);
}

TEST_F(PlaylistHookTest, ListAreaEdges) {
    const RECT rect = client();
    const int midX = (rect.left + rect.right) / 2;
    const int midY = (rect.top + rect.bottom) / 2;
    struct Probe {
        int x, y;
        bool inside;
    };
    const Probe probes[] = {
        {rect.left + kInsetLeft, midY, true},
        {rect.left + kInsetLeft - 1, midY, false},
        {5, midY, false},
        {midX, rect.top + kInsetTop + kLift, true},
        {midX, rect.top + kInsetTop + kLift - 1, false},
        {rect.right - kInsetRight - 1, midY, true},
        {rect.right - kInsetRight, midY, false},
        {midX, rect.bottom - kInsetBottom + kLift - 1, true},
        {midX, rect.bottom - kInsetBottom + kLift, false},
    };
    for (const Probe& probe : probes) {
        SCOPED_TRACE("x " + std::to_string(probe.x) + " y " + std::to_string(probe.y));
        ASSERT_EQ(rightClick(probe.x, probe.y), probe.inside ? 1u : 0u);
        if (!probe.inside)
            continue;
        const auto query = standin::lastMessage(standin::Window::Playlist, host::kWmUser);
        EXPECT_EQ(query->point.x, probe.x);
        EXPECT_EQ(query->point.y, probe.y - kLift);
    }
}

TEST_F(PlaylistHookTest, FirstRowIsTestedTwoPixelsHigher) {
    ASSERT_EQ(rightClick(100, 20), 1u);
    const auto query = standin::lastMessage(standin::Window::Playlist, host::kWmUser);
    EXPECT_EQ(query->point.y, 18);
    EXPECT_EQ(query->result, 0);
    command();
    EXPECT_EQ(chatsReachingSkype(1), 1u);
}

TEST_F(PlaylistHookTest, ClickOutsideKeepsAnEarlierPick) {
    pickRow(2);
    const POINT row = standin::playlistRowPoint(0);
    EXPECT_EQ(rightClick(5, row.y + kLift), 0u);
    command();
    EXPECT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(chatsReachingSkype(1), 1u);
}

// The host answers the entry count below the last entry: a pick, but of none.
TEST_F(PlaylistHookTest, ClickInTheAreaBelowTheEntriesPicksNothing) {
    pickRow(2);
    const POINT below = standin::playlistRowPoint(12);
    ASSERT_EQ(rightClick(below.x, below.y + kLift), 1u);
    EXPECT_EQ(standin::lastMessage(standin::Window::Playlist, host::kWmUser)->result, 11);
    command();
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(PlaylistHookTest, CommandWithoutAPickOnlyReachesThePlaylist) {
    command();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(standin::countPlaylistQueries(host::kPlaylistQueryCount), 0u);
    settleSkypeLink();
    EXPECT_EQ(skypeCommandCount(), 0u);
    const auto passed = standin::lastMessage(standin::Window::Playlist, WM_COMMAND);
    ASSERT_TRUE(passed.has_value());
    EXPECT_EQ(LOWORD(passed->wParam), kChatCommand);
}

TEST_F(PlaylistHookTest, PickBeyondAShrunkPlaylistWaits) {
    pickRow(10);
    auto titles = standin::titles();
    titles.pop_back();
    standin::setTitles(titles);
    command();
    EXPECT_EQ(standin::countPlaylistQueries(host::kPlaylistQueryCount), 1u);
    EXPECT_TRUE(boxes_.empty());

    titles.push_back("Back again");
    standin::setTitles(titles);
    command();
    EXPECT_EQ(boxes_.size(), 1u) << "the pick stayed recorded";
    EXPECT_EQ(chatsReachingSkype(1), 1u);
}

TEST_F(PlaylistHookTest, OneChatPerPick) {
    pickRow(1);
    // A command arriving while the box is open finds the pick already used.
    whileBoxIsOpen_ = [this] {
        whileBoxIsOpen_ = nullptr;
        command();
    };
    command();
    command();
    EXPECT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(chatsReachingSkype(1), 1u);
    EXPECT_EQ(standin::countCommands(standin::Window::Playlist, kChatCommand), 3u);

    pickRow(1);
    command();
    EXPECT_EQ(chatsReachingSkype(2), 2u);
}

class PlaylistHookUnattachedTest : public PlaylistHookTest {
  protected:
    PlaylistHookUnattachedTest() { stage_.skype.answerMode = sk::AnswerMode::None; }
};

// No Skype window is known: the box still shows, and the chat is dropped
// rather than sent to nobody.
TEST_F(PlaylistHookUnattachedTest, BoxStillShowsAndNothingIsSent) {
    pickRow(0);
    clearRecordedCalls();
    command();
    EXPECT_EQ(boxes_.size(), 1u);
    settleSkypeLink();
    for (const ApiCall& call : recordedCalls({"SendMessageTimeoutA"}))
        EXPECT_NE(call.args[1], static_cast<DWORD_PTR>(WM_COPYDATA)) << "a command was sent";
    EXPECT_EQ(sk::recordCount(), 0u);
}

} // namespace
