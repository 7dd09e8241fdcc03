// Shut-down as it comes in real life: from inside a dialog of ours, with the
// host's loop running inside ours, or with a later subclass keeping our hook
// reachable. Every case here may pin the library into its process, so each
// runs in a process of its own.
#include "harness.h"
#include "resources/resource.h"

namespace {

namespace sk = standin_skype;

constexpr char kTaskbarCreated[] = "TaskbarCreated";

std::size_t iconsAdded() {
    std::size_t added = 0;
    for (const ApiCall& call : recordedCalls({"Shell_NotifyIconA"}))
        added += call.args[0] == NIM_ADD ? 1 : 0;
    return added;
}

bool libraryMapped() {
    return GetModuleHandleA("gen_tralmo.dll") != nullptr;
}

// Each story starts with the playing song's mood published.
class PinnedShutdownTest : public BesideSkypeTest {
  protected:
    PinnedShutdownTest() {
        stage_.ini = "[Tralmo]\nTRALMO_ACTIVE=1\nTRALMO_STOP_MUSIC=0\n";
        stage_.playing = true;
    }

    // Quits; the exit mood (empty by default) must have reached Skype from
    // the link window, and nothing of the link may remain.
    void quitExpectingTheExitMood() {
        const HWND link = skypeLink();
        const std::size_t before = sk::recordCount();
        ASSERT_TRUE(standin::quitPlugin());
        const auto commands = skypeCommands(before);
        ASSERT_EQ(commands.size(), 1u) << "the exit mood";
        std::string mood = "?";
        EXPECT_TRUE(sk::moodTextOf(commands[0].text(), &mood));
        EXPECT_EQ(mood, "");
        EXPECT_EQ(commands[0].sender, link);
        EXPECT_FALSE(skypeLinkRemains());
    }

    // Skype rings after quit. The link it knew is gone, so the ring can land
    // only on the host's window, where a hook may still listen.
    void ringTheHost(const char* text) {
        sk::Notification ring = sk::textNotification(text);
        ring.target = host();
        EXPECT_NE(skypeTells(ring), kUndelivered);
    }

    // What Windows ending the session does while a dialog of ours is open:
    // the host quits and frees the library from inside our loop.
    void quitAndUnload() {
        quitExpectingTheExitMood();
        clearRecordedCalls();
        ASSERT_TRUE(standin::unloadPlugin());
    }
};

TEST_F(PinnedShutdownTest, QuitFromInsideTheOptionsDialogLeavesNoTrace) {
    DialogScript script;
    script.then([this](HWND dialog) {
        clickButton(dialog, IDC_STOP_ON_CALL);
        clickButton(dialog, IDC_SHOW_TRAY_ICON); // off: OK would remove the icon
        clickButton(dialog, IDC_SHOW_TRAY_ICON); // on again: OK would add it
        quitAndUnload();
        clickButton(dialog, IDOK);
    });
    ASSERT_TRUE(standin::configPlugin());
    ASSERT_EQ(script.actionsRun(), 1);

    EXPECT_TRUE(visibleDialogs().empty());
    EXPECT_TRUE(libraryMapped()) << "freed while its dialog was still on the stack";
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_ACTIVE"), "1");
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_STOP_MUSIC"), "0");
    EXPECT_EQ(iconsAdded(), 0u);
    EXPECT_TRUE(recordedCalls(kIniWrites).empty());

    // A ringing call after quit leaves the music alone.
    ringTheHost("CALL 5 STATUS RINGING");
    EXPECT_EQ(standin::playState(), standin::PlayState::Playing);
}

TEST_F(PinnedShutdownTest, QuitFromInsideTheVolumePopupAddsNoIcon) {
    DialogScript script;
    script.then([this](HWND popup) {
        quitAndUnload();
        clickButton(popup, IDC_BUTTON_CHECK_FIRST + 1);
        SendMessageA(popup, WM_COMMAND, IDCANCEL, 0);
    });
    sendToHost(kMainTrayCallback, 0, WM_LBUTTONDOWN);
    ASSERT_EQ(script.actionsRun(), 1);
    EXPECT_TRUE(visibleDialogs().empty());
    EXPECT_TRUE(libraryMapped());
    EXPECT_EQ(iconsAdded(), 0u);
}

TEST_F(PinnedShutdownTest, QuitEndsTheAboutBoxItWasCalledFrom) {
    DialogScript script;
    script.then([this](HWND) { quitAndUnload(); });
    sendToHost(WM_COMMAND, IDM_ABOUT, 0);
    ASSERT_EQ(script.actionsRun(), 1);
    EXPECT_TRUE(visibleDialogs().empty()) << "quit ends the box";
    EXPECT_TRUE(libraryMapped());
}

namespace {

WNDPROC gBehindLaterSubclass = nullptr;

LRESULT CALLBACK laterSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(gBehindLaterSubclass, window, message, wParam, lParam);
}

} // namespace

// Another plug-in subclassed the host after us, so quit cannot unhook: the
// hook hears everything until the window goes, and must stay silent.
TEST_F(PinnedShutdownTest, AReachableHookStaysSilentAfterQuit) {
    sendToHost(WM_COMMAND, kFirstButtonCallback, 0); // Previous shown
    gBehindLaterSubclass = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(host(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&laterSubclass)));
    const std::size_t before = sk::recordCount();
    quitExpectingTheExitMood();
    clearRecordedCalls();

    sendToHost(RegisterWindowMessageA(kTaskbarCreated), 0, 0);
    sendToHost(WM_COMMAND, IDM_ACTIVE, 0);
    sendToHost(WM_COMMAND, IDM_STOP_ON_CALL, 0);
    sendToHost(WM_COMMAND, kFirstButtonCallback + 2, 0);
    standin::sendSongStarted();
    ringTheHost("CALL 6 STATUS RINGING");
    EXPECT_EQ(iconsAdded(), 0u);
    EXPECT_TRUE(recordedCalls({"CheckMenuItem"}).empty());
    EXPECT_EQ(standin::playState(), standin::PlayState::Playing);

    // The host's window goes: the exit mood has gone already.
    SetWindowLongPtrA(host(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gBehindLaterSubclass));
    DestroyWindow(host());
    settleSkypeLink();
    EXPECT_EQ(skypeCommands(before).size(), 1u) << "never a second exit mood";
}

} // namespace
