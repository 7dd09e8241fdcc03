// The host window's hook, row by row: what it does with each message, and
// whether the host's own procedure then sees the message and its answer comes
// back unchanged.
#include "spine_support.h"

#include <memory>
#include <set>

using namespace spine;

namespace {

// The entry the player logged for exactly this message, if it saw it.
std::optional<standin::LoggedMessage> hostSaw(UINT message, WPARAM wParam, LPARAM lParam) {
    for (const auto& entry : standin::messageLog())
        if (entry.window == standin::Window::Main && entry.message == message &&
            entry.wParam == wParam && entry.lParam == lParam)
            return entry;
    return std::nullopt;
}

// The position in the player's log of the first entry that matches.
std::size_t logIndex(const std::function<bool(const standin::LoggedMessage&)>& matches) {
    const auto& log = standin::messageLog();
    for (std::size_t i = 0; i < log.size(); ++i)
        if (matches(log[i]))
            return i;
    return log.size();
}

std::size_t queryIndex(long code) {
    return logIndex([=](const standin::LoggedMessage& e) {
        return e.window == standin::Window::Main && e.message == WM_USER && e.lParam == code;
    });
}

std::set<UINT> iconsAdded(const std::vector<ApiCall>& calls) {
    std::set<UINT> ids;
    for (const ApiCall& call : calls)
        if (trayIcon(NIM_ADD, call.icon.uID)(call))
            ids.insert(call.icon.uID);
    return ids;
}

HMENU popupMenu() {
    for (const ApiCall& call : recordedCalls({"GetSubMenu"}))
        return reinterpret_cast<HMENU>(call.result);
    return nullptr;
}

// Takes every WM_COPYDATA, as Skype's window takes our commands.
LRESULT CALLBACK takesCopyData(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA)
        return 1;
    return DefWindowProcA(window, message, wParam, lParam);
}

// A window that stands for a program sending us messages.
class FakeWindow {
  public:
    FakeWindow()
        : window_(CreateWindowExA(0, "STATIC", "fake", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr)) {
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&takesCopyData));
    }
    ~FakeWindow() { DestroyWindow(window_); }
    FakeWindow(const FakeWindow&) = delete;
    FakeWindow& operator=(const FakeWindow&) = delete;
    WPARAM wParam() const { return reinterpret_cast<WPARAM>(window_); }

  private:
    HWND window_;
};

char gCallText[] = "CALL 1 STATUS ROUTING";
COPYDATASTRUCT gCallRecord{0, sizeof gCallText, gCallText};
COPYDATASTRUCT gNullDataRecord{0, 16, nullptr};

LPARAM callRecord() {
    return reinterpret_cast<LPARAM>(&gCallRecord);
}
LPARAM nullDataRecord() {
    return reinterpret_cast<LPARAM>(&gNullDataRecord);
}

} // namespace

// Unknown queries carry their code back, so that an answer passed on unchanged shows.
class DispatchTest : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        if (HasFatalFailure())
            return;
        // Ticks are sent by hand; init's discovery has run its course before
        // any row, so that each row sees only what it sets off.
        KillTimer(host(), kDiscoveryTimer);
        settleSkypeLink();
        standin::clearLog();
    }

    void configure(standin::PlayerOptions& options) override {
        options.unknownQueries = standin::UnknownQueries::Tagged;
    }
};

// ---- Messages only passed on ---------------------------------------------------------

TEST_F(DispatchTest, PassesOnWhatItDoesNotTakeAndReturnsTheHostsAnswer) {
    standin::setPlayState(standin::PlayState::Playing);
    standin::setPosition(2);
    FakeWindow stranger;
    ASSERT_NE(stranger.wParam(), 0u);
    struct Row {
        const char* what;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT answer; // what the player itself answers
    };
    const Row rows[] = {
        {"unknown query", WM_USER, 0, 4242, standin::kUnknownQueryTag | 4242},
        {"play state query", WM_USER, 0, host::kQueryPlayState, host::kStatePlaying},
        {"position query", WM_USER, 0, host::kQueryPlaylistPosition, 2},
        {"title query", WM_USER, 1, host::kQueryEntryTitle,
         reinterpret_cast<LRESULT>(standin::titles()[1].c_str())},
        {"ini path query", WM_USER, 0, host::kQueryIniPath,
         reinterpret_cast<LRESULT>(standin::iniPath().c_str())},
        {"playlist window query", WM_USER, host::kWindowPlaylist, host::kQueryWindow,
         reinterpret_cast<LRESULT>(playlist())},
        {"set volume", WM_USER, 77, host::kSetVolume, 0},
        {"echo", standin::kEchoMessage, 0x1234, 0xFF00,
         static_cast<LRESULT>(0x1234 ^ 0xFF00 ^ standin::kEchoTag)},
        {"WM_NULL with a wParam", WM_NULL, stranger.wParam(), 0, 0},
        {"WM_TIMER of another timer", WM_TIMER, kDiscoveryTimer + 1, 0, 0},
        {"WM_TIMER id 1", WM_TIMER, 1, 0, 0},
        {"command after the tray toggles", WM_COMMAND, kFirstButtonToggle + kButtonCount, 0, 0},
        {"unknown command", WM_COMMAND, 105, 0, 0},
        {"main icon: mouse move", kMainTrayCallback, 0, WM_MOUSEMOVE, 0},
        {"main icon: left button up", kMainTrayCallback, 0, WM_LBUTTONUP, 0},
        {"first button icon: double-click", kFirstButtonCallback, 0, WM_LBUTTONDBLCLK, 0},
        {"last button icon: right button up", kFirstButtonCallback + kButtonCount - 1, 0,
         WM_RBUTTONUP, 0},
        {"copied data, no Skype known", WM_COPYDATA, stranger.wParam(), callRecord(), 0},
        {"copied data, null record", WM_COPYDATA, stranger.wParam(), 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        standin::clearLog();
        clearRecordedCalls();
        const LRESULT answer = sendToHost(row.message, row.wParam, row.lParam);
        const auto seen = hostSaw(row.message, row.wParam, row.lParam);
        ASSERT_TRUE(seen.has_value()) << "not passed on";
        EXPECT_EQ(seen->result, row.answer);
        EXPECT_EQ(answer, row.answer);
        EXPECT_TRUE(recordedCalls().empty()) << describeCalls(recordedCalls());
    }
    EXPECT_EQ(standin::volume(), 77);
}

// ---- Host callbacks and the timer ------------------------------------------------------

TEST_F(DispatchTest, SongStartIsComposedBeforeTheHostSeesIt) {
    standin::setPlayState(standin::PlayState::Playing);
    standin::setPosition(1);
    EXPECT_EQ(sendToHost(WM_USER, 0, host::kCallbackSongStarted), 0);
    const std::size_t callback = queryIndex(host::kCallbackSongStarted);
    ASSERT_LT(callback, standin::messageLog().size());
    EXPECT_LT(queryIndex(host::kQueryPlaylistPosition), callback);
    EXPECT_LT(queryIndex(host::kQueryEntryTitle), callback);
    // The composition shows the title as the tooltip.
    EXPECT_TRUE(waitForTrayTip("Second Song"));
    EXPECT_EQ(trayTips(), std::vector<std::string>{"Second Song"});
}

TEST_F(DispatchTest, StatusChangeComposesOnlyWhenThePlayStateChanged) {
    standin::setPlayState(standin::PlayState::Playing);
    EXPECT_EQ(sendToHost(WM_USER, 0, host::kCallbackStatusChanged), 0);
    std::size_t callback = queryIndex(host::kCallbackStatusChanged);
    ASSERT_LT(callback, standin::messageLog().size());
    EXPECT_LT(queryIndex(host::kQueryPlayState), callback);
    EXPECT_LT(queryIndex(host::kQueryEntryTitle), callback);

    standin::clearLog();
    EXPECT_EQ(sendToHost(WM_USER, 0, host::kCallbackStatusChanged), 0);
    callback = queryIndex(host::kCallbackStatusChanged);
    ASSERT_LT(callback, standin::messageLog().size());
    EXPECT_LT(queryIndex(host::kQueryPlayState), callback);
    // The title is looked at (a stream may have moved on), but the same song
    // composes nothing: a composition would ask where the ini file is.
    EXPECT_EQ(standin::countQueries(host::kQueryIniPathWide), 0u);
    EXPECT_EQ(standin::countQueries(host::kQueryIniPath), 0u);
}

TEST_F(DispatchTest, DiscoveryTimerBroadcastsAndReachesTheHost) {
    clearRecordedCalls();
    for (int tick = 1; tick <= 2; ++tick) {
        EXPECT_EQ(sendToHost(WM_TIMER, kDiscoveryTimer, 0), 0);
        const auto broadcasts = [] {
            return countCalls(recordedCalls(), discoverBroadcast(skypeLink()));
        };
        EXPECT_TRUE(standin_skype::pumpUntil([&] {
            return broadcasts() == static_cast<std::size_t>(tick) && sendsInFlight() == 0;
        })) << "broadcasts from the link window: "
            << broadcasts();
        EXPECT_EQ(standin::countMessages(standin::Window::Main, WM_TIMER),
                  static_cast<std::size_t>(tick));
    }
}

// ---- Menu commands --------------------------------------------------------------------

TEST_F(DispatchTest, ActiveToggleLooksOnlyAtTheLowWord) {
    const HMENU popup = popupMenu();
    ASSERT_NE(popup, nullptr);
    const WPARAM commands[] = {MAKEWPARAM(IDM_ACTIVE, 1), MAKEWPARAM(IDM_ACTIVE, 0),
                               MAKEWPARAM(IDM_ACTIVE, 0xFFFF)};
    const UINT marks[] = {MF_UNCHECKED, MF_CHECKED, MF_UNCHECKED};
    for (int i = 0; i < 3; ++i) {
        clearRecordedCalls();
        standin::clearLog();
        sendToHost(WM_COMMAND, commands[i], 0);
        const auto calls = recordedCalls();
        ASSERT_EQ(calls.size(), 1u) << describeCalls(calls);
        EXPECT_TRUE(menuCheck(IDM_ACTIVE, marks[i])(calls[0])) << describeCall(calls[0]);
        EXPECT_EQ(calls[0].args[0], handle(popup));
        EXPECT_TRUE(hostSaw(WM_COMMAND, commands[i], 0).has_value());
    }
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_ACTIVE"), "0");
}

TEST_F(DispatchTest, StopOnCallToggleSetsItsCheckMark) {
    for (UINT mark : {MF_CHECKED, MF_UNCHECKED, MF_CHECKED}) {
        clearRecordedCalls();
        sendToHost(WM_COMMAND, IDM_STOP_ON_CALL, 0);
        const auto calls = recordedCalls();
        ASSERT_EQ(calls.size(), 1u) << describeCalls(calls);
        EXPECT_TRUE(menuCheck(IDM_STOP_ON_CALL, mark)(calls[0])) << describeCall(calls[0]);
    }
    EXPECT_EQ(standin::countCommands(standin::Window::Main, IDM_STOP_ON_CALL), 3u);
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_STOP_MUSIC"), "1");
}

TEST_F(DispatchTest, SetMoodOnExitToggleTouchesNoCheckMark) {
    std::unique_ptr<standin_skype::Running> skype; // to which an exit mood would go
    ASSERT_TRUE(startSkypeAndAttach(skype));
    clearRecordedCalls();
    sendToHost(WM_COMMAND, IDM_SET_MOOD_ON_EXIT, 0);
    EXPECT_TRUE(recordedCalls().empty()) << describeCalls(recordedCalls());
    EXPECT_EQ(standin::countCommands(standin::Window::Main, IDM_SET_MOOD_ON_EXIT), 1u);
    ASSERT_TRUE(standin::quitPlugin());
    // An exit mood would have emptied the tooltip as it was composed.
    EXPECT_EQ(countCalls(recordedCalls(), trayIcon(NIM_MODIFY, kMainIconId)), 0u)
        << "exit mood composed";
    EXPECT_EQ(countCalls(recordedCalls(), copyDataSend()), 0u) << "exit mood sent";
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_EXITSETMOOD"), "0");
}

TEST_F(DispatchTest, TrayButtonCommandsToggleTheirIcons) {
    std::set<UINT> shown;
    const auto toggle = [&](int button) {
        clearRecordedCalls();
        const UINT id = kFirstButtonIconId + button;
        if (!shown.erase(id))
            shown.insert(id);
        sendToHost(WM_COMMAND, kFirstButtonToggle + button, 0);
        const auto calls = recordedCalls();
        for (int i = 0; i < kButtonCount; ++i)
            EXPECT_EQ(countCalls(calls, trayIcon(NIM_DELETE, kFirstButtonIconId + i)), 1u);
        EXPECT_EQ(iconsAdded(calls), shown) << describeCalls(calls);
        EXPECT_EQ(countCalls(calls, anyMenuCheck()), 0u);
    };
    for (int button = 0; button < kButtonCount; ++button)
        toggle(button);
    toggle(2);
    for (int button = 0; button < kButtonCount; ++button)
        EXPECT_EQ(standin::countCommands(standin::Window::Main, kFirstButtonToggle + button),
                  button == 2 ? 2u : 1u);

    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(standin::readIniSection("Tralmo"),
              (std::vector<std::string>{"TRALMO_ACTIVE=1", "TRALMO_STOP_MUSIC=0",
                                        "TRALMO_SHOW_TRAYICON=1", "TRALMO_ALLOW_HTML=1",
                                        "TRALMO_EXITSETMOOD=1", "PREV_BUTTON=1", "PLAY_BUTTON=1",
                                        "PAUSE_BUTTON=0", "STOP_BUTTON=1", "NEXT_BUTTON=1"}));
}

TEST_F(DispatchTest, AboutAndOptionsAreModalAndPassedOnWhenClosed) {
    onTrackPopupMenu([](HMENU, int, int, HWND) {});
    for (UINT command : {IDM_ABOUT, IDM_OPTIONS}) {
        SCOPED_TRACE(command);
        standin::clearLog();
        standin::setPlayState(standin::PlayState::Stopped);
        bool passedOnWhileOpen = true;
        std::vector<ApiCall> whileOpen;
        HWND dialog = nullptr;
        HWND owner = nullptr;
        DialogScript script;
        script.then([&](HWND shown) {
            dialog = shown;
            owner = GetWindow(shown, GW_OWNER);
            passedOnWhileOpen = standin::countCommands(standin::Window::Main, command) != 0;
            // The tray's double-click and menu wait for the dialog.
            clearRecordedCalls();
            sendToHost(kMainTrayCallback, 0, WM_LBUTTONDBLCLK);
            sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP);
            whileOpen = recordedCalls();
            SendMessageA(shown, WM_COMMAND, IDCANCEL, 0);
        });
        EXPECT_EQ(sendToHost(WM_COMMAND, command, 0), 0);
        ASSERT_NE(dialog, nullptr) << "no dialog shown";
        EXPECT_EQ(owner, host());
        EXPECT_FALSE(passedOnWhileOpen);
        EXPECT_TRUE(whileOpen.empty()) << describeCalls(whileOpen);
        EXPECT_EQ(standin::countCommands(standin::Window::Main, command), 1u);
        EXPECT_EQ(standin::playState(), standin::PlayState::Stopped);

        // Closed: the same clicks act again.
        clearRecordedCalls();
        sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP);
        EXPECT_EQ(countCalls(recordedCalls(), named("TrackPopupMenu")), 1u);
    }
}

// ---- Tray icon callbacks ------------------------------------------------------------------

TEST_F(DispatchTest, MainIconDoubleClickTogglesPlayback) {
    const std::pair<standin::PlayState, unsigned> steps[] = {
        {standin::PlayState::Playing, host::kCommandPlay},  // from stopped
        {standin::PlayState::Paused, host::kCommandPause},  // from playing
        {standin::PlayState::Playing, host::kCommandPause}, // from paused
    };
    for (const auto& [after, command] : steps) {
        standin::clearLog();
        EXPECT_EQ(sendToHost(kMainTrayCallback, 0, WM_LBUTTONDBLCLK), 0);
        EXPECT_EQ(standin::playState(), after);
        EXPECT_EQ(standin::countCommands(standin::Window::Main, command), 1u);
        EXPECT_LT(queryIndex(host::kQueryPlayState), logIndex([](const standin::LoggedMessage& e) {
                      return e.message == WM_COMMAND;
                  }));
        EXPECT_TRUE(hostSaw(kMainTrayCallback, 0, WM_LBUTTONDBLCLK).has_value());
    }
}

TEST_F(DispatchTest, MainIconRightClickShowsThePopupMenu) {
    HMENU tracked = nullptr;
    HWND owner = nullptr;
    onTrackPopupMenu([&](HMENU menu, int, int, HWND window) {
        tracked = menu;
        owner = window;
    });
    fakeCursorPosition(POINT{321, 234});
    EXPECT_EQ(sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP), 0);
    EXPECT_EQ(tracked, popupMenu());
    EXPECT_EQ(owner, host());
    const auto track = recordedCalls({"TrackPopupMenu"});
    ASSERT_EQ(track.size(), 1u);
    EXPECT_EQ(track[0].args[2], 321u);
    EXPECT_EQ(track[0].args[3], 234u);
    EXPECT_TRUE(hostSaw(kMainTrayCallback, 0, WM_RBUTTONUP).has_value());
}

TEST_F(DispatchTest, MainIconLeftButtonOpensTheVolumePopup) {
    DialogScript script;
    script.then([](HWND popup) { SendMessageA(popup, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_EQ(sendToHost(kMainTrayCallback, 0, WM_LBUTTONDOWN), 0);
    EXPECT_EQ(script.actionsRun(), 1) << "no popup shown";
    EXPECT_TRUE(hostSaw(kMainTrayCallback, 0, WM_LBUTTONDOWN).has_value());
}

TEST_F(DispatchTest, ButtonIconClicksSendTransportCommands) {
    for (int button = 0; button < kButtonCount; ++button) {
        standin::clearLog();
        const UINT callback = kFirstButtonCallback + button;
        EXPECT_EQ(sendToHost(callback, 0, WM_LBUTTONDOWN), 0);
        EXPECT_EQ(standin::countCommands(standin::Window::Main, host::kCommandPrevious + button),
                  1u);
        EXPECT_TRUE(hostSaw(callback, 0, WM_LBUTTONDOWN).has_value());
    }
}

// ---- Skype's messages -------------------------------------------------------------------

// Skype talks to the plug-in's link window. An attach reply or copied data
// sent to the host's window is the host's, whoever sends it and whatever it
// says: the host takes commands there.
TEST_F(DispatchTest, SkypesMessagesToTheHostWindowGoOnUntouched) {
    const UINT attach = registeredMessage("SkypeControlAPIAttach");
    FakeWindow skype;
    ASSERT_NE(skype.wParam(), 0u);
    clearRecordedCalls();
    for (LPARAM status : {0L, 1L, 2L, 3L, 0x8001L, 4L}) {
        SCOPED_TRACE(status);
        standin::clearLog();
        const LRESULT answer = sendToHost(attach, skype.wParam(), status);
        const auto seen = hostSaw(attach, skype.wParam(), status);
        ASSERT_TRUE(seen.has_value()) << "not passed on";
        EXPECT_EQ(answer, seen->result);
    }
    settleSkypeLink();
    EXPECT_EQ(countCalls(recordedCalls(), named("SendMessageTimeoutA")), 0u)
        << "no session opened and no discovery: " << describeCalls(recordedCalls());

    // Even from the window the link knows as Skype.
    ASSERT_EQ(SendMessageA(skypeLink(), attach, skype.wParam(), 0), 1);
    settleSkypeLink();
    for (LPARAM record : {callRecord(), nullDataRecord(), LPARAM{0}}) {
        standin::clearLog();
        const LRESULT answer = sendToHost(WM_COPYDATA, skype.wParam(), record);
        const auto seen = hostSaw(WM_COPYDATA, skype.wParam(), record);
        ASSERT_TRUE(seen.has_value()) << "not passed on";
        EXPECT_EQ(answer, seen->result);
    }
}

// Where Skype does send them, the link window: every attach reply is
// answered 1, refusal counts only from the known Skype window, and only that
// window's copied data with a data block is taken.
TEST_F(DispatchTest, TheLinkAnswersAttachRepliesAndHearsOnlyTheKnownSkype) {
    const HWND link = skypeLink();
    ASSERT_NE(link, nullptr);
    const UINT attach = registeredMessage("SkypeControlAPIAttach");
    FakeWindow skype;
    FakeWindow other;
    ASSERT_TRUE(skype.wParam() != 0 && other.wParam() != 0);
    // Attach replies set off sends from the link's thread: let them finish
    // (a Success opens the session with a command to the new window).
    const auto attachReply = [&](const FakeWindow& from, LPARAM status) {
        const auto sendsToIt = [&] {
            return countCalls(recordedCalls(), [&](const ApiCall& call) {
                return copyDataSend()(call) && call.args[0] == from.wParam();
            });
        };
        const std::size_t before = sendsToIt();
        const LRESULT answer = SendMessageA(link, attach, from.wParam(), status);
        if (status == 0) {
            EXPECT_TRUE(standin_skype::pumpUntil(
                [&] { return sendsToIt() > before && sendsInFlight() == 0; }));
        }
        settleSkypeLink();
        return answer;
    };
    const auto copyTaken = [&](const FakeWindow& from, LPARAM record) {
        return SendMessageA(link, WM_COPYDATA, from.wParam(), record) == 1;
    };
    const auto hostHeard = [] { return standin::countMessages(standin::isNotable); };
    EXPECT_FALSE(copyTaken(skype, callRecord())) << "no Skype known yet";

    EXPECT_EQ(attachReply(skype, 0), 1);
    EXPECT_EQ(standin::countQueries(host::kQueryPlayState), 1u) << "the attach polls the host";
    // From the attached window the record is taken; with no data, or from
    // anyone else, it is not.
    EXPECT_TRUE(copyTaken(skype, callRecord()));
    EXPECT_FALSE(copyTaken(skype, nullDataRecord()));
    EXPECT_FALSE(copyTaken(skype, 0));
    EXPECT_FALSE(copyTaken(other, callRecord()));

    // Refused and not available matter only from the window we know.
    for (LPARAM status : {4L, 1L, 2L, 3L, -1L}) {
        SCOPED_TRACE(status);
        const std::size_t heard = hostHeard();
        EXPECT_EQ(attachReply(other, status), 1);
        EXPECT_EQ(hostHeard(), heard);
        EXPECT_TRUE(copyTaken(skype, callRecord()));
        EXPECT_FALSE(copyTaken(other, callRecord()));
    }

    // A Skype whose API has just become available speaks for any window: the
    // known one is forgotten and the broadcast (the host sees it) goes at once.
    const UINT discover = registeredMessage("SkypeControlAPIDiscover");
    const std::size_t discovers = standin::countMessages(standin::Window::Main, discover);
    EXPECT_EQ(attachReply(other, 0x8001), 1);
    EXPECT_TRUE(standin_skype::pumpUntil([&] {
        return standin::countMessages(standin::Window::Main, discover) == discovers + 1 &&
               sendsInFlight() == 0;
    }));
    EXPECT_FALSE(copyTaken(skype, callRecord()));
    EXPECT_EQ(attachReply(skype, 0), 1);

    // WM_NULL looks like nothing registered: never a Success.
    EXPECT_EQ(SendMessageA(link, WM_NULL, other.wParam(), 0), 0);
    EXPECT_FALSE(copyTaken(other, callRecord()));
    EXPECT_TRUE(copyTaken(skype, callRecord()));

    EXPECT_EQ(standin::countMessages(standin::Window::Main, attach), 0u);
    EXPECT_EQ(standin::countMessages(standin::Window::Main, WM_COPYDATA), 0u);
}

class UnregisteredDispatchTest : public PluginTest {
  protected:
    void prepare() override {
        overrideApi(&RegisterWindowMessageA, [](auto, LPCSTR) { return 0u; });
    }
};

TEST_F(UnregisteredDispatchTest, WmNullIsPassedOnWhenNothingIsRegistered) {
    FakeWindow window;
    ASSERT_NE(window.wParam(), 0u);
    clearRecordedCalls();
    EXPECT_EQ(sendToHost(WM_NULL, window.wParam(), 0), 0);
    EXPECT_TRUE(hostSaw(WM_NULL, window.wParam(), 0).has_value());
    EXPECT_EQ(sendToHost(WM_COPYDATA, window.wParam(), callRecord()), 0);
    EXPECT_TRUE(hostSaw(WM_COPYDATA, window.wParam(), callRecord()).has_value());
    EXPECT_EQ(sendToHost(WM_TIMER, kDiscoveryTimer, 0), 0);
    // Nor is WM_NULL taken for an attach reply where Skype's replies go.
    ASSERT_NE(skypeLink(), nullptr);
    EXPECT_EQ(SendMessageA(skypeLink(), WM_NULL, window.wParam(), 0), 0);
    settleSkypeLink();
    EXPECT_EQ(countCalls(recordedCalls(), named("SendMessageTimeoutA")), 0u);
}

// ---- Destruction of the host window --------------------------------------------------------

namespace {

std::size_t destroysSeen() {
    return standin::countMessages(standin::Window::Main, WM_DESTROY);
}

} // namespace

TEST_F(DispatchTest, DestroyKillsTheTimerAndMenuBeforeTheHostSeesIt) {
    std::size_t destroysAtKillTimer = 99;
    std::size_t destroysAtDestroyMenu = 99;
    overrideApi(&KillTimer, [&](auto system, HWND window, UINT_PTR id) {
        destroysAtKillTimer = destroysSeen();
        return system(window, id);
    });
    overrideApi(&DestroyMenu, [&](auto system, HMENU menu) {
        destroysAtDestroyMenu = destroysSeen();
        return system(menu);
    });

    const HMENU popup = popupMenu();
    ASSERT_TRUE(IsMenu(popup));
    const HWND main = host();
    clearRecordedCalls();
    DestroyWindow(main); // the plug-in is still running: no quit yet

    const auto calls = recordedCalls();
    EXPECT_EQ(countCalls(calls, timerKilled(main)), 1u) << describeCalls(calls);
    EXPECT_EQ(countCalls(calls, named("DestroyMenu")), 1u) << describeCalls(calls);
    EXPECT_EQ(destroysAtKillTimer, 0u);
    EXPECT_EQ(destroysAtDestroyMenu, 0u);
    EXPECT_FALSE(IsMenu(popup));
    EXPECT_EQ(destroysSeen(), 1u);
    // The host's quit after its window is gone must not trip over it.
    clearRecordedCalls();
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(countCalls(recordedCalls(), named("DestroyMenu")), 0u);
}
