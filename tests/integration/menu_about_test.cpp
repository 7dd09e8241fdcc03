// The tray icon's popup menu and the about box, used as a person would.
#include "harness.h"

#include "resources/resource.h"
#include "thread_windows.h"

#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kMenuWindowClass[] = "#32768";
// Safety bounds for the menu loop, in timer ticks; nothing here measures time.
constexpr UINT kTickMs = 10;
constexpr int kTicksAllowed = 1000;

// The menu handle the plug-in asks to track on a right-click, with the
// tracking itself stood in for; null if no menu was asked for.
HMENU rightClickMenu() {
    HMENU tracked = nullptr;
    onTrackPopupMenu([&](HMENU menu, int, int, HWND) { tracked = menu; });
    sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP);
    onTrackPopupMenu(nullptr);
    return tracked;
}

// The menu handle of the latest tracking request, also while it is tracked.
HMENU trackedMenu() {
    const auto calls = recordedCalls({"TrackPopupMenu"});
    return calls.empty() ? nullptr : reinterpret_cast<HMENU>(calls.back().args[0]);
}

bool activeChecked(HMENU menu) {
    return (GetMenuState(menu, IDM_ACTIVE, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

std::string menuText(HMENU menu, int position) {
    char text[64] = {};
    GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
    return text;
}

HWND visibleMenuWindow() {
    return win32::threadWindowOfClass(kMenuWindowClass, win32::Shown::VisibleOnly);
}

// Runs `action` from inside the real popup menu's own loop once the menu
// shows. A menu that never shows, or stays open after the action, fails the
// test (and is ended), so a broken expectation cannot hang the run.
struct MenuLoopScript {
    std::function<void(HWND menuWindow)> action;
    bool acted = false;
    int ticks = 0;
};
MenuLoopScript* gMenuScript = nullptr;

void CALLBACK menuLoopTick(HWND, UINT, UINT_PTR, DWORD) {
    MenuLoopScript* script = gMenuScript;
    if (script == nullptr)
        return;
    const HWND menuWindow = visibleMenuWindow();
    if (!script->acted && menuWindow != nullptr) {
        script->acted = true;
        script->action(menuWindow);
        script->ticks = 0;
    } else if (++script->ticks > kTicksAllowed) {
        ADD_FAILURE() << (script->acted ? "the menu stayed open" : "no menu showed");
        EndMenu();
        gMenuScript = nullptr;
    }
}

bool whileMenuOpen(const std::function<void()>& open, std::function<void(HWND menuWindow)> action) {
    MenuLoopScript script{std::move(action)};
    gMenuScript = &script;
    const UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, menuLoopTick);
    open();
    KillTimer(nullptr, timer);
    gMenuScript = nullptr;
    standin::pumpPending(); // a chosen item's command is posted to the host
    return script.acted;
}

// Real mouse input: the cursor moves there and the left button goes down and up.
void clickAt(POINT screen) {
    SetCursorPos(screen.x, screen.y);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof(INPUT));
}

POINT centreOf(const RECT& rect) {
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void postKey(UINT key) {
    PostMessageA(standin::mainWindow(), WM_KEYDOWN, key, 1);
    PostMessageA(standin::mainWindow(), WM_KEYUP, key, 0xC0000001);
}

std::size_t hostCommands() {
    return standin::countMessages(standin::Window::Main, WM_COMMAND);
}

class MenuTest : public PluginTest {
  protected:
    void prepare() override { ASSERT_TRUE(standin::writeIniContent(ini_)); }
    std::string ini_;
};

// ---- The menu ----------------------------------------------------------------

TEST_F(MenuTest, OffersOptionsSeparatorActiveAndAboutFromTheModulesMenu) {
    const HMENU menu = rightClickMenu();
    ASSERT_NE(menu, nullptr);
    const auto loads = recordedCalls({"LoadMenuA"});
    const auto subMenus = recordedCalls({"GetSubMenu"});
    ASSERT_EQ(loads.size(), 1u);
    ASSERT_EQ(subMenus.size(), 1u);
    EXPECT_EQ(loads[0].args[0], reinterpret_cast<DWORD_PTR>(standin::pluginModule()));
    EXPECT_EQ(loads[0].text, "POPMENU");
    EXPECT_EQ(subMenus[0].args, (std::vector<DWORD_PTR>{loads[0].result, 0}));
    EXPECT_EQ(reinterpret_cast<HMENU>(subMenus[0].result), menu);

    ASSERT_EQ(GetMenuItemCount(menu), 4);
    EXPECT_EQ(menuText(menu, 0), "Options");
    EXPECT_EQ(GetMenuItemID(menu, 0), static_cast<UINT>(IDM_OPTIONS));
    EXPECT_NE(GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR, 0u);
    EXPECT_EQ(menuText(menu, 2), "Active");
    EXPECT_EQ(GetMenuItemID(menu, 2), static_cast<UINT>(IDM_ACTIVE));
    EXPECT_EQ(menuText(menu, 3), "About");
    EXPECT_EQ(GetMenuItemID(menu, 3), static_cast<UINT>(IDM_ABOUT));
    for (const UINT position : {0u, 2u, 3u}) {
        const UINT state = GetMenuState(menu, position, MF_BYPOSITION);
        EXPECT_EQ(state & (MF_GRAYED | MF_DISABLED | MF_POPUP), 0u) << "item " << position;
    }
}

struct ActiveCase {
    const char* name;
    const char* ini;
    std::vector<WPARAM> commands; // sent before the right-click
    bool checked;
};

void PrintTo(const ActiveCase& value, std::ostream* out) {
    *out << value.name;
}

class ActiveMarkTest : public MenuTest, public testing::WithParamInterface<ActiveCase> {
  protected:
    ActiveMarkTest() { ini_ = GetParam().ini; }
};

TEST_P(ActiveMarkTest, TheMarkFollowsTheSwitchThatQuitSaves) {
    for (const WPARAM command : GetParam().commands)
        sendToHost(WM_COMMAND, command, 0);
    const HMENU menu = rightClickMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(activeChecked(menu), GetParam().checked);
    for (const UINT other : {0u, 1u, 3u})
        EXPECT_EQ(GetMenuState(menu, other, MF_BYPOSITION) & MF_CHECKED, 0u) << "item " << other;

    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_ACTIVE"), GetParam().checked ? "1" : "0");
}

constexpr char kInactiveIni[] = "[Tralmo]\r\nTRALMO_ACTIVE=0\r\n";

INSTANTIATE_TEST_SUITE_P(
    Toggles, ActiveMarkTest,
    testing::Values(
        ActiveCase{"FirstStart", "", {}, true}, ActiveCase{"ToggledOff", "", {IDM_ACTIVE}, false},
        ActiveCase{"ToggledBackOn", "", {IDM_ACTIVE, IDM_ACTIVE}, true},
        ActiveCase{"ToggledWithHighWord", "", {MAKEWPARAM(IDM_ACTIVE, 1)}, false},
        ActiveCase{"OffInIni", kInactiveIni, {}, false},
        ActiveCase{"OffInIniToggledOn", kInactiveIni, {IDM_ACTIVE}, true},
        // Neither has an item; the Active mark must not move.
        ActiveCase{"OtherSwitchesToggled", "", {IDM_STOP_ON_CALL, IDM_SET_MOOD_ON_EXIT}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Tracking the real menu --------------------------------------------------

TEST_F(MenuTest, TheMenuOpensAtTheCursorAndAKeyboardChoiceSendsItsCommand) {
    const POINT cursor{200, 150};
    fakeCursorPosition(cursor);
    RECT shownAt{};
    const bool shown = whileMenuOpen([] { sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP); },
                                     [&](HWND menuWindow) {
                                         GetWindowRect(menuWindow, &shownAt);
                                         postKey(VK_DOWN); // Options
                                         postKey(VK_DOWN); // Active, past the separator
                                         postKey(VK_RETURN);
                                     });
    ASSERT_TRUE(shown);
    EXPECT_EQ(shownAt.left, cursor.x);
    EXPECT_EQ(shownAt.top, cursor.y);
    EXPECT_EQ(standin::countCommands(standin::Window::Main, IDM_ACTIVE), 1u);
    EXPECT_FALSE(activeChecked(rightClickMenu()));
}

enum class Dismissal { EscapeKey, ClickElsewhere };

class MenuDismissTest : public MenuTest, public testing::WithParamInterface<Dismissal> {};

TEST_P(MenuDismissTest, ChoosingNoItemSendsNoCommand) {
    fakeCursorPosition(POINT{200, 150});
    standin::clearLog();
    const bool shown = whileMenuOpen([] { sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP); },
                                     [](HWND menuWindow) {
                                         if (GetParam() == Dismissal::EscapeKey) {
                                             postKey(VK_ESCAPE);
                                             return;
                                         }
                                         RECT menu{};
                                         GetWindowRect(menuWindow, &menu);
                                         clickAt(POINT{menu.right + 150, menu.bottom + 100});
                                     });
    ASSERT_TRUE(shown);
    // The plug-in posts the host a message once the menu has closed: a
    // command the menu posted would come before it.
    ASSERT_TRUE(standin::pumpUntil(
        [] { return standin::countMessages(standin::Window::Main, WM_NULL) > 0; }, 5000));
    EXPECT_EQ(hostCommands(), 0u);
    EXPECT_EQ(visibleMenuWindow(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Ways, MenuDismissTest,
                         testing::Values(Dismissal::EscapeKey, Dismissal::ClickElsewhere),
                         [](const auto& info) {
                             return std::string(info.param == Dismissal::EscapeKey
                                                    ? "EscapeKey"
                                                    : "ClickElsewhere");
                         });

TEST_F(MenuTest, ClickingAboutInTheMenuOpensTheAboutBox) {
    fakeCursorPosition(POINT{200, 150});
    std::string caption;
    DialogScript script;
    script.then([&](HWND dialog) {
        caption = windowText(dialog);
        clickButton(dialog, IDOK);
    });
    const bool shown =
        whileMenuOpen([] { sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP); },
                      [](HWND menuWindow) {
                          RECT about{};
                          ASSERT_TRUE(GetMenuItemRect(menuWindow, trackedMenu(), 3, &about));
                          clickAt(centreOf(about));
                      });
    ASSERT_TRUE(shown);
    EXPECT_EQ(script.actionsRun(), 1);
    EXPECT_EQ(caption, "Tralmo");
    EXPECT_EQ(standin::countCommands(standin::Window::Main, IDM_ABOUT), 1u);
}

// ---- The about box -----------------------------------------------------------

struct ExpectedControl {
    const char* windowClass;
    DWORD type; // the style's type bits
    DWORD extraStyle;
    RECT units; // x, y, width, height in dialog units
    const char* text;
};

const ExpectedControl kAboutControls[] = {
    {"Button", BS_DEFPUSHBUTTON, WS_TABSTOP, {69, 65, 50, 14}, "OK"},
    {"Static",
     SS_LEFT,
     0,
     {35, 5, 146, 26},
     "Tralmo plug-in displays title and current state of the playing song near your name in the "
     "Skype's Contact lists of your friends."},
    {"Static", SS_CENTER, SS_SUNKEN, {7, 33, 174, 24}, "\nThanks for using Tralmo plugin:)"},
    {"Static", SS_ICON, 0, {8, 6, 0, 0}, nullptr},
};

RECT clientRectOf(HWND control, HWND dialog) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The dialog manager converts position and size each on its own.
RECT pixelsOf(HWND dialog, const RECT& units) {
    RECT mapped = units;
    MapDialogRect(dialog, &mapped);
    return RECT{mapped.left, mapped.top, mapped.left + mapped.right, mapped.top + mapped.bottom};
}

void expectControl(HWND dialog, HWND control, const ExpectedControl& want) {
    EXPECT_EQ(className(control), want.windowClass);
    const DWORD style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
    const DWORD typeMask = std::string(want.windowClass) == "Button" ? BS_TYPEMASK : SS_TYPEMASK;
    EXPECT_EQ(style & typeMask, want.type);
    EXPECT_EQ(style & want.extraStyle, want.extraStyle);
    const RECT expected = pixelsOf(dialog, want.units);
    const RECT actual = clientRectOf(control, dialog);
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    if (want.text != nullptr) {
        EXPECT_EQ(actual.right, expected.right);
        EXPECT_EQ(actual.bottom, expected.bottom);
        EXPECT_EQ(windowText(control), want.text);
    } else {
        // An icon control takes the icon's size.
        EXPECT_NE(SendMessageA(control, STM_GETICON, 0, 0), 0);
        EXPECT_EQ(actual.right - actual.left, GetSystemMetrics(SM_CXICON));
        EXPECT_EQ(actual.bottom - actual.top, GetSystemMetrics(SM_CYICON));
    }
}

void expectCentredIn(HWND dialog, const RECT& area) {
    RECT box{};
    GetWindowRect(dialog, &box);
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    EXPECT_EQ(box.left, area.left + (area.right - area.left - width) / 2);
    EXPECT_EQ(box.top, area.top + (area.bottom - area.top - height) / 2);
}

void expectCentredInWorkArea(HWND dialog) {
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    expectCentredIn(dialog, work);
}

void expectTahomaEight(HWND dialog) {
    const auto font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTA logical{};
    ASSERT_NE(GetObjectA(font, sizeof logical, &logical), 0);
    EXPECT_STREQ(logical.lfFaceName, "Tahoma");
    const HDC screen = GetDC(nullptr);
    const int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(logical.lfHeight, -MulDiv(8, pixelsPerInch, 72));
}

using AboutTest = MenuTest;

TEST_F(AboutTest, TheBoxShowsItsTemplateCentredWithTheRuntimeCaption) {
    for (int opening = 1; opening <= 2; ++opening) {
        SCOPED_TRACE("opening " + std::to_string(opening));
        DialogScript script;
        script.then([&](HWND dialog) {
            EXPECT_EQ(windowText(dialog), "Tralmo");
            EXPECT_EQ(GetWindow(dialog, GW_OWNER), host());
            EXPECT_FALSE(IsWindowEnabled(host())) << "modal to the host";
            const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
            const DWORD frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
            EXPECT_EQ(style & frame, frame);
            EXPECT_EQ(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
            expectCentredInWorkArea(dialog);
            expectTahomaEight(dialog);
            std::vector<HWND> controls;
            for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
                controls.push_back(c);
            ASSERT_EQ(controls.size(), std::size(kAboutControls));
            for (std::size_t i = 0; i < controls.size(); ++i) {
                SCOPED_TRACE("control " + std::to_string(i + 1));
                expectControl(dialog, controls[i], kAboutControls[i]);
            }
            EXPECT_EQ(GetDlgItem(dialog, IDOK), controls[0]);
            clickButton(dialog, IDOK);
        });
        sendToHost(WM_COMMAND, IDM_ABOUT, 0);
        EXPECT_EQ(script.actionsRun(), 1);
    }
}

struct CloseCase {
    const char* name;
    std::function<void(HWND dialog)> close;
};

void PrintTo(const CloseCase& value, std::ostream* out) {
    *out << value.name;
}

// The close box as a person hits it: a real click on the caption's button,
// found where the window itself says the close box is.
void clickCloseBox(HWND dialog) {
    RECT frame{};
    GetWindowRect(dialog, &frame);
    const int captionMiddle =
        frame.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    for (int x = frame.right - 1; x > frame.left; --x) {
        if (SendMessageA(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, captionMiddle)) == HTCLOSE) {
            clickAt(POINT{x - GetSystemMetrics(SM_CXSIZE) / 4, captionMiddle});
            return;
        }
    }
    ADD_FAILURE() << "no close box on the caption";
    pressKey(dialog, VK_ESCAPE);
}

const CloseCase kCloseCases[] = {
    {"OkButton", [](HWND dialog) { clickButton(dialog, IDOK); }},
    {"MouseOnOk",
     [](HWND dialog) {
         RECT ok{};
         GetWindowRect(GetDlgItem(dialog, IDOK), &ok);
         clickAt(centreOf(ok));
     }},
    {"EnterKey", [](HWND dialog) { pressKey(dialog, VK_RETURN); }},
    {"EscapeKey", [](HWND dialog) { pressKey(dialog, VK_ESCAPE); }},
    {"OkWithHighWord",
     [](HWND dialog) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0); }},
    {"CloseCommand", [](HWND dialog) { SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    {"MouseOnCloseBox", clickCloseBox},
};

class AboutCloseTest : public AboutTest, public testing::WithParamInterface<CloseCase> {};

TEST_P(AboutCloseTest, ClosingReturnsFromTheCommandAndReopensTheTrayGate) {
    bool menuWhileOpen = true;
    DialogScript script;
    script.then([&](HWND dialog) {
        menuWhileOpen = rightClickMenu() != nullptr;
        EXPECT_EQ(standin::countCommands(standin::Window::Main, IDM_ABOUT), 0u)
            << "the command goes on to the host only once the box is closed";
        GetParam().close(dialog);
    });
    standin::clearLog();
    sendToHost(WM_COMMAND, IDM_ABOUT, 0);
    ASSERT_EQ(script.actionsRun(), 1);
    EXPECT_FALSE(menuWhileOpen) << "a right-click showed the menu while the box was open";
    EXPECT_TRUE(visibleDialogs().empty());
    EXPECT_TRUE(IsWindowEnabled(host()));
    EXPECT_EQ(standin::countCommands(standin::Window::Main, IDM_ABOUT), 1u);
    EXPECT_NE(rightClickMenu(), nullptr) << "the right-click must act again";
}

INSTANTIATE_TEST_SUITE_P(Ways, AboutCloseTest, testing::ValuesIn(kCloseCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

// ---- Where the dialogs open ----------------------------------------------------

namespace {

// Two monitors side by side, each with a taskbar that the work area leaves out.
const std::vector<FakeMonitor> kTwoMonitors = {
    {RECT{0, 0, 1280, 1024}, RECT{0, 0, 1280, 984}},
    {RECT{1280, 0, 2560, 1024}, RECT{1330, 0, 2560, 1024}},
};

struct PlacementCase {
    const char* name;
    UINT command; // what opens the dialog
    int hostX;    // where the host's main window lies
    int monitor;  // and the monitor that holds it
};

void PrintTo(const PlacementCase& c, std::ostream* out) {
    *out << c.name;
}

class DialogPlacementTest : public MenuTest, public testing::WithParamInterface<PlacementCase> {};

// The dialogs open where the player is, clear of the taskbar.
TEST_P(DialogPlacementTest, OpensCentredInTheWorkAreaOfTheHostsMonitor) {
    fakeMonitors(kTwoMonitors);
    SetWindowPos(host(), nullptr, GetParam().hostX, 100, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    DialogScript script;
    script.then([](HWND dialog) {
        expectCentredIn(dialog, kTwoMonitors[GetParam().monitor].work);
        pressKey(dialog, VK_ESCAPE);
    });
    sendToHost(WM_COMMAND, GetParam().command, 0);
    EXPECT_EQ(script.actionsRun(), 1);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, DialogPlacementTest,
                         testing::Values(PlacementCase{"AboutOnTheFirst", IDM_ABOUT, 200, 0},
                                         PlacementCase{"AboutOnTheSecond", IDM_ABOUT, 1600, 1},
                                         PlacementCase{"OptionsOnTheFirst", IDM_OPTIONS, 200, 0},
                                         PlacementCase{"OptionsOnTheSecond", IDM_OPTIONS, 1600, 1}),
                         [](const testing::TestParamInfo<PlacementCase>& info) {
                             return info.param.name;
                         });

} // namespace
