// The volume and tray-button popup that a left click on the tray icon opens,
// driven from inside its modal loop: where it shows, where its slider
// starts, what moving the slider tells the player, what its check boxes do to
// the tray, and how it closes.
#include "harness.h"
#include "resources/resource.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>
#include <set>

namespace {

HWND sliderOf(HWND popup) {
    return GetDlgItem(popup, IDC_VOLUME_SLIDER);
}

int thumb(HWND popup) {
    return static_cast<int>(SendMessageA(sliderOf(popup), TBM_GETPOS, 0, 0));
}

constexpr auto kVolumeQuery = static_cast<WPARAM>(host::kGetVolumeParam);

bool isSetVolume(const standin::LoggedMessage& entry) {
    return entry.window == standin::Window::Main && entry.message == host::kWmUser &&
           entry.lParam == host::kSetVolume;
}

// What the player was told by message 122 (set volume), in order.
std::vector<WPARAM> volumesSent() {
    std::vector<WPARAM> sent;
    for (const auto& entry : standin::messageLog())
        if (isSetVolume(entry) && entry.wParam != kVolumeQuery)
            sent.push_back(entry.wParam);
    return sent;
}

// How often the player was asked for its volume (122 with wParam -666).
std::size_t volumeQueries() {
    return standin::countMessages([](const standin::LoggedMessage& entry) {
        return isSetVolume(entry) && entry.wParam == kVolumeQuery;
    });
}

size_t deviceQueries() {
    return recordedCalls({"waveOutGetVolume"}).size();
}

// The slider reports a scroll code to the popup as a trackbar does.
void reportScroll(HWND popup, WORD code) {
    const auto position = static_cast<WORD>(thumb(popup));
    SendMessageA(popup, WM_VSCROLL, MAKEWPARAM(code, position),
                 reinterpret_cast<LPARAM>(sliderOf(popup)));
}

// The user drags the thumb to this position.
void dragTo(HWND popup, int position) {
    SendMessageA(sliderOf(popup), TBM_SETPOS, TRUE, position);
    reportScroll(popup, TB_THUMBTRACK);
}

// The button icons that the last refresh of the tray left added, by callback.
std::set<UINT> buttonIconsAdded(const std::vector<ApiCall>& calls) {
    std::set<UINT> added;
    for (const ApiCall& call : calls) {
        const UINT callback = call.icon.uCallbackMessage;
        if (callback < kFirstButtonCallback)
            continue;
        if (call.args[0] == NIM_ADD)
            added.insert(callback);
        else if (call.args[0] == NIM_DELETE)
            added.erase(callback);
    }
    return added;
}

class VolumePopupTest : public PluginTest {
  protected:
    bool initAtSetUp() override { return false; }
    void configure(standin::PlayerOptions& options) override {
        options.volume = hostVolume_;
        options.answerVolume = hostGivesVolume_;
    }

    void start(const std::string& ini = "") {
        if (!ini.empty()) {
            ASSERT_TRUE(standin::writeIniContent(ini));
        }
        ASSERT_TRUE(standin::initPlugin()) << standin::pluginError();
        clearRecordedCalls();
        standin::clearLog();
    }

    // A left click on the tray icon, with `action` run on the popup.
    static void withPopup(const std::function<void(HWND)>& action) {
        DialogScript script;
        script.then(action);
        sendToHost(kMainTrayCallback, 0, WM_LBUTTONDOWN);
        EXPECT_EQ(script.actionsRun(), 1);
    }

    int hostVolume_ = host::kHostVolumeMax;
    bool hostGivesVolume_ = true;
};

// ---- Placement and content ---------------------------------------------------

TEST_F(VolumePopupTest, OpensTopmostWithItsBottomRightCornerAtTheCursor) {
    start();
    fakeCursorPosition(POINT{700, 500});
    withPopup([](HWND popup) {
        RECT frame{};
        GetWindowRect(popup, &frame);
        EXPECT_EQ(frame.right, 700);
        EXPECT_EQ(frame.bottom, 500);
        const LONG exStyle = GetWindowLongA(popup, GWL_EXSTYLE);
        EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
        EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
        EXPECT_FALSE(GetWindowLongA(popup, GWL_STYLE) & WS_CAPTION);
        EXPECT_EQ(GetWindow(popup, GW_OWNER), nullptr);
        EXPECT_EQ(standin::countMessages(standin::Window::Main, kMainTrayCallback), 0u)
            << "the click reaches the player only once the popup has closed";

        const HWND slider = sliderOf(popup);
        ASSERT_NE(slider, nullptr);
        EXPECT_STRCASEEQ(className(slider).c_str(), TRACKBAR_CLASSA);
        const LONG style = GetWindowLongA(slider, GWL_STYLE);
        EXPECT_EQ(style & (TBS_VERT | TBS_BOTH | TBS_NOTICKS), TBS_VERT | TBS_BOTH | TBS_NOTICKS);
        EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0), 0);
        EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 255);

        std::vector<std::string> labels;
        int pictures = 0;
        for (HWND child = GetWindow(popup, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (className(child) != "Static")
                continue;
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
                pictures += SendMessageA(child, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0 ? 1 : 0;
            else
                labels.push_back(windowText(child));
        }
        EXPECT_EQ(labels, (std::vector<std::string>{"Volume", "Tray Icons"}));
        EXPECT_EQ(pictures, 5);
        for (int id = IDC_BUTTON_CHECK_FIRST; id <= IDC_BUTTON_CHECK_LAST; ++id) {
            EXPECT_STRCASEEQ(className(GetDlgItem(popup, id)).c_str(), "Button");
            EXPECT_EQ(windowText(GetDlgItem(popup, id)), "");
        }
        pressKey(popup, VK_ESCAPE);
    });
    EXPECT_EQ(standin::countMessages(standin::Window::Main, kMainTrayCallback), 1u);
}

// Two monitors side by side: the first with its taskbar at the bottom, the
// second with its taskbar on the left.
const std::vector<FakeMonitor> kTwoMonitors = {
    {RECT{0, 0, 1280, 1024}, RECT{0, 0, 1280, 984}},
    {RECT{1280, 0, 2560, 1024}, RECT{1330, 0, 2560, 1024}},
};

// Where one side of the popup's frame lies.
struct Side {
    bool farSide; // the right or bottom side, else the left or top
    LONG at;
};

struct PlacementCase {
    const char* name;
    POINT cursor;
    Side x;
    Side y;
};

void PrintTo(const PlacementCase& c, std::ostream* out) {
    *out << c.name;
}

class PopupPlacement : public VolumePopupTest, public testing::WithParamInterface<PlacementCase> {};

// Its bottom-right corner at the cursor, unless that would put part of it
// off the work area of the monitor the cursor is on.
TEST_P(PopupPlacement, StaysInsideTheWorkAreaOfTheCursorsMonitor) {
    start();
    fakeMonitors(kTwoMonitors);
    fakeCursorPosition(GetParam().cursor);
    withPopup([](HWND popup) {
        RECT frame{};
        GetWindowRect(popup, &frame);
        const PlacementCase& c = GetParam();
        EXPECT_EQ(c.x.farSide ? frame.right : frame.left, c.x.at);
        EXPECT_EQ(c.y.farSide ? frame.bottom : frame.top, c.y.at);
        pressKey(popup, VK_ESCAPE);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Cursor, PopupPlacement,
    testing::Values(
        PlacementCase{"AtTheCursor", POINT{700, 500}, Side{true, 700}, Side{true, 500}},
        PlacementCase{"OnTheTaskbar", POINT{1200, 1010}, Side{true, 1200}, Side{true, 984}},
        PlacementCase{"InTheTopLeftCorner", POINT{5, 5}, Side{false, 0}, Side{false, 0}},
        PlacementCase{"BesideTheSecondMonitorsTaskbar", POINT{1300, 600}, Side{false, 1330},
                      Side{true, 600}}),
    [](const testing::TestParamInfo<PlacementCase>& info) { return info.param.name; });

// A popup that is not the foreground window never hears the click elsewhere
// that should close it: it must come forward once it is shown.
TEST_F(VolumePopupTest, ComesToTheForegroundOnceItIsShown) {
    start();
    const HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 500, 300, 50,
                                       20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    SetForegroundWindow(other);
    standin::pumpPending();
    withPopup([](HWND popup) {
        EXPECT_EQ(GetForegroundWindow(), popup);
        const auto calls = recordedCalls({"SetForegroundWindow"});
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args[0], reinterpret_cast<DWORD_PTR>(popup));
        EXPECT_TRUE(calls[0].windowVisible) << "brought forward before it was shown";
        SetForegroundWindow(standin::mainWindow()); // the user clicks elsewhere
    });
    EXPECT_TRUE(visibleDialogs().empty()) << "the click elsewhere closed it";
    DestroyWindow(other);
}

// ---- Where the slider starts -------------------------------------------------

struct VolumeCase {
    const char* name;
    int iniVolume;               // -1: no "volume" key
    std::optional<DWORD> device; // nullopt: the device query fails
    bool deviceAsked;
    int thumb;
};

void PrintTo(const VolumeCase& c, std::ostream* out) {
    *out << c.name;
}

// A host that gives no volume (its answer is out of range): the slider starts
// from what the ini file or the wave device tell.
class VolumeRule : public VolumePopupTest, public testing::WithParamInterface<VolumeCase> {
  protected:
    VolumeRule() { hostGivesVolume_ = false; }
};

TEST_P(VolumeRule, WithoutTheHostsVolumeTheSliderStartsFromTheIniOrTheLeftChannel) {
    const VolumeCase& c = GetParam();
    start(c.iniVolume < 0 ? "" : "[Winamp]\r\nvolume=" + std::to_string(c.iniVolume) + "\r\n");
    fakeWaveOutVolume(c.device);
    withPopup([&](HWND popup) {
        EXPECT_EQ(thumb(popup), c.thumb);
        pressKey(popup, VK_ESCAPE);
    });
    const auto queries = recordedCalls({"waveOutGetVolume"});
    ASSERT_EQ(queries.size(), c.deviceAsked ? 1u : 0u);
    if (c.deviceAsked) {
        EXPECT_EQ(queries[0].args[0], 0u) << "device 0, by a null handle";
    }
    EXPECT_TRUE(volumesSent().empty()) << "opening tells the player nothing";
    EXPECT_EQ(volumeQueries(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Volume, VolumeRule,
    testing::Values(VolumeCase{"NoKeyMeans30AndNoDeviceQuery", -1, 0xFFFFFFFF, false, 225},
                    VolumeCase{"Stored30SkipsTheDevice", 30, 0xFFFFFFFF, false, 225},
                    VolumeCase{"FullDevice", 200, 0xFFFFFFFF, true, 0},
                    VolumeCase{"SilentLeftLoudRight", 200, 0xFFFF0000, true, 255},
                    VolumeCase{"HalfLeft", 200, 0x00008000, true, 128},
                    VolumeCase{"LeftStepOf257", 200, 0x12340101, true, 254},
                    VolumeCase{"FailedQueryKeepsTheStoredVolume", 200, std::nullopt, true, 55}),
    [](const testing::TestParamInfo<VolumeCase>& info) { return info.param.name; });

class HostVolumeTest : public VolumePopupTest {
  protected:
    HostVolumeTest() { hostVolume_ = 200; }
};

// Winamp writes its ini key only when it exits, and the wave device is not
// the player's own level: the slider shows what the player says now.
TEST_F(HostVolumeTest, TheSliderShowsThePlayersVolumeAsItIsNow) {
    start("[Winamp]\r\nvolume=30\r\n");
    fakeWaveOutVolume(0xFFFFFFFF);
    withPopup([](HWND popup) {
        EXPECT_EQ(thumb(popup), 255 - 200);
        pressKey(popup, VK_ESCAPE);
    });
    EXPECT_EQ(deviceQueries(), 0u);
    EXPECT_EQ(volumeQueries(), 1u);
    EXPECT_TRUE(volumesSent().empty());
    EXPECT_EQ(standin::volume(), 200) << "asking changes nothing";

    // The user turns the player's own volume down; the next popup follows.
    standin::setVolume(90);
    withPopup([](HWND popup) {
        EXPECT_EQ(thumb(popup), 255 - 90);
        dragTo(popup, 100);
        pressKey(popup, VK_ESCAPE);
    });
    EXPECT_EQ(standin::volume(), 155);
    withPopup([](HWND popup) {
        EXPECT_EQ(thumb(popup), 100);
        pressKey(popup, VK_ESCAPE);
    });
    EXPECT_EQ(deviceQueries(), 0u);
}

// ---- Moving the slider ---------------------------------------------------------

class HalfVolumeTest : public VolumePopupTest {
  protected:
    HalfVolumeTest() { hostVolume_ = 127; }
};

TEST_F(HalfVolumeTest, OnlyDraggingTheThumbSetsThePlayersVolume) {
    start();
    withPopup([](HWND popup) {
        const HWND slider = sliderOf(popup);
        ASSERT_EQ(thumb(popup), 128);
        // Arrow and page keys move the thumb through the trackbar itself.
        for (const UINT key : {VK_DOWN, VK_NEXT, VK_UP, VK_END}) {
            SendMessageA(slider, WM_KEYDOWN, key, 1);
            SendMessageA(slider, WM_KEYUP, key, 0xC0000001);
        }
        EXPECT_EQ(thumb(popup), 255) << "the keys moved the thumb";
        for (const WORD code : {TB_LINEUP, TB_LINEDOWN, TB_PAGEUP, TB_PAGEDOWN, TB_TOP, TB_BOTTOM,
                                TB_THUMBPOSITION, TB_ENDTRACK}) {
            SendMessageA(slider, TBM_SETPOS, TRUE, 40);
            reportScroll(popup, code);
        }
        EXPECT_TRUE(volumesSent().empty());
        EXPECT_EQ(standin::volume(), 127);

        dragTo(popup, 100);
        dragTo(popup, 0);
        dragTo(popup, 255);
        dragTo(popup, 60);
        EXPECT_EQ(volumesSent(), (std::vector<WPARAM>{155, 255, 0, 195})) << "one each, inverted";
        EXPECT_EQ(standin::volume(), 195);

        // A real drag with the mouse: press on the thumb, move down, release.
        RECT box{};
        SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&box));
        const int x = (box.left + box.right) / 2, y = (box.top + box.bottom) / 2;
        SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageA(slider, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y + 20));
        SendMessageA(slider, WM_LBUTTONUP, 0, MAKELPARAM(x, y + 20));
        const auto sent = volumesSent();
        ASSERT_GT(sent.size(), 4u) << "the drag reported thumb tracking";
        EXPECT_GT(thumb(popup), 60) << "the thumb moved down";
        EXPECT_EQ(sent.back(), static_cast<WPARAM>(255 - thumb(popup)));
        EXPECT_EQ(standin::volume(), 255 - thumb(popup));
        pressKey(popup, VK_ESCAPE);
    });
}

class SilentHostTest : public VolumePopupTest {
  protected:
    SilentHostTest() { hostGivesVolume_ = false; }
};

TEST_F(SilentHostTest, AfterADragToExactly30TheNextPopupSkipsTheDevice) {
    start("[Winamp]\r\nvolume=200\r\n");
    fakeWaveOutVolume(0xFFFFFFFF);
    withPopup([](HWND popup) {
        EXPECT_EQ(deviceQueries(), 1u);
        dragTo(popup, 225);
        pressKey(popup, VK_ESCAPE);
    });
    EXPECT_EQ(standin::volume(), 30);

    clearRecordedCalls();
    withPopup([](HWND popup) {
        EXPECT_EQ(deviceQueries(), 0u);
        EXPECT_EQ(thumb(popup), 225);
        dragTo(popup, 224); // volume 31
        pressKey(popup, VK_ESCAPE);
    });

    // The device is asked again; when it fails, the dragged volume stays.
    fakeWaveOutVolume(std::nullopt);
    withPopup([](HWND popup) {
        EXPECT_EQ(deviceQueries(), 1u);
        EXPECT_EQ(thumb(popup), 224);
        pressKey(popup, VK_ESCAPE);
    });
}

// ---- Tray-button switches ----------------------------------------------------

TEST_F(VolumePopupTest, CheckBoxesSwitchTheButtonIconsWhileThePopupStaysOpen) {
    start("[Tralmo]\r\nPLAY_BUTTON=1\r\nSTOP_BUTTON=1\r\n");
    withPopup([](HWND popup) {
        const bool expected[] = {false, true, false, true, false};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(isChecked(popup, IDC_BUTTON_CHECK_FIRST + i), expected[i]) << i;

        clearRecordedCalls();
        clickButton(popup, IDC_BUTTON_CHECK_FIRST); // previous: on
        EXPECT_EQ(buttonIconsAdded(recordedCalls({"Shell_NotifyIconA"})),
                  (std::set<UINT>{kFirstButtonCallback, kFirstButtonCallback + 1,
                                  kFirstButtonCallback + 3}));
        clearRecordedCalls();
        clickButton(popup, IDC_BUTTON_CHECK_FIRST + 1); // play: off
        EXPECT_EQ(buttonIconsAdded(recordedCalls({"Shell_NotifyIconA"})),
                  (std::set<UINT>{kFirstButtonCallback, kFirstButtonCallback + 3}));
        EXPECT_TRUE(IsWindowVisible(popup));

        // Only a click counts: other notifications and ids change nothing.
        clearRecordedCalls();
        SendMessageA(popup, WM_COMMAND, MAKEWPARAM(IDC_BUTTON_CHECK_FIRST + 2, BN_SETFOCUS),
                     reinterpret_cast<LPARAM>(GetDlgItem(popup, IDC_BUTTON_CHECK_FIRST + 2)));
        SendMessageA(popup, WM_COMMAND, MAKEWPARAM(IDC_VOLUME_SLIDER, 0), 0);
        EXPECT_TRUE(recordedCalls({"Shell_NotifyIconA"}).empty());
        pressKey(popup, VK_ESCAPE);
    });
    EXPECT_TRUE(recordedCalls(kIniWrites).empty());

    ASSERT_TRUE(standin::quitPlugin());
    const auto lines = standin::readIniSection("Tralmo");
    for (const char* line :
         {"PREV_BUTTON=1", "PLAY_BUTTON=0", "PAUSE_BUTTON=0", "STOP_BUTTON=1", "NEXT_BUTTON=0"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
}

// ---- Closing -------------------------------------------------------------------

enum class Close { Enter, Escape, ClickElsewhere };

const char* nameOf(Close how) {
    switch (how) {
    case Close::Enter:
        return "Enter";
    case Close::Escape:
        return "Escape";
    default:
        return "ClickElsewhere";
    }
}
void PrintTo(Close how, std::ostream* out) {
    *out << nameOf(how);
}

class PopupClosing : public VolumePopupTest, public testing::WithParamInterface<Close> {};

TEST_P(PopupClosing, EndsThePopupSoThatTheNextClickOpensAnother) {
    start();
    withPopup([&](HWND popup) {
        switch (GetParam()) {
        case Close::Enter:
            pressKey(popup, VK_RETURN);
            break;
        case Close::Escape:
            pressKey(popup, VK_ESCAPE);
            break;
        case Close::ClickElsewhere:
            ASSERT_EQ(GetActiveWindow(), popup);
            SetActiveWindow(host());
            break;
        }
    });
    EXPECT_TRUE(visibleDialogs().empty());
    withPopup([](HWND popup) { pressKey(popup, VK_ESCAPE); });
}

INSTANTIATE_TEST_SUITE_P(By, PopupClosing,
                         testing::Values(Close::Enter, Close::Escape, Close::ClickElsewhere),
                         [](const testing::TestParamInfo<Close>& info) {
                             return nameOf(info.param);
                         });

// A deactivation sent while the popup initialises, before it is shown.
HHOOK gEarlyDeactivation = nullptr;
int gEarlyDeactivations = 0;

LRESULT CALLBACK deactivateAfterInit(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->message == WM_INITDIALOG && className(sent->hwnd) == "#32770") {
        ++gEarlyDeactivations;
        SendMessageA(sent->hwnd, WM_ACTIVATE, WA_INACTIVE, 0);
    }
    return CallNextHookEx(gEarlyDeactivation, code, wParam, lParam);
}

TEST_F(VolumePopupTest, DeactivationBeforeItIsShownDoesNotEndIt) {
    start();
    gEarlyDeactivations = 0;
    gEarlyDeactivation =
        SetWindowsHookExA(WH_CALLWNDPROCRET, deactivateAfterInit, nullptr, GetCurrentThreadId());
    ASSERT_NE(gEarlyDeactivation, nullptr);
    withPopup([](HWND popup) {
        EXPECT_EQ(gEarlyDeactivations, 1);
        EXPECT_TRUE(IsWindowVisible(popup));
        pressKey(popup, VK_ESCAPE);
    });
    UnhookWindowsHookEx(gEarlyDeactivation);
}

TEST_F(VolumePopupTest, ASecondClickWhileOpenOpensNoSecondPopup) {
    start();
    withPopup([](HWND popup) {
        sendToHost(kMainTrayCallback, 0, WM_LBUTTONDOWN);
        EXPECT_EQ(visibleDialogs(), std::vector<HWND>{popup});
        EXPECT_EQ(standin::countMessages(standin::Window::Main, kMainTrayCallback), 1u)
            << "the second click went straight on to the player";
        pressKey(popup, VK_ESCAPE);
    });
    EXPECT_EQ(standin::countMessages(standin::Window::Main, kMainTrayCallback), 2u);
}

} // namespace
