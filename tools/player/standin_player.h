// A stand-in for the Winamp host: a main window and a playlist window that
// answer the host queries, carry out the transport commands, send the
// playback callbacks, and load a general-purpose plug-in step by step.
// Every message the player's own window procedures receive is logged, so
// tests see exactly what a plug-in's subclass passed on and what came back.
//
// By default it behaves as the real host does: Unicode windows whose caption
// names the playing entry, titles held in UTF-16, the status callback posted,
// unknown queries answered with 1, and a shut-down that closes the windows
// before the plug-in hears quit. PlayerOptions bring back the older, simpler
// behaviour where a test needs it.
//
// One player per process at a time; create and destroy it as often as needed.
// Everything runs on the thread that created the player.
#pragma once
#include <windows.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "plugin/plugin_descriptor.h"

namespace standin {

// Values are the answers of the play-state query.
enum class PlayState : long {
    Stopped = 0,
    Playing = host::kStatePlaying,
    Paused = host::kStatePaused
};

enum class Window { Main, Playlist };

// ---- The real host's numbers beyond the plug-in's contract ---------------------

// Query 212 answers the title in the ANSI code page, cut to at most this many
// bytes (a double-byte character is never split).
constexpr std::size_t kAnsiTitleMaxBytes = 399;
// Main window caption: "N. title" followed by this.
constexpr wchar_t kCaptionSuffix[] = L" - Winamp";
// The caption while no entry is current.
constexpr wchar_t kIdleCaption[] = L"Winamp";
// "Play" with an empty playlist opens this modal dialog, owned by the main
// window: an edit for the file name, OK and Cancel.
constexpr char kOpenFileCaption[] = "Open file";
constexpr int kOpenFileNameId = 1001;

// ---- Options -------------------------------------------------------------------

// How the windows are registered and created: with the wide functions (the
// real host; IsWindowUnicode is true) or with the ANSI ones.
enum class Charset { Unicode, Ansi };

// How a status change reaches the main window. Posted: as the real host,
// callback 603 is posted, also on volume changes and stream title updates.
// Sent: 603 is sent at once after each state change (and after 3003), never
// posted, and volume changes send nothing.
enum class StatusCallbacks { Posted, Sent };

// What WM_USER codes that the player does not know answer (either window).
// AnswerOne: 1, as the real host. Tagged: kUnknownQueryTag | (code & 0xFFFF),
// so that a test can see a subclass hand an answer back unchanged.
enum class UnknownQueries { AnswerOne, Tagged };

// What query 212 (the entry's ANSI title) answers. Text: the title, as the
// real host. Null: 0. Unknown: as a query the player does not know.
enum class AnsiTitles { Text, Null, Unknown };

struct PlayerOptions {
    std::vector<std::string> titles;      // ANSI (CP_ACP), in playlist order
    std::vector<std::wstring> wideTitles; // UTF-16; when not empty, used instead of titles
    int position = 0;
    int volume = host::kHostVolumeMax; // 0..255; query 122 clamps to that range
    // Empty (both): a fresh, empty ini file in %TEMP%, deleted by
    // destroyPlayer. Otherwise this file is used and left in place; a wide
    // path wins, and query 334 gives it in the ANSI code page ("?" for what
    // that lacks), as the real host does.
    std::string iniPath;
    std::wstring wideIniPath;
    bool answerIniPath = true;        // false: query 334 answers 0
    bool answerWideIniPath = true;    // false: query 1334 is unknown, as before Winamp 5.58
    bool answerPlaylistWindow = true; // false: query 260 answers 0
    bool answerWideTitles = true;     // false: query 213 is unknown, as on an older host
    AnsiTitles ansiTitles = AnsiTitles::Text;
    // false: query 122 with wParam -666 answers -1 and changes nothing, as a
    // host that gives no volume.
    bool answerVolume = true;
    Charset windows = Charset::Unicode;
    StatusCallbacks statusCallbacks = StatusCallbacks::Posted;
    UnknownQueries unknownQueries = UnknownQueries::AnswerOne;
    bool showWindows = true;
    // Run as administrator (Vista and later): Windows' message filter keeps
    // what a lower process (the stand-in Skype) sends the player's windows
    // away unless the plug-in let it through; the plug-in's look-ups of the
    // filter functions get the emulation in message_filter.h.
    bool elevated = false;
};

// Answers that let a test check that a subclass hands results back unchanged:
// - WM_USER with a code the player does not know, under UnknownQueries::Tagged:
//   kUnknownQueryTag | (code & 0xFFFF), the code being the lParam on the main
//   window and the wParam on the playlist window;
// - kEchoMessage to either window: wParam ^ lParam ^ kEchoTag.
// Unknown WM_COMMAND ids, WM_TIMER and the like go to DefWindowProc.
constexpr LRESULT kUnknownQueryTag = 0x5EED0000;
constexpr LRESULT kUnknownQueryAnswer = 1;
constexpr UINT kEchoMessage = WM_APP + 0x5EE;
constexpr LRESULT kEchoTag = 0x5EEDF00D;

// Rows of kPlaylistRowHeight pixels start at the top of the playlist's list
// area (host::kListInset*).
constexpr int kPlaylistRowHeight = 13;

// ---- Life cycle --------------------------------------------------------------

// Creates both windows. Fails (false) if a player exists or a window cannot be
// created (no display). Registers the window classes on first use.
bool createPlayer(const PlayerOptions& options = {});
// Shuts down in the host's order: WM_CLOSE to the main window stops playback
// and destroys both windows, the message loop runs until it ends, and only
// then the plug-in's quit entry is called. The plug-in stays loaded. False
// (with pluginError()) when the loop did not end within a safety bound.
// A WM_CLOSE sent to the main window by anyone starts the same shut-down;
// closePlayer then finishes it.
bool closePlayer();
// Quits an initialised plug-in, destroys the windows, unloads the plug-in and
// deletes a temporary ini file. A plug-in that is already unloaded but left
// its subclass in place gets the player's own procedures put back first.
// After closePlayer it unloads the plug-in and cleans up.
void destroyPlayer();
bool playerExists();

HWND mainWindow();
HWND playlistWindow();
// Whether the window's procedure is the player's own again (or still).
bool ownsWindowProc(Window window);
// The main window's caption (GetWindowTextW); empty when it is gone.
std::wstring mainCaption();

// ---- Playback ----------------------------------------------------------------
// Transport commands are normally sent as WM_COMMAND 40044..40048 to the main
// window (sendCommand), so that a subclass sees them. Their effect:
//   previous/next: move by one with wrap-around; when playing or paused, the
//                  new song starts; when stopped, only the position moves.
//   play:  stopped -> the current song starts; paused -> resumes;
//          playing -> the current song starts again. An empty playlist opens
//          the modal "Open file" dialog (OK with a name adds that file and
//          plays it; Cancel plays nothing); a position outside a non-empty
//          playlist plays nothing.
//   pause: playing -> paused, paused -> playing; stopped: nothing.
//   stop:  playing or paused -> stopped; stopped: nothing.
// A song start sets the caption "N. title - Winamp", sends callback 3003
// (wParam: the entry's file name, char*) and then 603; every other state
// change gives 603 alone. 3003 is always sent (SendMessage), so a subclass
// sees it first; 603 follows StatusCallbacks.

enum class Notify { None, StatusChanged, SongStarted };

LRESULT sendCommand(unsigned id); // WM_COMMAND id, lParam 0, to the main window
PlayState playState();
int position();
int volume();
// The titles as query 212 answers them: ANSI, cut to kAnsiTitleMaxBytes.
// Query 212 answers pointers into these strings; setting titles invalidates
// them.
const std::vector<std::string>& titles();
// The titles as the player holds them; query 213 answers pointers into these.
const std::vector<std::wstring>& wideTitles();
// The entries' file names; callback 3003's wParam points into these.
const std::vector<std::string>& fileNames();

// Direct changes for tests. SongStarted: a song start as above (caption,
// 3003, 603); StatusChanged: 603 alone.
void setPlayState(PlayState state, Notify notify = Notify::None);
// Both keep the position as is and leave the caption until the next song start.
void setTitles(const std::vector<std::string>& titles); // ANSI, converted from CP_ACP
void setWideTitles(std::vector<std::wstring> titles);
void setPosition(int position); // any value, even outside the list
// Posts 603 under StatusCallbacks::Posted, as the host does for any volume change.
void setVolume(int volume);
void setAnswerWideTitles(bool answer);
// A stream's new title: the current entry's title changes without a new song
// start; the caption follows and 603 comes (nothing when no entry is current).
void updateStreamTitle(const std::wstring& title);
void updateStreamTitle(const std::string& title); // ANSI
// Exactly one callback, sent (SendMessage) whatever StatusCallbacks says.
void sendSongStarted();   // WM_USER lParam 3003, wParam 0, to the main window
void sendStatusChanged(); // WM_USER lParam 603 to the main window

// Client point of the middle of a playlist row (for WM_RBUTTONUP tests).
POINT playlistRowPoint(int row);
// The index the playlist answers for a client point: inside the list area,
// the row under it, or the number of entries below the last one; -1 outside
// the list area.
int playlistIndexAt(POINT client);

// ---- Message log -------------------------------------------------------------

struct LoggedMessage {
    Window window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result; // what the player's own procedure returned
    int depth;      // how many player procedures were running when it arrived
    bool finished;  // false while it is still being handled
    POINT point;    // the playlist's index query: the point it was given
};

// In order of arrival; a message's result is filled in when it is done.
const std::vector<LoggedMessage>& messageLog();
void clearLog();
std::size_t countMessages(const std::function<bool(const LoggedMessage&)>& matches);
std::size_t countMessages(Window window, UINT message);
// WM_COMMAND whose low word of wParam is id.
std::size_t countCommands(Window window, unsigned id);
// WM_USER to the main window with this query code in lParam.
std::size_t countQueries(long code);
// WM_USER to the playlist window with this code in wParam.
std::size_t countPlaylistQueries(unsigned code);
std::optional<LoggedMessage> lastMessage(Window window, UINT message);

// Messages that carry the host conversation (commands, queries, callbacks,
// timers, copied data, registered and application messages, creation and
// destruction), as opposed to painting, activation and mouse traffic.
bool isNotable(const LoggedMessage& entry);
// One readable line, e.g. "main  WM_USER 104 (play state?) -> 1".
std::string describe(const LoggedMessage& entry);
// The words for the host's messages, which every transcript uses: a main
// window WM_USER code ("play state?", "set volume", "song started"; "volume?"
// when wParam asks for the volume; "unknown query"), a WM_COMMAND id ("play";
// "" for one the window does not know), and a registered message's name
// (empty for any other message).
const char* queryName(long code, WPARAM wParam = 0);
const char* commandName(Window window, unsigned id);
std::string registeredName(UINT message);
const char* stateName(PlayState state); // "Playing", "Paused" or "Stopped"

// ---- Plug-in -----------------------------------------------------------------
// The host's steps, each on its own. Each returns false (with pluginError())
// when the step cannot be taken in the present state.

bool loadPlugin(const std::string& dllPath);  // LoadLibraryA + GetProcAddress
bool loadPlugin(const std::wstring& dllPath); // LoadLibraryW + GetProcAddress
// Calls the export, writes the main window and the module into the descriptor.
PluginDescriptor* describePlugin();
bool initPlugin(int* result = nullptr);
bool configPlugin();
bool quitPlugin();
bool unloadPlugin();                  // FreeLibrary
PluginDescriptor* pluginDescriptor(); // null before describePlugin / after unload
HMODULE pluginModule();
bool pluginRunning(); // init called, quit not yet
const std::string& pluginError();

// ---- Ini file ----------------------------------------------------------------

// The ini file's path as query 334 answers it (ANSI) and as the player holds
// it (query 1334). The helpers below use the wide one.
const std::string& iniPath();
const std::wstring& wideIniPath();
// Replaces the whole file (before loading a plug-in, typically).
bool writeIniContent(const std::string& content);
std::string readIniString(const char* section, const char* key, const char* fallback = "");
// Every "key=value" line of a section, in file order.
std::vector<std::string> readIniSection(const char* section);

// ---- Text ----------------------------------------------------------------------

std::wstring wideFromAnsi(const std::string& text); // CP_ACP
std::string ansiFromWide(const std::wstring& text); // CP_ACP, "?" for what it lacks
std::string utf8FromWide(const std::wstring& text); // for transcripts
std::wstring wideFromUtf8(const std::string& text);

// ---- Pumping -----------------------------------------------------------------
// All of these also handle messages sent from other threads.

std::size_t pumpPending(); // returns the number of posted messages dispatched
void pumpFor(DWORD milliseconds);
// Checks the predicate before waiting and after every message; returns its
// last value (false when the timeout passed first).
bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMilliseconds);
// A message loop: dispatches until it takes WM_QUIT (true) or the timeout
// passes (false).
bool pumpUntilQuit(DWORD timeoutMilliseconds);

// ---- Crashes -----------------------------------------------------------------

// Unhandled exceptions print their code, address and module to stderr and end
// the process with kCrashExitCode instead of opening a debugger.
constexpr UINT kCrashExitCode = 99;
void installCrashFilter();

} // namespace standin
