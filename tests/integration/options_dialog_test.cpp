// The options dialog, driven as a user would from inside its modal loop:
// what it shows, what OK and Cancel leave in the ini file, the tray and the
// switches, and what the tray icon may do while it is open.
#include "harness.h"
#include "resources/resource.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

constexpr char kShownDefaultTemplate[] = "[%title%] [%state%]";
constexpr char kDescription[] = "Description:\r\n"
                                "[%title%] - song title\r\n"
                                "[%state%] - song state\r\n"
                                "Example: winamp [%state%]:[%title%]\r\n"
                                "\r\n"
                                "Also you can use some new features for Protocol 7(API v.3.0):\r\n"
                                "<SS type=\"smile\">:-)</SS>\r\n"
                                "<FONT COLOR=\"#FF0010\">Red</FONT>\r\n"
                                "<BLINK>Blinking text</BLINK>\r\n"
                                "<B>Bold text</B>\r\n"
                                "<I>Italics</I>\r\n"
                                "<U>Underlined</U>";

std::string fileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void setText(HWND dialog, int id, const std::string& text) {
    SetDlgItemTextA(dialog, id, text.c_str());
}

std::string itemText(HWND dialog, int id) {
    return windowText(GetDlgItem(dialog, id));
}

bool itemEnabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

// The ini writes and tray calls, in order, as one readable line each.
std::vector<std::string> writesAndTrayCalls() {
    std::vector<std::string> lines;
    for (const ApiCall& call : recordedCalls(
             {"WritePrivateProfileStringA", "WritePrivateProfileStringW", "Shell_NotifyIconA"})) {
        if (call.function == "Shell_NotifyIconA") {
            static const char* const actions[] = {"add", "modify", "delete"};
            const DWORD action = static_cast<DWORD>(call.args[0]);
            lines.push_back(std::string("tray ") + (action < 3 ? actions[action] : "?") + " " +
                            std::to_string(call.icon.uCallbackMessage));
        } else {
            lines.push_back(call.text);
        }
    }
    return lines;
}

std::vector<std::string> iniLines() {
    return standin::readIniSection("Tralmo");
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class OptionsDialogTest : public PluginTest {
  protected:
    bool initAtSetUp() override { return false; }

    // Starts the plug-in on this ini content, attached to a stand-in Skype if
    // asked, with discovery over, and the call records and the player's log
    // cleared.
    void start(const std::string& ini = "", bool withSkype = false) {
        if (!ini.empty()) {
            ASSERT_TRUE(standin::writeIniContent(ini));
        }
        if (withSkype) {
            ASSERT_TRUE(startSkypeForPlugin(skype_));
        }
        ASSERT_TRUE(standin::initPlugin()) << standin::pluginError();
        if (withSkype) {
            ASSERT_TRUE(waitForQuietLink());
        }
        settleSkypeLink();
        clearRecordedCalls();
        standin::clearLog();
    }

    // Opens the dialog through the config entry and runs `action` on it.
    void withOptions(const std::function<void(HWND)>& action) {
        DialogScript script;
        script.then(action);
        ASSERT_TRUE(standin::configPlugin());
        EXPECT_EQ(script.actionsRun(), 1);
    }

    std::unique_ptr<standin_skype::Running> skype_;
};

// ---- What the dialog shows ---------------------------------------------------

enum class Opener { ConfigEntry, MenuCommand };

const char* nameOf(Opener opener) {
    return opener == Opener::ConfigEntry ? "ByConfigEntry" : "ByMenuCommand";
}
void PrintTo(Opener opener, std::ostream* out) {
    *out << nameOf(opener);
}

class OptionsDialogOpening : public OptionsDialogTest,
                             public testing::WithParamInterface<Opener> {};

struct ExpectedControl {
    int id;
    const char* className;
    const char* text;
    LONG buttonType; // BS_* type, or -1 for an edit
    bool checked;
};

TEST_P(OptionsDialogOpening, ShowsItsControlsCentredAndOwnedByTheHost) {
    start();
    bool ran = false;
    DialogScript script;
    script.then([&](HWND dialog) {
        ran = true;
        EXPECT_EQ(windowText(dialog), "Tralmo");
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), host());
        EXPECT_FALSE(IsWindowEnabled(host())) << "a modal dialog disables its owner";

        RECT work{}, frame{};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        GetWindowRect(dialog, &frame);
        const int w = frame.right - frame.left, h = frame.bottom - frame.top;
        EXPECT_EQ(frame.left, work.left + (work.right - work.left - w) / 2);
        EXPECT_EQ(frame.top, work.top + (work.bottom - work.top - h) / 2);

        static const ExpectedControl controls[] = {
            {IDC_USER_STRING, "Edit", kShownDefaultTemplate, -1, false},
            {IDC_SHOW_TRAY_ICON, "Button", "Show plugin icon in tray", BS_AUTOCHECKBOX, true},
            {IDC_ALLOW_HTML, "Button", "Allow html tags (Only for Protocol 7 (API v.3.0))",
             BS_AUTOCHECKBOX, true},
            {IDC_STOP_ON_CALL, "Button", "Stop on call", BS_AUTOCHECKBOX, false},
            {IDC_SET_MOOD_ON_EXIT, "Button", "Set mood on exit", BS_AUTOCHECKBOX, true},
            {IDC_EXIT_MOOD, "Edit", "", -1, false},
            {IDOK, "Button", "OK", BS_DEFPUSHBUTTON, false},
            {IDCANCEL, "Button", "Cancel", BS_PUSHBUTTON, false},
        };
        for (const ExpectedControl& expected : controls) {
            SCOPED_TRACE(expected.id);
            const HWND control = GetDlgItem(dialog, expected.id);
            ASSERT_NE(control, nullptr);
            EXPECT_STRCASEEQ(className(control).c_str(), expected.className);
            EXPECT_EQ(windowText(control), expected.text);
            EXPECT_TRUE(IsWindowEnabled(control));
            const LONG style = GetWindowLongA(control, GWL_STYLE);
            EXPECT_TRUE(style & WS_TABSTOP);
            if (expected.buttonType >= 0) {
                EXPECT_EQ(style & BS_TYPEMASK, expected.buttonType);
                EXPECT_EQ(isChecked(dialog, expected.id), expected.checked);
            } else {
                EXPECT_EQ(SendMessageA(control, EM_GETLIMITTEXT, 0, 0), 511);
            }
        }

        std::string description;
        bool hasIcon = false;
        for (HWND child = GetWindow(dialog, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (className(child) != "Static")
                continue;
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                hasIcon = SendMessageA(child, STM_GETICON, 0, 0) != 0;
            else if (windowText(child).rfind("Description:", 0) == 0)
                description = windowText(child);
        }
        EXPECT_TRUE(hasIcon);
        EXPECT_EQ(description, kDescription);
        clickButton(dialog, IDCANCEL);
    });
    if (GetParam() == Opener::ConfigEntry)
        ASSERT_TRUE(standin::configPlugin());
    else
        sendToHost(WM_COMMAND, IDM_OPTIONS, 0);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(IsWindowEnabled(host()));
    EXPECT_TRUE(visibleDialogs().empty());
}

INSTANTIATE_TEST_SUITE_P(Opened, OptionsDialogOpening,
                         testing::Values(Opener::ConfigEntry, Opener::MenuCommand),
                         [](const testing::TestParamInfo<Opener>& info) {
                             return nameOf(info.param);
                         });

TEST_F(OptionsDialogTest, ShowsTheStateTemplateWhileMoodsUseTheTitleAloneUntilOk) {
    start("", true);
    standin::sendSongStarted();
    ASSERT_TRUE(waitForLastSkypeCommand("SET PROFILE RICH_MOOD_TEXT First Song"));
    settleSkypeLink();
    const std::size_t moods = skypeCommandCount();

    withOptions([&](HWND dialog) {
        EXPECT_EQ(itemText(dialog, IDC_USER_STRING), kShownDefaultTemplate);
        clickButton(dialog, IDOK);
    });
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_USER_STRING"), kShownDefaultTemplate);
    settleSkypeLink();
    EXPECT_EQ(skypeCommandCount(), moods) << "closing the dialog composes nothing";
    standin::sendSongStarted();
    EXPECT_TRUE(waitForLastSkypeCommand("SET PROFILE RICH_MOOD_TEXT First Song playing"))
        << lastSkypeCommand();
}

TEST_F(OptionsDialogTest, BoxesShowTheSwitchesInMemoryAndEditsTheStoredTexts) {
    start("[Tralmo]\r\nTRALMO_SHOW_TRAYICON=1\r\nTRALMO_ALLOW_HTML=0\r\nTRALMO_STOP_MUSIC=0\r\n"
          "TRALMO_EXITSETMOOD=1\r\nTRALMO_USER_STRING=Hearing [%title%]\r\n"
          "TRALMO_EXIT_MOOD=Away\r\n");
    sendToHost(WM_COMMAND, IDM_STOP_ON_CALL, 0);     // stop on call: on
    sendToHost(WM_COMMAND, IDM_SET_MOOD_ON_EXIT, 0); // set mood on exit: off
    // The file now says the opposite of memory for every switch.
    const std::string ini = standin::iniPath();
    for (const char* line : {"TRALMO_SHOW_TRAYICON=0", "TRALMO_ALLOW_HTML=1", "TRALMO_STOP_MUSIC=0",
                             "TRALMO_EXITSETMOOD=1", "TRALMO_EXIT_MOOD=Out"}) {
        const std::string text(line);
        const auto eq = text.find('=');
        WritePrivateProfileStringA("Tralmo", text.substr(0, eq).c_str(),
                                   text.substr(eq + 1).c_str(), ini.c_str());
    }

    withOptions([&](HWND dialog) {
        EXPECT_TRUE(isChecked(dialog, IDC_SHOW_TRAY_ICON));
        EXPECT_FALSE(isChecked(dialog, IDC_ALLOW_HTML));
        EXPECT_TRUE(isChecked(dialog, IDC_STOP_ON_CALL));
        EXPECT_FALSE(isChecked(dialog, IDC_SET_MOOD_ON_EXIT));
        EXPECT_EQ(itemText(dialog, IDC_USER_STRING), "Hearing [%title%]");
        EXPECT_EQ(itemText(dialog, IDC_EXIT_MOOD), "Out");
        EXPECT_FALSE(itemEnabled(dialog, IDC_EXIT_MOOD));
        clickButton(dialog, IDCANCEL);
    });
}

// ---- Set mood on exit takes effect on the click ------------------------------

class SetMoodOnExitBox : public OptionsDialogTest, public testing::WithParamInterface<bool> {};

TEST_P(SetMoodOnExitBox, ClickTakesEffectAtOnceAndSurvivesCancel) {
    const bool initially = GetParam();
    start(std::string("[Tralmo]\r\nTRALMO_EXITSETMOOD=") + (initially ? "1" : "0") +
              "\r\nTRALMO_EXIT_MOOD=Bye\r\n",
          true);
    withOptions([&](HWND dialog) {
        EXPECT_EQ(itemEnabled(dialog, IDC_EXIT_MOOD), initially);
        clickButton(dialog, IDC_SET_MOOD_ON_EXIT);
        EXPECT_EQ(isChecked(dialog, IDC_SET_MOOD_ON_EXIT), !initially);
        EXPECT_EQ(itemEnabled(dialog, IDC_EXIT_MOOD), !initially) << "the edit follows the click";
        clickButton(dialog, IDCANCEL);
    });
    EXPECT_TRUE(writesAndTrayCalls().empty());

    const size_t before = standin_skype::recordCount();
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_EXITSETMOOD"), initially ? "0" : "1");
    const bool exitMoodSent = standin_skype::recordCount() > before &&
                              lastSkypeCommand() == "SET PROFILE RICH_MOOD_TEXT Bye";
    EXPECT_EQ(exitMoodSent, !initially);
}

INSTANTIATE_TEST_SUITE_P(Initially, SetMoodOnExitBox, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "On" : "Off";
                         });

// ---- OK and Cancel ---------------------------------------------------------------

TEST_F(OptionsDialogTest, OkStoresTheTextsShowsTheTrayAtOnceAndSavesTheSwitches) {
    start("", true);
    withOptions([&](HWND dialog) {
        setText(dialog, IDC_USER_STRING, "Now: [%title%]");
        clickButton(dialog, IDC_SHOW_TRAY_ICON);
        clickButton(dialog, IDC_ALLOW_HTML);
        clickButton(dialog, IDC_STOP_ON_CALL);
        clickButton(dialog, IDC_SET_MOOD_ON_EXIT);
        setText(dialog, IDC_EXIT_MOOD, "Gone");
        EXPECT_TRUE(writesAndTrayCalls().empty()) << "nothing before OK";
        clickButton(dialog, IDOK);
    });
    const std::vector<std::string> expected = {
        "Tralmo/TRALMO_USER_STRING=Now: [%title%]",
        "tray delete 10101",
        "Tralmo/TRALMO_EXIT_MOOD=Gone",
        "Tralmo/TRALMO_ACTIVE=1",
        "Tralmo/TRALMO_STOP_MUSIC=1",
        "Tralmo/TRALMO_SHOW_TRAYICON=0",
        "Tralmo/TRALMO_ALLOW_HTML=0",
        "Tralmo/TRALMO_EXITSETMOOD=0",
        "Tralmo/PREV_BUTTON=0",
        "Tralmo/PLAY_BUTTON=0",
        "Tralmo/PAUSE_BUTTON=0",
        "Tralmo/STOP_BUTTON=0",
        "Tralmo/NEXT_BUTTON=0",
    };
    EXPECT_EQ(writesAndTrayCalls(), expected);

    // The switches work from now on: plain mood text, and a call pauses.
    standin::setPlayState(standin::PlayState::Playing);
    standin::sendSongStarted();
    EXPECT_TRUE(waitForLastSkypeCommand("SET PROFILE MOOD_TEXT Now: First Song"))
        << lastSkypeCommand();
    EXPECT_EQ(skypeTells("CALL 17 STATUS RINGING"), 1);
    EXPECT_EQ(standin::playState(), standin::PlayState::Paused);

    // The gate is open again: a right-click shows the menu.
    int menus = 0;
    onTrackPopupMenu([&](HMENU, int, int, HWND) { ++menus; });
    sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP);
    EXPECT_EQ(menus, 1);

    // Checking the tray box again adds the icon with its own tooltip.
    clearRecordedCalls();
    withOptions([&](HWND dialog) {
        EXPECT_FALSE(isChecked(dialog, IDC_SHOW_TRAY_ICON));
        clickButton(dialog, IDC_SHOW_TRAY_ICON);
        clickButton(dialog, IDOK);
    });
    const auto tray = recordedCalls({"Shell_NotifyIconA"});
    ASSERT_EQ(tray.size(), 1u);
    EXPECT_EQ(tray[0].args[0], static_cast<DWORD_PTR>(NIM_ADD));
    EXPECT_EQ(tray[0].icon.uCallbackMessage, kMainTrayCallback);
    EXPECT_STREQ(tray[0].icon.szTip, "Tralmo");
}

TEST_F(OptionsDialogTest, OkWithEmptyFieldsKeepsTheTemplateAndEmptiesTheExitMood) {
    start("[Tralmo]\r\nTRALMO_USER_STRING=Custom [%title%]\r\nTRALMO_EXIT_MOOD=Bye\r\n", true);
    withOptions([&](HWND dialog) {
        setText(dialog, IDC_USER_STRING, "");
        setText(dialog, IDC_EXIT_MOOD, "");
        clickButton(dialog, IDOK);
    });
    const auto lines = iniLines();
    EXPECT_TRUE(hasLine(lines, "TRALMO_USER_STRING=Custom [%title%]"));
    EXPECT_TRUE(hasLine(lines, "TRALMO_EXIT_MOOD="));
    for (const std::string& write : writesAndTrayCalls())
        EXPECT_EQ(write.find("TRALMO_USER_STRING"), std::string::npos) << write;

    // The empty exit mood is the one in memory too: quit publishes it.
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(lastSkypeCommand(), "SET PROFILE RICH_MOOD_TEXT ");
}

TEST_F(OptionsDialogTest, CancelWritesNothingAndKeepsTheSwitches) {
    start("[Tralmo]\r\nTRALMO_SHOW_TRAYICON=1\r\nTRALMO_ALLOW_HTML=1\r\nTRALMO_STOP_MUSIC=0\r\n"
          "TRALMO_EXITSETMOOD=1\r\nTRALMO_USER_STRING=Mine\r\nTRALMO_EXIT_MOOD=Bye\r\n");
    const std::string before = fileBytes(standin::iniPath());
    withOptions([&](HWND dialog) {
        setText(dialog, IDC_USER_STRING, "Other [%title%]");
        clickButton(dialog, IDC_SHOW_TRAY_ICON);
        clickButton(dialog, IDC_ALLOW_HTML);
        clickButton(dialog, IDC_STOP_ON_CALL);
        setText(dialog, IDC_EXIT_MOOD, "Later");
        pressKey(dialog, VK_ESCAPE);
    });
    EXPECT_TRUE(writesAndTrayCalls().empty());
    EXPECT_EQ(fileBytes(standin::iniPath()), before);

    // Quit saves what memory holds: the user's switches as they were.
    ASSERT_TRUE(standin::quitPlugin());
    const auto lines = iniLines();
    for (const char* line :
         {"TRALMO_SHOW_TRAYICON=1", "TRALMO_ALLOW_HTML=1", "TRALMO_STOP_MUSIC=0",
          "TRALMO_EXITSETMOOD=1", "TRALMO_USER_STRING=Mine", "TRALMO_EXIT_MOOD=Bye"})
        EXPECT_TRUE(hasLine(lines, line)) << line;
}

// The texts are read back into 512 bytes: the edits take 511 characters, so
// that what the user sees is what is stored.
TEST_F(OptionsDialogTest, EditsHoldExactlyWhatIsStored) {
    std::string longText;
    for (int i = 0; i < 600; ++i)
        longText += static_cast<char>('a' + i % 26);
    start("[Tralmo]\r\nTRALMO_USER_STRING=" + longText + "\r\n");

    withOptions([&](HWND dialog) {
        EXPECT_EQ(itemText(dialog, IDC_USER_STRING), longText.substr(0, 511));
        for (const int id : {IDC_USER_STRING, IDC_EXIT_MOOD}) {
            setText(dialog, id, "");
            typeText(GetDlgItem(dialog, id), longText);
            EXPECT_EQ(itemText(dialog, id), longText.substr(0, 511))
                << "the 512th typed character is refused, not lost at OK";
        }
        clickButton(dialog, IDOK);
    });
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_USER_STRING"), longText.substr(0, 511));
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_EXIT_MOOD"), longText.substr(0, 511));
}

TEST_F(OptionsDialogTest, OkWithTheTrayBoxStillCheckedLeavesTheIconAlone) {
    start();
    standin::sendSongStarted(); // gives the icon the song's tooltip
    ASSERT_TRUE(waitForTrayTip(standin::titles()[0]));
    clearRecordedCalls();
    withOptions([&](HWND dialog) {
        EXPECT_TRUE(isChecked(dialog, IDC_SHOW_TRAY_ICON));
        clickButton(dialog, IDOK);
    });
    EXPECT_TRUE(recordedCalls({"Shell_NotifyIconA"}).empty());
}

// ---- The tray icon while the dialog is open ---------------------------------

TEST_F(OptionsDialogTest, WhileOpenTheTrayIconOpensOnlyTheVolumePopup) {
    start();
    standin::setPlayState(standin::PlayState::Playing);
    int menus = 0;
    onTrackPopupMenu([&](HMENU, int, int, HWND) { ++menus; });
    const auto pauseCommands = [] {
        return standin::countCommands(standin::Window::Main, host::kCommandPause) +
               standin::countCommands(standin::Window::Main, host::kCommandPlay);
    };

    DialogScript script;
    HWND options = nullptr;
    script
        .then([&](HWND dialog) {
            options = dialog;
            sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP);
            sendToHost(kMainTrayCallback, 0, WM_LBUTTONDBLCLK);
            EXPECT_EQ(menus, 0);
            EXPECT_EQ(pauseCommands(), 0u);
            EXPECT_EQ(standin::countQueries(host::kQueryPlayState), 0u);
            sendToHost(kMainTrayCallback, 0, WM_LBUTTONDOWN); // the popup, nested
            EXPECT_EQ(script.actionsRun(), 2);
            clickButton(dialog, IDCANCEL);
        })
        .then([&](HWND popup) {
            EXPECT_NE(popup, options);
            EXPECT_NE(GetDlgItem(popup, IDC_VOLUME_SLIDER), nullptr);
            pressKey(popup, VK_ESCAPE);
        });
    ASSERT_TRUE(standin::configPlugin());
    EXPECT_EQ(script.actionsRun(), 2);

    sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP);
    EXPECT_EQ(menus, 1);
    sendToHost(kMainTrayCallback, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(pauseCommands(), 1u);
    EXPECT_EQ(standin::playState(), standin::PlayState::Paused);
}

} // namespace
