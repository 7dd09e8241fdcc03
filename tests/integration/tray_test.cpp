// The notification-area icons as the shell is told about them, and what the
// user's clicks on them make the player do.
#include "harness.h"

#include "resources/resource.h"

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kButtonCount = 5;
// The record's size: the form with the item GUID from XP on; Windows 2000's
// shell knows only the form before it.
constexpr DWORD kIconDataSize = 504;
constexpr DWORD kIconDataSizeWindows2000 = 488;

DWORD iconDataSize(bool xp) {
    return xp ? kIconDataSize : kIconDataSizeWindows2000;
}
constexpr UINT kFullFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
constexpr std::size_t kTipChars = 127;

const char* const kCaptions[kButtonCount] = {"Previous Track", "Play", "Pause", "Stop",
                                             "Next Track"};
const char* const kIniKeys[kButtonCount] = {"PREV_BUTTON", "PLAY_BUTTON", "PAUSE_BUTTON",
                                            "STOP_BUTTON", "NEXT_BUTTON"};

std::vector<ApiCall> shellCalls() {
    return recordedCalls({"Shell_NotifyIconA"});
}

// A song starts; its tooltip, which leaves from the plug-in's own thread, has
// reached the shell (or was never sent) when this returns.
void startSong() {
    standin::sendSongStarted();
    settleTrayTips();
}

// "add 0", "delete 3", "modify 0": the shell calls as action and icon id.
std::vector<std::string> shellSteps() {
    std::vector<std::string> out;
    for (const ApiCall& call : shellCalls()) {
        const DWORD action = static_cast<DWORD>(call.args[0]);
        const char* name = action == NIM_ADD      ? "add"
                           : action == NIM_DELETE ? "delete"
                           : action == NIM_MODIFY ? "modify"
                                                  : "other";
        out.push_back(std::string(name) + " " + std::to_string(call.icon.uID));
    }
    return out;
}

std::vector<std::string> steps(const char* action, std::initializer_list<int> ids) {
    std::vector<std::string> out;
    for (int id : ids)
        out.push_back(std::string(action) + " " + std::to_string(id));
    return out;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::string> kDeleteAllButtons = steps("delete", {1, 2, 3, 4, 5});

std::string iniShowing(std::initializer_list<int> buttons) {
    std::string text = "[Tralmo]\r\n";
    for (int i : buttons)
        text += std::string(kIniKeys[i]) + "=1\r\n";
    return text;
}

int smallIconSize() {
    return GetSystemMetrics(SM_CXSMICON);
}

// The pixels of the module's icon `resource` drawn at size x size.
std::uint64_t moduleIconPicture(int resource, int size) {
    const auto icon = static_cast<HICON>(
        LoadImageA(standin::pluginModule(), MAKEINTRESOURCEA(resource), IMAGE_ICON, size, size, 0));
    const std::uint64_t picture = iconPicture(icon);
    DestroyIcon(icon);
    return picture;
}

// The shell was given the icon's own image at the small-icon size, not a
// larger one for it to shrink.
void expectIconImage(const ApiCall& call, int resource, int size) {
    EXPECT_EQ(call.iconSize.cx, size);
    EXPECT_EQ(call.iconSize.cy, size);
    EXPECT_NE(call.iconPicture, 0u);
    EXPECT_EQ(call.iconPicture, moduleIconPicture(resource, size)) << "icon " << resource;
}

void expectUntouchedFieldsZero(const NOTIFYICONDATAA& data) {
    EXPECT_EQ(data.dwState, 0u);
    EXPECT_EQ(data.dwStateMask, 0u);
    EXPECT_EQ(data.szInfo[0], '\0');
    EXPECT_EQ(data.szInfoTitle[0], '\0');
    EXPECT_EQ(data.dwInfoFlags, 0u);
    EXPECT_EQ(data.guidItem, GUID{});
}

void expectMainRecord(const ApiCall& call, bool xp, UINT flags, const std::string& tip,
                      int iconSize = smallIconSize()) {
    SCOPED_TRACE("main icon record");
    const NOTIFYICONDATAA& data = call.icon;
    EXPECT_EQ(data.cbSize, iconDataSize(xp));
    EXPECT_EQ(data.hWnd, standin::mainWindow());
    EXPECT_EQ(data.uID, 0u);
    EXPECT_EQ(data.uFlags, flags);
    EXPECT_EQ(data.uCallbackMessage, kMainTrayCallback);
    expectIconImage(call, xp ? IDI_MAIN_XP : IDI_MAIN_OLD, iconSize);
    EXPECT_EQ(std::string(data.szTip), tip);
    expectUntouchedFieldsZero(data);
}

void expectButtonRecord(const ApiCall& call, bool xp, int iconSize = smallIconSize()) {
    const int index = static_cast<int>(call.icon.uID) - 1;
    ASSERT_GE(index, 0);
    ASSERT_LT(index, kButtonCount);
    SCOPED_TRACE(std::string("button ") + kCaptions[index]);
    const NOTIFYICONDATAA& data = call.icon;
    EXPECT_EQ(data.cbSize, iconDataSize(xp));
    EXPECT_EQ(data.hWnd, standin::mainWindow());
    EXPECT_EQ(data.uFlags, kFullFlags);
    EXPECT_EQ(data.uCallbackMessage, kFirstButtonCallback + index);
    expectIconImage(call, (xp ? IDI_BUTTON_XP_FIRST : IDI_BUTTON_OLD_FIRST) + index, iconSize);
    EXPECT_EQ(std::string(data.szTip), kCaptions[index]);
    expectUntouchedFieldsZero(data);
}

// The low words of the WM_COMMANDs the player's main window received, in order.
std::vector<unsigned> playerCommands() {
    std::vector<unsigned> commands;
    for (const standin::LoggedMessage& entry : standin::messageLog())
        if (entry.window == standin::Window::Main && entry.message == WM_COMMAND) {
            EXPECT_EQ(entry.lParam, 0);
            commands.push_back(LOWORD(entry.wParam));
        }
    return commands;
}

std::size_t trackedMenus() {
    return recordedCalls({"TrackPopupMenu"}).size();
}

class TrayTest : public PluginTest {
  protected:
    void prepare() override {
        ASSERT_TRUE(standin::writeIniContent(ini_));
        if (version_)
            fakeWindowsVersion(version_->first, version_->second);
    }

    // The link's first Discover visits this thread's windows and makes the
    // plug-in poll the player: let it finish before a story begins.
    void SetUp() override {
        PluginTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(standin_skype::pumpUntil(discoveryDelivered));
        settleSkypeLink();
    }

    static bool discoveryDelivered() {
        const UINT discover = registeredMessage("SkypeControlAPIDiscover");
        for (const ApiCall& call : recordedCalls({"SendMessageTimeoutA"}))
            if (call.args[0] == reinterpret_cast<DWORD_PTR>(HWND_BROADCAST) &&
                call.args[1] == discover && call.result != 0)
                return true;
        return false;
    }

    // The options dialog's OK with "Show plugin icon in tray" set as given:
    // the user's way to add or remove the main icon while the plug-in runs.
    void acceptOptionsWithTrayBox(bool checked) {
        DialogScript script;
        script.then([checked](HWND dialog) {
            if (isChecked(dialog, IDC_SHOW_TRAY_ICON) != checked)
                clickButton(dialog, IDC_SHOW_TRAY_ICON);
            clickButton(dialog, IDOK);
        });
        sendToHost(WM_COMMAND, IDM_OPTIONS, 0);
        EXPECT_EQ(script.actionsRun(), 1);
    }

    std::string ini_;
    // What the plug-in is told the system is; empty: the real answer.
    std::optional<std::pair<DWORD, DWORD>> version_ = std::make_pair(5, 1);
};

// ---- Adding, refreshing and removing ------------------------------------------

struct VersionCase {
    const char* name;
    DWORD major;
    DWORD minor;
    bool xp; // counts as XP or later
};

void PrintTo(const VersionCase& value, std::ostream* out) {
    *out << value.name;
}

class TrayVersionTest : public TrayTest, public testing::WithParamInterface<VersionCase> {
  protected:
    TrayVersionTest() {
        ini_ = iniShowing({0, 2, 4});
        version_ = std::make_pair(GetParam().major, GetParam().minor);
    }
};

// XP and later lay the icons out right to left, so the last button goes in first.
std::vector<std::string> addsInLayoutOrder(bool xp, std::vector<int> ascending) {
    std::vector<std::string> out;
    if (xp)
        for (auto it = ascending.rbegin(); it != ascending.rend(); ++it)
            out.push_back("add " + std::to_string(*it));
    else
        for (int id : ascending)
            out.push_back("add " + std::to_string(id));
    return out;
}

TEST_P(TrayVersionTest, InitAddsTheMainIconThenReaddsTheShownButtonsInLayoutOrder) {
    const bool xp = GetParam().xp;
    EXPECT_EQ(shellSteps(),
              steps("add", {0}) + kDeleteAllButtons + addsInLayoutOrder(xp, {1, 3, 5}));
    const auto calls = shellCalls();
    ASSERT_EQ(calls.size(), 9u);
    expectMainRecord(calls[0], xp, kFullFlags, "Tralmo");
    for (std::size_t i = 1; i < calls.size(); ++i)
        expectButtonRecord(calls[i], xp);
}

TEST_P(TrayVersionTest, ToggleCommandsReaddEveryShownButtonAndLeaveTheMainIcon) {
    const bool xp = GetParam().xp;
    clearRecordedCalls();
    sendToHost(WM_COMMAND, kFirstButtonCallback + 1, 0); // Play on
    EXPECT_EQ(shellSteps(), kDeleteAllButtons + addsInLayoutOrder(xp, {1, 2, 3, 5}));
    for (const ApiCall& call : shellCalls())
        expectButtonRecord(call, xp);

    clearRecordedCalls();
    // Commands compare on the low word only, as an accelerator's would.
    sendToHost(WM_COMMAND, MAKEWPARAM(kFirstButtonCallback + 4, 1), 0); // Next off
    EXPECT_EQ(shellSteps(), kDeleteAllButtons + addsInLayoutOrder(xp, {1, 2, 3}));

    clearRecordedCalls();
    sendToHost(WM_COMMAND, kMainTrayCallback, 0);
    sendToHost(WM_COMMAND, kFirstButtonCallback + kButtonCount, 0);
    EXPECT_TRUE(shellSteps().empty()) << "only the five button commands toggle";
}

INSTANTIATE_TEST_SUITE_P(
    Versions, TrayVersionTest,
    testing::Values(VersionCase{"Win2000", 5, 0, false}, VersionCase{"NT4", 4, 0, false},
                    VersionCase{"XP", 5, 1, true}, VersionCase{"Server2003", 5, 2, true},
                    VersionCase{"Vista", 6, 0, true}, VersionCase{"Win10", 10, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Runs twice under ctest: as it is (Wine reports a recent Windows) and as a
// copy that Wine's per-program key makes report Windows 2000, with
// TRALMO_EXPECT_WINDOWS_VERSION telling this test which version to insist on.
class TrayRealVersionTest : public TrayTest {
  protected:
    TrayRealVersionTest() {
        ini_ = iniShowing({0, 2, 4});
        version_.reset();
    }
};

TEST_F(TrayRealVersionTest, TheSystemsOwnVersionDecidesIconsAndOrder) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(&version));
    const std::string reported =
        std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion);
    if (const char* expected = std::getenv("TRALMO_EXPECT_WINDOWS_VERSION")) {
        ASSERT_EQ(reported, expected) << "Wine's version key for this program did not take effect";
    }
    const bool xp =
        version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion != 0);
    EXPECT_EQ(shellSteps(),
              steps("add", {0}) + kDeleteAllButtons + addsInLayoutOrder(xp, {1, 3, 5}))
        << "Windows " << reported;
    const auto calls = shellCalls();
    ASSERT_EQ(calls.size(), 9u);
    expectMainRecord(calls[0], xp, kFullFlags, "Tralmo");
    for (std::size_t i = 1; i < calls.size(); ++i)
        expectButtonRecord(calls[i], xp);
}

struct LifeCase {
    const char* name;
    const char* ini;
    std::vector<std::string> atInit;
    std::vector<std::string> atQuit;
};

void PrintTo(const LifeCase& value, std::ostream* out) {
    *out << value.name;
}

class TrayLifeTest : public TrayTest, public testing::WithParamInterface<LifeCase> {
  protected:
    TrayLifeTest() { ini_ = GetParam().ini; }
};

TEST_P(TrayLifeTest, InitAndQuitTouchOnlyWhatIsShown) {
    EXPECT_EQ(shellSteps(), GetParam().atInit);
    clearRecordedCalls();
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(shellSteps(), GetParam().atQuit);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TrayLifeTest,
    testing::Values(
        // The exit mood (discovery's broadcast was delivered, mood on exit is
        // on by default) empties the tip before the icons go.
        LifeCase{"FirstStart", "", steps("add", {0}) + kDeleteAllButtons,
                 steps("modify", {0}) + steps("delete", {0}) + kDeleteAllButtons},
        LifeCase{"NoExitMood", "[Tralmo]\r\nTRALMO_EXITSETMOOD=0\r\n",
                 steps("add", {0}) + kDeleteAllButtons, steps("delete", {0}) + kDeleteAllButtons},
        LifeCase{"MainIconOff", "[Tralmo]\r\nTRALMO_SHOW_TRAYICON=0\r\n", kDeleteAllButtons,
                 kDeleteAllButtons},
        LifeCase{"OneButtonNoMainIcon", "[Tralmo]\r\nTRALMO_SHOW_TRAYICON=0\r\nSTOP_BUTTON=7\r\n",
                 kDeleteAllButtons + steps("add", {4}), kDeleteAllButtons}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- High DPI --------------------------------------------------------------------

struct DpiCase {
    int dpi;
    int smallIcon; // SM_CXSMICON at that DPI
};

void PrintTo(const DpiCase& value, std::ostream* out) {
    *out << value.dpi << " DPI";
}

class TrayDpiTest : public TrayTest, public testing::WithParamInterface<DpiCase> {
  protected:
    TrayDpiTest() { ini_ = iniShowing({0, 2, 4}); }
    void prepare() override {
        TrayTest::prepare();
        fakeScreenDpi(GetParam().dpi);
    }
};

TEST_P(TrayDpiTest, EveryIconIsDrawnFromItsOwnImageAtTheSmallIconSize) {
    const auto calls = shellCalls();
    ASSERT_EQ(calls.size(), 9u);
    expectMainRecord(calls[0], true, kFullFlags, "Tralmo", GetParam().smallIcon);
    for (std::size_t i = 1; i < calls.size(); ++i)
        expectButtonRecord(calls[i], true, GetParam().smallIcon);
}

INSTANTIATE_TEST_SUITE_P(Screens, TrayDpiTest,
                         testing::Values(DpiCase{96, 16}, DpiCase{120, 20}, DpiCase{144, 24},
                                         DpiCase{192, 32}),
                         [](const auto& info) { return std::to_string(info.param.dpi) + "Dpi"; });

// ---- A shell that is not ready, or that comes back ----------------------------

std::vector<ApiCall> retryTimerCalls(const char* function) {
    std::vector<ApiCall> calls;
    for (const ApiCall& call : recordedCalls({function}))
        if (call.args[1] == kTrayRetryTimer)
            calls.push_back(call);
    return calls;
}

// "add 0 failed": the shell steps with their outcome.
std::vector<std::string> shellOutcomes() {
    std::vector<std::string> out = shellSteps();
    const auto calls = shellCalls();
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] += calls[i].result != 0 ? "" : " failed";
    return out;
}

LRESULT retryTick() {
    return sendToHost(WM_TIMER, kTrayRetryTimer, 0);
}

LRESULT taskbarCreated() {
    return sendToHost(RegisterWindowMessageA("TaskbarCreated"), 0, 0);
}

// At log-on Winamp may start before the shell takes icons.
class TrayLogOnTest : public TrayTest {
  protected:
    TrayLogOnTest() { ini_ = iniShowing({1}); }
    void prepare() override {
        TrayTest::prepare();
        failIconAdds(failedAdds_);
    }
    int failedAdds_ = 4;
};

TEST_F(TrayLogOnTest, FailedAddsAreTriedAgainEveryTwoSecondsUntilTheShellTakesThem) {
    EXPECT_EQ(shellOutcomes(),
              (std::vector<std::string>{"add 0 failed", "delete 1 failed", "delete 2 failed",
                                        "delete 3 failed", "delete 4 failed", "delete 5 failed",
                                        "add 2 failed"}));
    const auto started = retryTimerCalls("SetTimer");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].args[0], reinterpret_cast<DWORD_PTR>(host()));
    EXPECT_EQ(started[0].args[2], kTrayRetryPeriodMs);
    EXPECT_EQ(started[0].args[3], 0u) << "the tick comes as WM_TIMER to the host window";

    // Not added yet, so not shown: a new title waits for the add.
    clearRecordedCalls();
    startSong();
    EXPECT_TRUE(shellSteps().empty());

    // A tick: each add fails again, and an icon the shell may hold after all
    // (an add that timed out) is not there to be modified either.
    retryTick();
    EXPECT_EQ(shellOutcomes(), (std::vector<std::string>{"add 0 failed", "modify 0 failed",
                                                         "add 2 failed", "modify 2 failed"}));
    // The next tick comes from the timer itself; the shell takes both icons,
    // the main one with the title it missed.
    clearRecordedCalls();
    ASSERT_TRUE(standin::pumpUntil([] { return shellSteps().size() >= 2; }, 10000))
        << "the retry timer never ticked";
    EXPECT_EQ(shellOutcomes(), (std::vector<std::string>{"add 0", "add 2"}));
    expectMainRecord(shellCalls()[0], true, kFullFlags, "First Song");
    expectButtonRecord(shellCalls()[1], true);
    EXPECT_EQ(retryTimerCalls("KillTimer").size(), 1u) << "nothing left to try";

    // Shown now: titles go straight to the shell, and ticks change nothing.
    clearRecordedCalls();
    startSong();
    retryTick();
    EXPECT_EQ(shellOutcomes(), (std::vector<std::string>{"modify 0"}));
}

class TrayShellAbsentTest : public TrayLogOnTest {
  protected:
    TrayShellAbsentTest() { failedAdds_ = 1000; }
};

TEST_F(TrayShellAbsentTest, TriesForAMinuteThenWaitsForTaskbarCreated) {
    clearRecordedCalls();
    for (int tick = 0; tick < 30; ++tick)
        retryTick();
    EXPECT_EQ(shellSteps().size(), 30u * 4) << "30 ticks of 2 s: an add and a modify for each icon";
    EXPECT_EQ(retryTimerCalls("KillTimer").size(), 1u) << "the minute is over";
    clearRecordedCalls();
    retryTick(); // one already queued
    EXPECT_TRUE(shellSteps().empty());

    // The shell starts at last and says so.
    failIconAdds(0);
    taskbarCreated();
    EXPECT_EQ(shellOutcomes(), (std::vector<std::string>{"add 0", "add 2"}));
    EXPECT_TRUE(retryTimerCalls("SetTimer").empty());
    clearRecordedCalls();
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(shellSteps(), steps("modify", {0}) + steps("delete", {0}) + kDeleteAllButtons);
}

// The retry timer lives no longer than the plug-in: quit ends it, and so does
// the host window's end when the host closes its windows first.
TEST_F(TrayShellAbsentTest, QuitEndsTheRetry) {
    clearRecordedCalls();
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(retryTimerCalls("KillTimer").size(), 1u);
}

TEST_F(TrayShellAbsentTest, ClosingTheHostEndsTheRetry) {
    clearRecordedCalls();
    ASSERT_TRUE(standin::closePlayer()) << standin::pluginError();
    EXPECT_EQ(retryTimerCalls("KillTimer").size(), 1u);
}

// Windows sends "TaskbarCreated" after a DPI change too, while the shell
// still holds the icons: an add fails, and the icons get their new images.
class TrayNextButtonTest : public TrayTest {
  protected:
    TrayNextButtonTest() { ini_ = iniShowing({4}); }
};

TEST_F(TrayNextButtonTest, AfterADpiChangeTheIconsTheShellHoldsAreRedrawnAtTheNewSize) {
    startSong();
    clearRecordedCalls();
    fakeScreenDpi(144);
    taskbarCreated();
    EXPECT_EQ(shellOutcomes(),
              (std::vector<std::string>{"add 0 failed", "modify 0", "add 5 failed", "modify 5"}));
    const auto calls = shellCalls();
    ASSERT_EQ(calls.size(), 4u);
    expectMainRecord(calls[1], true, kFullFlags, "First Song", 24);
    expectButtonRecord(calls[3], true, 24);
    EXPECT_TRUE(retryTimerCalls("SetTimer").empty()) << "every icon is still shown";

    clearRecordedCalls();
    startSong();
    EXPECT_EQ(shellOutcomes(), (std::vector<std::string>{"modify 0"}));
}

// ---- Tooltip -----------------------------------------------------------------

struct TipCase {
    const char* name;
    std::size_t length;
    bool active;
};

void PrintTo(const TipCase& value, std::ostream* out) {
    *out << value.name;
}

std::string titleOfLength(std::size_t length) {
    std::string title;
    for (std::size_t i = 0; i < length; ++i)
        title += static_cast<char>(i % 10 == 9 ? '|' : 'a' + i / 10 % 26);
    return title;
}

class TrayTipTest : public TrayTest, public testing::WithParamInterface<TipCase> {
  protected:
    TrayTipTest() {
        if (!GetParam().active)
            ini_ = "[Tralmo]\r\nTRALMO_ACTIVE=0\r\n";
    }
    void configure(standin::PlayerOptions& options) override {
        options.titles = {titleOfLength(GetParam().length), "Second Song"};
    }
};

TEST_P(TrayTipTest, ASongStartSetsTheTitleAsTipCutTo127Characters) {
    clearRecordedCalls();
    startSong();
    ASSERT_EQ(shellSteps(), steps("modify", {0}));
    const std::string title = titleOfLength(GetParam().length);
    expectMainRecord(shellCalls()[0], true, NIF_TIP, title.substr(0, kTipChars));
}

INSTANTIATE_TEST_SUITE_P(Titles, TrayTipTest,
                         testing::Values(TipCase{"Short", 6, true},
                                         TipCase{"Exactly127", 127, true},
                                         TipCase{"Of128", 128, true}, TipCase{"Of200", 200, true},
                                         TipCase{"Of200Inactive", 200, false}),
                         [](const auto& info) { return std::string(info.param.name); });

class TrayHiddenTest : public TrayTest {
  protected:
    TrayHiddenTest() { ini_ = "[Tralmo]\r\nTRALMO_SHOW_TRAYICON=0\r\n"; }
};

TEST_F(TrayHiddenTest, AHiddenIconIgnoresTitlesAndShowsTralmoWhenAddedLater) {
    clearRecordedCalls();
    startSong();
    EXPECT_TRUE(shellSteps().empty());

    acceptOptionsWithTrayBox(false);
    EXPECT_TRUE(shellSteps().empty()) << "removing a hidden icon makes no call";

    acceptOptionsWithTrayBox(true);
    ASSERT_EQ(shellSteps(), steps("add", {0}));
    expectMainRecord(shellCalls()[0], true, kFullFlags, "Tralmo");
}

TEST_F(TrayTest, AddingWhileShownChangesNothingAndAReaddShowsTralmo) {
    startSong();
    clearRecordedCalls();
    acceptOptionsWithTrayBox(true);
    EXPECT_TRUE(shellSteps().empty()) << "the tooltip must stay the song's";

    acceptOptionsWithTrayBox(false);
    EXPECT_EQ(shellSteps(), steps("delete", {0}));
    clearRecordedCalls();
    acceptOptionsWithTrayBox(true);
    ASSERT_EQ(shellSteps(), steps("add", {0}));
    expectMainRecord(shellCalls()[0], true, kFullFlags, "Tralmo");

    // A tooltip still waiting behind a hung shell when the icon goes never
    // reaches the icon shown again.
    ASSERT_TRUE(holdTheShellOverSong(1));
    playSong(2);
    acceptOptionsWithTrayBox(false);
    clearRecordedCalls();
    acceptOptionsWithTrayBox(true);
    hangShellUpdates(false);
    settleTrayTips();
    EXPECT_EQ(shellSteps(), steps("add", {0})) << "the waiting tooltip reached the new icon";
}

// ---- Clicks ------------------------------------------------------------------

const LPARAM kMouseMessages[] = {WM_MOUSEMOVE,   WM_LBUTTONDOWN, WM_LBUTTONUP,     WM_LBUTTONDBLCLK,
                                 WM_RBUTTONDOWN, WM_RBUTTONUP,   WM_RBUTTONDBLCLK, WM_MBUTTONDOWN};

TEST_F(TrayTest, ButtonIconsSendTheirCommandOnLeftButtonDownOnly) {
    onTrackPopupMenu([](HMENU, int, int, HWND) {});
    for (int i = 0; i < kButtonCount; ++i) {
        for (const LPARAM mouse : kMouseMessages) {
            SCOPED_TRACE(std::string(kCaptions[i]) + ", mouse message " + std::to_string(mouse));
            standin::clearLog();
            sendToHost(kFirstButtonCallback + i, 0, mouse);
            const std::vector<unsigned> expected =
                mouse == WM_LBUTTONDOWN ? std::vector<unsigned>{host::kCommandPrevious + i}
                                        : std::vector<unsigned>{};
            EXPECT_EQ(playerCommands(), expected);
            EXPECT_EQ(standin::countMessages(standin::Window::Main, kFirstButtonCallback + i), 1u)
                << "the callback goes on to the player";
        }
    }
    EXPECT_EQ(trackedMenus(), 0u);
    EXPECT_TRUE(visibleDialogs().empty());
}

TEST_F(TrayTest, MainIconIgnoresEveryOtherMouseMessage) {
    onTrackPopupMenu([](HMENU, int, int, HWND) {});
    standin::setPlayState(standin::PlayState::Playing);
    clearRecordedCalls();
    for (const LPARAM mouse : {WM_MOUSEMOVE, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK,
                               WM_MBUTTONDOWN, WM_MBUTTONUP}) {
        SCOPED_TRACE("mouse message " + std::to_string(mouse));
        standin::clearLog();
        sendToHost(kMainTrayCallback, 0, mouse);
        EXPECT_TRUE(playerCommands().empty());
        EXPECT_EQ(standin::countQueries(host::kQueryPlayState), 0u);
        EXPECT_EQ(standin::countMessages(standin::Window::Main, kMainTrayCallback), 1u);
    }
    EXPECT_EQ(trackedMenus(), 0u);
    EXPECT_TRUE(shellSteps().empty());
}

struct DoubleClickCase {
    standin::PlayState state;
    unsigned command;
};

void PrintTo(const DoubleClickCase& value, std::ostream* out) {
    *out << standin::stateName(value.state);
}

class TrayDoubleClickTest : public TrayTest, public testing::WithParamInterface<DoubleClickCase> {};

TEST_P(TrayDoubleClickTest, DoubleClickOnTheMainIconPausesUnlessStopped) {
    standin::setPlayState(GetParam().state);
    standin::clearLog();
    sendToHost(kMainTrayCallback, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(playerCommands(), std::vector<unsigned>{GetParam().command});
    const auto& log = standin::messageLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().message, host::kWmUser) << "the play state is asked first";
    EXPECT_EQ(log.front().lParam, host::kQueryPlayState);
}

INSTANTIATE_TEST_SUITE_P(
    States, TrayDoubleClickTest,
    testing::Values(DoubleClickCase{standin::PlayState::Playing, host::kCommandPause},
                    DoubleClickCase{standin::PlayState::Paused, host::kCommandPause},
                    DoubleClickCase{standin::PlayState::Stopped, host::kCommandPlay}),
    [](const auto& info) { return std::string(standin::stateName(info.param.state)); });

TEST_F(TrayTest, RightClickBringsTheHostForwardAndTracksThePopupAtTheCursor) {
    // Another window of ours in front, so the host must be brought forward.
    const HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 500, 300, 50,
                                       20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    SetForegroundWindow(other);
    standin::pumpPending();
    const bool otherWasInFront = GetForegroundWindow() == other;

    const POINT cursor{321, 123};
    fakeCursorPosition(cursor);
    HWND inFront = nullptr;
    onTrackPopupMenu([&](HMENU, int, int, HWND) { inFront = GetForegroundWindow(); });
    const auto subMenus = recordedCalls({"GetSubMenu"});
    clearRecordedCalls();
    sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP);
    DestroyWindow(other);

    // The message after the tracking lets a click elsewhere close the menu.
    EXPECT_EQ(recordedFunctionNames(),
              (std::vector<std::string>{"GetCursorPos", "SetForegroundWindow", "TrackPopupMenu",
                                        "PostMessageA"}));
    const auto tracked = recordedCalls({"TrackPopupMenu"});
    ASSERT_EQ(tracked.size(), 1u);
    ASSERT_EQ(subMenus.size(), 1u);
    const auto& args = tracked[0].args;
    EXPECT_EQ(args[0], subMenus[0].result) << "the popup loaded at init";
    EXPECT_EQ(args[1], static_cast<DWORD_PTR>(TPM_RIGHTBUTTON));
    EXPECT_EQ(static_cast<int>(args[2]), cursor.x);
    EXPECT_EQ(static_cast<int>(args[3]), cursor.y);
    EXPECT_EQ(args[4], 0u);
    EXPECT_EQ(args[5], reinterpret_cast<DWORD_PTR>(host()));
    EXPECT_EQ(args[6], 0u);
    if (otherWasInFront) {
        EXPECT_EQ(inFront, host());
    } else {
        ADD_FAILURE() << "could not put another window in front; the host's coming forward is "
                         "unchecked";
    }
}

// ---- While a dialog is open --------------------------------------------------

struct ModalCase {
    const char* name;
    unsigned command;
};

void PrintTo(const ModalCase& value, std::ostream* out) {
    *out << value.name;
}

class TrayModalTest : public TrayTest, public testing::WithParamInterface<ModalCase> {};

TEST_P(TrayModalTest, OnlyLeftClicksActWhileADialogIsOpen) {
    standin::setPlayState(standin::PlayState::Playing);
    onTrackPopupMenu([](HMENU, int, int, HWND) {});
    bool volumePopupShown = false;
    DialogScript script;
    script
        .then([&](HWND dialog) {
            clearRecordedCalls();
            standin::clearLog();
            sendToHost(kMainTrayCallback, 0, WM_LBUTTONDBLCLK);
            sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP);
            EXPECT_TRUE(playerCommands().empty());
            EXPECT_EQ(standin::countQueries(host::kQueryPlayState), 0u);
            EXPECT_EQ(trackedMenus(), 0u);

            sendToHost(kFirstButtonCallback, 0, WM_LBUTTONDOWN);
            EXPECT_EQ(playerCommands(), std::vector<unsigned>{host::kCommandPrevious});

            sendToHost(kMainTrayCallback, 0, WM_LBUTTONDOWN); // the volume popup, modal too
            EXPECT_TRUE(volumePopupShown);
            pressKey(dialog, VK_ESCAPE);
        })
        .then([&](HWND popup) {
            volumePopupShown = GetDlgItem(popup, IDC_VOLUME_SLIDER) != nullptr;
            pressKey(popup, VK_ESCAPE);
        });
    sendToHost(WM_COMMAND, GetParam().command, 0);
    ASSERT_EQ(script.actionsRun(), 2);

    clearRecordedCalls();
    standin::clearLog();
    sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP);
    EXPECT_EQ(trackedMenus(), 1u) << "the right-click acts again once the dialog closed";
    sendToHost(kMainTrayCallback, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(playerCommands(), std::vector<unsigned>{host::kCommandPause});
}

INSTANTIATE_TEST_SUITE_P(Dialogs, TrayModalTest,
                         testing::Values(ModalCase{"About", IDM_ABOUT},
                                         ModalCase{"Options", IDM_OPTIONS}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
