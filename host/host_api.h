// The Winamp host's side of the contract: every message, query code and
// command number the plug-in exchanges with the player, named once.
// Free of windows.h so that the stand-in player and native code share it.
#pragma once

namespace host {

// Queries: SendMessage(main window, WM_USER, wParam, code).
constexpr unsigned kWmUser = 0x0400;
constexpr long kQueryPlayState = 104;        // wParam 0
constexpr long kQueryPlaylistPosition = 125; // wParam 0
constexpr long kQueryEntryTitle = 212;       // wParam: playlist position; ANSI text
constexpr long kQueryEntryTitleWide = 213;   // wParam: playlist position; UTF-16 text
constexpr long kQueryIniPath = 334;          // wParam 0; ANSI text
constexpr long kQueryIniPathWide = 1334;     // wParam 0; UTF-16 text (Winamp 5.58 and later)
constexpr long kQueryWindow = 260;           // wParam kWindowPlaylist
constexpr long kSetVolume = 122;             // wParam: volume 0..255
// kSetVolume with this wParam changes nothing and answers the volume, 0..255.
constexpr long kGetVolumeParam = -666;

constexpr unsigned kWindowPlaylist = 1;

// Answers of kQueryPlayState.
constexpr long kStatePlaying = 1;
constexpr long kStatePaused = 3;

// Answers of the text queries (kQueryEntryTitle, kQueryEntryTitleWide,
// kQueryIniPath, kQueryIniPathWide) at or below this are not pointers (a host
// that lacks a query answers it 1).
constexpr unsigned long kLargestNonPointer = 0xFFFF;
inline constexpr bool isPointerAnswer(unsigned long answer) {
    return answer > kLargestNonPointer;
}
constexpr char kFallbackIniPath[] = "winamp.ini";

// Callbacks the host sends its own main window: WM_USER with this lParam.
constexpr long kCallbackSongStarted = 3003;
constexpr long kCallbackStatusChanged = 603;

// Player commands: WM_COMMAND to the main window, lParam 0.
constexpr unsigned kCommandPrevious = 40044;
constexpr unsigned kCommandPlay = 40045;
constexpr unsigned kCommandPause = 40046;
constexpr unsigned kCommandStop = 40047;
constexpr unsigned kCommandNext = 40048;

// Playlist window queries: SendMessage(playlist, WM_USER, code, lParam).
constexpr unsigned kPlaylistQueryCount = 101;   // lParam 0
constexpr unsigned kPlaylistQueryIndexAt = 109; // lParam: address of a client POINT
// The playlist's list area: its client rectangle shrunk by these insets.
constexpr long kListInsetLeft = 12;
constexpr long kListInsetTop = 18;
constexpr long kListInsetRight = 19;
constexpr long kListInsetBottom = 40;
// The playlist command the plug-in answers with the chat command.
constexpr unsigned kPlaylistCommandChat = 1000;

// The host's own settings, read but never written by the plug-in.
constexpr char kHostIniSection[] = "Winamp";
constexpr char kHostVolumeKey[] = "volume";
constexpr int kHostVolumeDefault = 30;
constexpr int kHostVolumeMax = 255;

// General-purpose plug-in descriptor.
constexpr int kDescriptorVersion = 0x10;
constexpr char kExportName[] = "winampGetGeneralPurposePlugin";

} // namespace host
