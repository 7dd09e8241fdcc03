// What every integration test needs: a stand-in player with the real
// gen_tralmo.dll loaded afresh, its system calls recorded.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "api_recorder.h"
#include "host/host_api.h"
#include "standin_player.h"
#include "standin_skype.h"

// The plug-in's numbers as the shell and the host see them, stated here rather
// than taken from the plug-in's headers, so that the tests check them.
constexpr UINT kMainTrayCallback = 10101;
constexpr UINT kMainTrayIconId = 0;
constexpr UINT kFirstButtonCallback = 10102; // button i: this + i, also its toggle command
constexpr UINT_PTR kDiscoveryTimer = 10102;
constexpr UINT_PTR kTrayRetryTimer = 10110; // tries failed tray adds again
constexpr UINT kTrayRetryPeriodMs = 2000;

// The profile functions the plug-in keeps its settings with: the wide ones
// for a host that names its ini file in UTF-16, the ANSI ones otherwise.
inline const std::vector<std::string> kIniWrites = {"WritePrivateProfileStringA",
                                                    "WritePrivateProfileStringW"};
inline const std::vector<std::string> kIniReads = {"GetPrivateProfileIntA", "GetPrivateProfileIntW",
                                                   "GetPrivateProfileStringA",
                                                   "GetPrivateProfileStringW"};

// gen_tralmo.dll beside the test program.
std::string pluginPath();

// The number RegisterWindowMessageA gives for a name (the same in every
// process of one session).
UINT registeredMessage(const char* name);

// What Skype received apart from the protocol command the plug-in opens every
// attached session with, in order (`first` counts all records, as
// standin_skype::records does).
inline constexpr char kProtocolCommand[] = "PROTOCOL 7";
std::vector<standin_skype::CopyDataRecord> skypeCommands(std::size_t first = 0);
std::size_t skypeCommandCount();
// The same as text; skypeTexts has every record's, the protocol included.
std::vector<std::string> skypeCommandTexts(std::size_t first = 0);
std::vector<std::string> skypeTexts(std::size_t first = 0);
// The last command's text, "" when none came.
std::string lastSkypeCommand();
// How many of the records from `first` on read `text`.
std::size_t skypeHeard(const std::string& text, std::size_t first = 0);

// Waits, without handling anything, until another thread's send to this
// thread is queued (false after a safety bound).
bool sentMessageQueued();

// The window the plug-in talks to Skype from (its Skype link), or null.
HWND skypeLink();
inline constexpr char kSkypeLinkClass[] = "TralmoSkypeLink";
// The plug-in sends from a thread of its own: these pump this thread (where
// the link window lives) until Skype holds what is awaited, or a safety
// bound passes (false).
bool waitForSkypeRecords(std::size_t count);  // every record, PROTOCOL 7 included
bool waitForSkypeCommands(std::size_t count); // as skypeCommands counts
bool waitForSkypeAttach();                    // Skype attached the link and heard PROTOCOL 7
bool waitForLastSkypeCommand(const std::string& text);
bool waitForSkypeToHear(const std::string& text, std::size_t times = 1, std::size_t first = 0);
// Until a command to Skype timed out beyond the `before` that had, and no
// send is on its way.
bool waitForTimedOutCommand(std::size_t before);
std::size_t timedOutCommands();
// Pumps until the plug-in has nothing on its way to Skype: no send in
// progress and nothing new for a while; a failure of the test if that never
// comes. For tests that show nothing is sent.
void settleSkypeLink();
// The same, handling only what other threads send this thread: what they
// post to it (a link thread's notice) stays unread.
void settleSkypeLinkUnread();
// Once `awaited` records from `first` on came and the link fell quiet: the
// texts from `first` on.
std::vector<std::string> skypeTextsSettled(std::size_t first, std::size_t awaited = 0);
std::size_t skypeCommandsSettled();
// A stand-in Skype that serves this process, where the plug-in's link window
// lives; started in prepare(), before the plug-in looks for it.
testing::AssertionResult startSkypeForPlugin(std::unique_ptr<standin_skype::Running>& skype,
                                             standin_skype::Config config = {});
// Where a story starts: Skype attached the link (or, one that will not,
// heard its Discover), Skype has done all it was asked, and nothing is on its
// way.
testing::AssertionResult waitForQuietLink(bool attaches = true);
// For a story that starts after init without Skype: starts the stand-in, has
// the plug-in look for it at once (a discovery tick by hand), and waits for a
// quiet link.
testing::AssertionResult startSkypeAndAttach(std::unique_ptr<standin_skype::Running>& skype);
// Skype sends a notification (to the link window unless it names another)
// and waits: the answer it got, or kUndelivered.
inline constexpr LRESULT kUndelivered = -1;
LRESULT skypeTells(const standin_skype::Notification& notification);
LRESULT skypeTells(const std::string& text);
// Whether a link window is left anywhere in this process, on any thread.
bool skypeLinkRemains();

// The tooltips the plug-in gave its main tray icon, in order. It updates them
// from a thread of its own: waitForTrayTip pumps until the last update asked
// of the shell reads `tip` and has returned (false after a safety bound), and
// settleTrayTips until no update is on its way.
std::vector<std::string> trayTips();
bool waitForTrayTip(const std::string& tip);
void settleTrayTips();

// Sets a file's last write time this many hours from now (-1: a listener's
// ini file, which the player wrote when it last closed).
bool stampFile(const std::string& path, int hours);

// Sends a message to the player's main window, as the host or the shell would.
LRESULT sendToHost(UINT message, WPARAM wParam, LPARAM lParam);
// One tick of the plug-in's discovery timer, sent by hand; tickAndSettle also
// lets what it set off run its course.
void discoveryTick();
void tickAndSettle();
// The host moves to the entry and starts it (the play state stays).
void playSong(int position);
// The entry's tooltip hangs in the shell on its way there.
testing::AssertionResult holdTheShellOverSong(int position);
// The Discover broadcasts the plug-in has made, as recorded.
std::size_t discoverBroadcasts();

// A new player on this thread with gen_tralmo.dll loaded afresh, its calls
// recorded and no fake left: "" when it came up, else what did not.
std::string startPlayer(const standin::PlayerOptions& options);

// Each test gets a new player, a fresh ini file and a freshly loaded plug-in.
// Override prepare() to set options, ini content, stand-ins and fakes before
// the plug-in's init runs.
class PluginTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Before createPlayer: adjust the options.
    virtual void configure(standin::PlayerOptions& options) { (void)options; }
    // After the player exists and the plug-in is loaded and recorded, before init.
    virtual void prepare() {}
    // Whether SetUp calls init (tests of init itself can do it by hand).
    virtual bool initAtSetUp() { return true; }

    HWND host() const { return standin::mainWindow(); }
    HWND playlist() const { return standin::playlistWindow(); }
    PluginDescriptor* descriptor() const { return standin::pluginDescriptor(); }
};

// ---- The plug-in beside Skype -------------------------------------------------

// What a story beside Skype starts from.
struct Stage {
    std::string ini;      // the ini file init reads
    bool playing = false; // the host plays as init runs
    standin_skype::Config skype;
    bool manualTicks = false; // the discovery timer stops: the test ticks by hand
    bool quietLink = true;    // the story starts at a quiet link (see waitForQuietLink)
};
// Before init: the ini file, the play state and Skype.
testing::AssertionResult prepareStage(const Stage& stage,
                                      std::unique_ptr<standin_skype::Running>& skype);
// After init: the timer and the link.
testing::AssertionResult enterStage(const Stage& stage);

// A PluginTest on the stage_ its constructor sets; SetUp enters it after init.
class BesideSkypeTest : public PluginTest {
  protected:
    void SetUp() override;
    void prepare() override { ASSERT_TRUE(prepareStage(stage_, skype_)); }

    Stage stage_;
    std::unique_ptr<standin_skype::Running> skype_;
};

// ---- Dialogs -----------------------------------------------------------------

// Acts on the dialog boxes (window class "#32770") this thread shows, from
// inside their modal loops, as a person would: each dialog that becomes
// visible gets the next queued action. A thread timer does the looking, so
// the actions run whenever a modal loop (or pumping) dispatches messages,
// nested dialogs included. A dialog still open long after its action returned,
// or one that shows with no action queued, is ended and the test fails, so a
// broken expectation cannot hang the run. One script at a time.
class DialogScript {
  public:
    DialogScript();
    ~DialogScript();
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    DialogScript& then(std::function<void(HWND dialog)> action);
    int actionsRun() const { return actionsRun_; }

  private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
    void look();

    struct Seen {
        bool acting = false;
        int idleTicks = 0;
    };
    UINT_PTR timer_ = 0;
    std::vector<std::function<void(HWND)>> queue_;
    std::vector<std::pair<HWND, Seen>> seen_;
    int actionsRun_ = 0;
};

// The visible dialog boxes of this thread, in no particular order.
std::vector<HWND> visibleDialogs();
std::string windowText(HWND window);
std::string className(HWND window);
// What a user's click does: the button's own press and release.
void clickButton(HWND dialog, int id);
bool isChecked(HWND dialog, int id);
// Types each character into the control as keyboard input would.
void typeText(HWND control, const std::string& text);
// Posts a key press to the focused control, so that the dialog's own loop
// sees it (Enter and Escape become IDOK and IDCANCEL there).
void pressKey(HWND dialog, UINT virtualKey);
