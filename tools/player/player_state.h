// The stand-in player's own state, and what its parts call of each other:
// standin_player.cpp (titles, callbacks, playback and the life cycle),
// player_windows.cpp (the window classes, their procedures and painting),
// player_plugin.cpp (the host's steps with a plug-in, and the ini file) and
// player_log.cpp (the message log). Only they include this header; tests and
// programs use standin_player.h.
#pragma once
#include "standin_player.h"

#include <memory>
#include <string>
#include <vector>

namespace standin::detail {

constexpr int kMaxVolume = host::kHostVolumeMax;

struct Player {
    HWND main = nullptr;
    HWND playlist = nullptr;
    std::vector<std::wstring> titles;
    std::vector<std::string> titleAnswers; // query 212's, one per entry
    std::vector<std::string> fileNames;    // callback 3003's, one per entry
    int position = 0;
    PlayState state = PlayState::Stopped;
    int volume = kMaxVolume;
    bool answerIniPath = true;
    bool answerWideIniPath = true;
    bool answerPlaylistWindow = true;
    bool answerWideTitles = true;
    bool elevated = false;
    AnsiTitles ansiTitles = AnsiTitles::Text;
    bool answerVolume = true;
    Charset charset = Charset::Unicode;
    StatusCallbacks statusCallbacks = StatusCallbacks::Posted;
    UnknownQueries unknownQueries = UnknownQueries::AnswerOne;
    // Their c_str() are handed out, so they never change.
    std::wstring wideIniPath;
    std::string iniPath; // in the ANSI code page
    bool ownsIniFile = false;
    bool closing = false; // WM_CLOSE came: the main window's end ends the loop

    std::vector<LoggedMessage> log;
    std::size_t logBase = 0; // entries cleared so far, to find an entry again
    int depth = 0;

    HMODULE module = nullptr;
    GetGeneralPurposePluginFn entry = nullptr;
    PluginDescriptor* descriptor = nullptr;
    bool running = false; // init called, quit not yet
};

// The player while one exists, and the last step's failure.
extern std::unique_ptr<Player> player;
extern std::string lastError;

// ---- standin_player.cpp ----

bool fail(const std::string& message);
bool inPlaylist(int index);
std::wstring currentCaption();
void changeVolume(int volume);
void stop();
// False for an id that is not a transport command.
bool carryOutCommand(unsigned id);

// ---- player_windows.cpp ----

// Registers the character set's classes, once.
bool registerClasses(Charset charset);
// The main window, then the playlist window it owns.
void createWindows();
// Puts the player's own procedure back in place of a subclass.
void restoreOwnProc(Window which);

} // namespace standin::detail
