// What the plug-in does when things go wrong around it: the host runs out of
// memory, the user clicks faster than the player's thread, the shell restarts
// its notification area, a menu is left open.
#include "harness.h"
#include "resources/resource.h"

namespace {

namespace sk = standin_skype;

constexpr char kTaskbarCreated[] = "TaskbarCreated";
constexpr UINT kFullFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

std::vector<ApiCall> shellCalls() {
    return recordedCalls({"Shell_NotifyIconA"});
}

// Each story starts with Skype attached and the playing song's mood published.
class ResilienceTest : public BesideSkypeTest {
  protected:
    ResilienceTest() { stage_.playing = true; }
    void prepare() override {
        BesideSkypeTest::prepare();
        fakeWindowsVersion(5, 1);
    }
};

// ---- Out of memory ----------------------------------------------------------

// Titles too long for a string's own small buffer, so copying one allocates.
const std::vector<std::string> kLongTitles = {std::string(100, 'a'), std::string(100, 'b')};

TEST_F(ResilienceTest, RunningOutOfMemoryNeverTakesTheHostDown) {
    standin::setTitles(kLongTitles);
    const std::size_t before = skypeCommandCount();
    failAllocations(true);

    // A song start: the composition fails, the host still gets its callback.
    standin::clearLog();
    EXPECT_EQ(sendToHost(WM_USER, 0, host::kCallbackSongStarted), 0);
    EXPECT_EQ(standin::countQueries(host::kCallbackSongStarted), 1u);
    settleSkypeLink();
    EXPECT_EQ(skypeCommandCount(), before);

    // A dialog that cannot read its texts still opens and closes.
    {
        DialogScript script;
        script.then([](HWND dialog) { clickButton(dialog, IDCANCEL); });
        sendToHost(WM_COMMAND, IDM_OPTIONS, 0);
        EXPECT_EQ(script.actionsRun(), 1);
    }
    // Skype's reply is still answered, and its notifications still taken.
    EXPECT_EQ(sk::sendAttach(sk::kAttachSuccess).result, 1);
    EXPECT_EQ(skypeTells("CALL 3 STATUS ROUTING"), 1);

    failAllocations(false);
    standin::sendSongStarted();
    EXPECT_TRUE(waitForLastSkypeCommand("SET PROFILE RICH_MOOD_TEXT " + kLongTitles[0]))
        << "the plug-in works on once memory is back";
}

TEST_F(ResilienceTest, QuitOutOfMemoryStillUnhooksAndSaves) {
    standin::setTitles(kLongTitles);
    sendToHost(WM_COMMAND, IDM_STOP_ON_CALL, 0);
    failAllocations(true);
    ASSERT_TRUE(standin::quitPlugin());
    failAllocations(false);
    EXPECT_TRUE(standin::ownsWindowProc(standin::Window::Main));
    EXPECT_TRUE(standin::ownsWindowProc(standin::Window::Playlist));
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_STOP_MUSIC"), "1");
}

class OutOfMemoryAtInitTest : public ResilienceTest {
  protected:
    OutOfMemoryAtInitTest() {
        stage_.ini = "[Tralmo]\nTRALMO_ACTIVE=0\nTRALMO_STOP_MUSIC=1\n";
        stage_.quietLink = false; // no link can be made without memory
    }
    void prepare() override {
        ResilienceTest::prepare();
        failAllocations(true);
    }
};

// Settings that could not be read must not be written back over the user's.
TEST_F(OutOfMemoryAtInitTest, SettingsNeverReadAreNeverWritten) {
    failAllocations(false);
    EXPECT_FALSE(standin::ownsWindowProc(standin::Window::Main)) << "init hooked all the same";
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_ACTIVE"), "0");
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_STOP_MUSIC"), "1");
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_SHOW_TRAYICON", "missing"), "missing");
}

// ---- Clicks and menus -------------------------------------------------------

// The popup shows only once its loop is idle, so clicks queued while the
// player was busy reach the hook before it is shown.
TEST_F(ResilienceTest, ClicksQueuedWhileBusyOpenOnePopup) {
    DialogScript script;
    script.then([](HWND popup) {
        EXPECT_EQ(visibleDialogs().size(), 1u);
        SendMessageA(popup, WM_COMMAND, IDCANCEL, 0);
    });
    PostMessageA(host(), kMainTrayCallback, 0, WM_LBUTTONDOWN);
    PostMessageA(host(), kMainTrayCallback, 0, WM_LBUTTONDOWN);
    // The player logs a click once the hook has handled it, popups and all.
    ASSERT_TRUE(standin::pumpUntil(
        [] {
            return standin::countMessages(standin::Window::Main, kMainTrayCallback) == 2 &&
                   visibleDialogs().empty();
        },
        5000))
        << "both clicks reach the player";
    standin::pumpPending(); // whatever the clicks left queued
    EXPECT_EQ(script.actionsRun(), 1);

    // Once the popup has closed, the next click opens it again.
    script.then([](HWND popup) { SendMessageA(popup, WM_COMMAND, IDCANCEL, 0); });
    sendToHost(kMainTrayCallback, 0, WM_LBUTTONDOWN);
    EXPECT_EQ(script.actionsRun(), 2);
}

// A menu tracked for a tray icon closes on a click elsewhere only when a
// message follows the tracking.
TEST_F(ResilienceTest, TheMenuIsFollowedByAMessageToTheHost) {
    onTrackPopupMenu([](HMENU, int, int, HWND) {});
    clearRecordedCalls();
    sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP);
    const auto calls = recordedCalls({"TrackPopupMenu", "PostMessageA"});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].function, "TrackPopupMenu");
    EXPECT_EQ(calls[1].function, "PostMessageA");
    EXPECT_EQ(calls[1].args,
              (std::vector<DWORD_PTR>{reinterpret_cast<DWORD_PTR>(host()), WM_NULL, 0, 0}));
    standin::pumpPending();
    EXPECT_EQ(standin::countMessages(standin::Window::Main, WM_NULL), 1u);
}

// ---- The shell restarts -------------------------------------------------------

class TaskbarCreatedTest : public ResilienceTest {
  protected:
    TaskbarCreatedTest() { stage_.ini = "[Tralmo]\nPREV_BUTTON=1\nSTOP_BUTTON=1\n"; }
    // A restarted shell holds none of the icons the old one held.
    LRESULT shellRestarted() {
        for (UINT id = 0; id <= 5; ++id) {
            NOTIFYICONDATAA data{};
            data.cbSize = NOTIFYICONDATAA_V2_SIZE;
            data.hWnd = host();
            data.uID = id;
            Shell_NotifyIconA(NIM_DELETE, &data);
        }
        clearRecordedCalls();
        standin::clearLog();
        return sendToHost(RegisterWindowMessageA(kTaskbarCreated), 0, 0);
    }
};

TEST_F(TaskbarCreatedTest, AddsTheShownIconsAgainWithTheCurrentTooltip) {
    standin::sendSongStarted();
    ASSERT_TRUE(waitForTrayTip("First Song"));
    EXPECT_EQ(shellRestarted(), 0);
    const auto calls = shellCalls();
    ASSERT_EQ(calls.size(), 3u) << "main icon, then Stop and Previous, right to left";
    for (const ApiCall& call : calls) {
        EXPECT_EQ(call.args[0], static_cast<DWORD_PTR>(NIM_ADD));
        EXPECT_NE(call.result, 0u) << "the new shell takes it";
    }
    EXPECT_EQ(calls[0].icon.uID, 0u);
    EXPECT_EQ(calls[0].icon.uFlags, kFullFlags);
    EXPECT_NE(calls[0].icon.hIcon, nullptr);
    EXPECT_EQ(std::string(calls[0].icon.szTip), "First Song");
    EXPECT_EQ(calls[1].icon.uID, 4u);
    EXPECT_EQ(calls[2].icon.uID, 1u);
    EXPECT_EQ(std::string(calls[2].icon.szTip), "Previous Track");
    EXPECT_EQ(
        standin::countMessages(standin::Window::Main, RegisterWindowMessageA(kTaskbarCreated)), 1u)
        << "the host hears it too";
}

TEST_F(TaskbarCreatedTest, AHiddenMainIconStaysHidden) {
    DialogScript script;
    script.then([](HWND dialog) {
        clickButton(dialog, IDC_SHOW_TRAY_ICON);
        clickButton(dialog, IDOK);
    });
    sendToHost(WM_COMMAND, IDM_OPTIONS, 0);
    ASSERT_EQ(script.actionsRun(), 1);
    shellRestarted();
    const auto calls = shellCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].icon.uID, 4u);
    EXPECT_EQ(calls[1].icon.uID, 1u);
}

} // namespace
