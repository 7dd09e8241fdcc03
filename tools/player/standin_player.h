// A stand-in for the Winamp host: a main window and a playlist window that
// answer the host queries, carry out the transport commands, send the
// playback callbacks, and load a general-purpose plug-in step by step.
// Every message the player's own window procedures receive is logged, so
// tests see exactly what a plug-in's subclass passed on and what came back.
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

struct PlayerOptions {
    std::vector<std::string> titles; // ANSI, in playlist order
    int position = 0;
    int volume = host::kHostVolumeMax; // 0..255; query 122 clamps to that range
    // Empty: a fresh, empty ini file in %TEMP%, deleted by destroyPlayer.
    // Otherwise this file is used and left in place.
    std::string iniPath;
    bool answerIniPath = true;        // false: query 334 answers 0
    bool answerPlaylistWindow = true; // false: query 260 answers 0
    bool showWindows = true;
};

// Answers that let a test check that a subclass hands results back unchanged:
// - main window, WM_USER with an lParam the player does not know:
//   kUnknownQueryTag | (lParam & 0xFFFF);
// - playlist window, WM_USER with a wParam it does not know:
//   kUnknownQueryTag | (wParam & 0xFFFF);
// - kEchoMessage to either window: wParam ^ lParam ^ kEchoTag.
// Unknown WM_COMMAND ids, WM_TIMER and the like go to DefWindowProc.
constexpr LRESULT kUnknownQueryTag = 0x5EED0000;
constexpr UINT kEchoMessage = WM_APP + 0x5EE;
constexpr LRESULT kEchoTag = 0x5EEDF00D;

// Rows of kPlaylistRowHeight pixels start at the top of the playlist's list
// area (host::kListInset*).
constexpr int kPlaylistRowHeight = 13;

// ---- Life cycle --------------------------------------------------------------

// Creates both windows. Fails (false) if a player exists or a window cannot be
// created (no display). Registers the window classes on first use.
bool createPlayer(const PlayerOptions& options = {});
// Quits an initialised plug-in, destroys the windows, unloads the plug-in and
// deletes a temporary ini file. A plug-in that is already unloaded but left
// its subclass in place gets the player's own procedures put back first.
void destroyPlayer();
bool playerExists();

HWND mainWindow();
HWND playlistWindow();
// Whether the window's procedure is the player's own again (or still).
bool ownsWindowProc(Window window);

// ---- Playback ----------------------------------------------------------------
// Transport commands are normally sent as WM_COMMAND 40044..40048 to the main
// window (sendCommand), so that a subclass sees them. Their effect:
//   previous/next: move by one with wrap-around; when playing or paused, the
//                  new song starts (callbacks 3003 then 603); when stopped,
//                  only the position moves.
//   play:  stopped -> the current song starts; paused -> resumes (603);
//          playing -> the current song starts again (3003, 603).
//          An empty playlist or a position outside it plays nothing.
//   pause: playing -> paused, paused -> playing (603); stopped: nothing.
//   stop:  playing or paused -> stopped (603); stopped: nothing.
// The callbacks are sent (SendMessageA) to the main window, so a subclass
// sees them first.

enum class Notify { None, StatusChanged, SongStarted };

LRESULT sendCommand(unsigned id); // WM_COMMAND id, lParam 0, to the main window
PlayState playState();
int position();
int volume();
// Query 212 answers pointers into these strings; setTitles invalidates them.
const std::vector<std::string>& titles();

// Direct changes for tests. SongStarted sends 3003 then 603; StatusChanged 603.
void setPlayState(PlayState state, Notify notify = Notify::None);
void setTitles(std::vector<std::string> titles); // keeps the position as is
void setPosition(int position);                  // any value, even outside the list
void setVolume(int volume);
void setAnswerIniPath(bool answer);
void setAnswerPlaylistWindow(bool answer);
void sendSongStarted();   // WM_USER lParam 3003 to the main window
void sendStatusChanged(); // WM_USER lParam 603 to the main window

// Client point of the middle of a playlist row (for WM_RBUTTONUP tests).
POINT playlistRowPoint(int row);
// The index the playlist answers for a client point: the row under it, or -1.
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
// The last n entries (fewer if the log is shorter), optionally only matches.
std::vector<LoggedMessage>
lastMessages(std::size_t n, const std::function<bool(const LoggedMessage&)>& matches = {});

// Messages that carry the host conversation (commands, queries, callbacks,
// timers, copied data, registered and application messages, creation and
// destruction), as opposed to painting, activation and mouse traffic.
bool isNotable(const LoggedMessage& entry);
// One readable line, e.g. "main  WM_USER 104 (play state?) -> 1".
std::string describe(const LoggedMessage& entry);
const char* stateName(PlayState state); // "Playing", "Paused" or "Stopped"

// ---- Plug-in -----------------------------------------------------------------
// The host's steps, each on its own. Each returns false (with pluginError())
// when the step cannot be taken in the present state.

bool loadPlugin(const std::string& dllPath); // LoadLibraryA + GetProcAddress
// Calls the export, writes the main window and the module into the descriptor.
PluginDescriptor* describePlugin();
bool initPlugin(int* result = nullptr);
bool configPlugin();
bool quitPlugin();
bool unloadPlugin(); // FreeLibrary
// Load, describe and init in one go.
bool startPlugin(const std::string& dllPath);
PluginDescriptor* pluginDescriptor(); // null before describePlugin / after unload
HMODULE pluginModule();
const std::string& pluginError();

// ---- Ini file ----------------------------------------------------------------

const std::string& iniPath();
// Replaces the whole file (before loading a plug-in, typically).
bool writeIniContent(const std::string& content);
void setIniVolume(int volume); // section "Winamp", key "volume"
std::string readIniString(const char* section, const char* key, const char* fallback = "");
// Every "key=value" line of a section, in file order.
std::vector<std::string> readIniSection(const char* section);

// ---- Pumping -----------------------------------------------------------------
// All of these also handle messages sent from other threads.

std::size_t pumpPending(); // returns the number of posted messages dispatched
void pumpFor(DWORD milliseconds);
// Checks the predicate before waiting and after every message; returns its
// last value (false when the timeout passed first).
bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMilliseconds);

// ---- Crashes -----------------------------------------------------------------

// Unhandled exceptions print their code, address and module to stderr and end
// the process with kCrashExitCode instead of opening a debugger.
constexpr UINT kCrashExitCode = 99;
void installCrashFilter();

} // namespace standin
