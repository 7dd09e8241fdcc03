// The plug-in's options, kept in section "Tralmo" of the host's ini file.
#pragma once
#include <windows.h>

#include <array>
#include <vector>
#include <string>

constexpr int kTrayButtonCount = 5;
constexpr DWORD kIniTextBufferSize = 512; // so at most 511 characters come back
constexpr DWORD kIniTextMaxChars = kIniTextBufferSize - 1;

// The host's ini file. A host that gives its path in UTF-16 is read and
// written through the wide profile functions, so that a path outside the ANSI
// code page (a user profile named in Chinese on an English system) still
// names the file; older hosts give only the ANSI path.
struct IniFile {
    std::vector<wchar_t> widePath; // terminated; used when not empty
    std::string ansiPath;
};

struct Settings {
    int active = 1;
    int stopOnCall = 0;
    int showTrayIcon = 1;
    int allowHtml = 1;
    int setMoodOnExit = 1;
    std::string exitMood;
    int volume = 30;
    IniFile iniFile;
    // The tray buttons' shown flags (0 or 1), in button order.
    std::array<unsigned char, kTrayButtonCount> buttonShown{};
};

Settings& settings();

// The ini file the host names: in UTF-16 (query 1334), else in the ANSI code
// page (query 334), else "winamp.ini".
IniFile hostIniFile(HWND host);

void loadSettings(HWND host);
void saveSettings();

// Section "Tralmo" text keys, read into a 512-character buffer. Values are
// text in the ANSI code page, and the file holds them as such either way.
std::string readIniText(const IniFile& file, const char* key, const char* fallback);
void writeIniText(const IniFile& file, const char* key, const std::string& value);
// The mood template (key TRALMO_USER_STRING), read from the file only when it
// changed since the last read: a song change then costs the host no file read.
std::string readMoodTemplate(const IniFile& file, const char* fallback);

inline constexpr char kIniSection[] = "Tralmo";
inline constexpr char kKeyUserString[] = "TRALMO_USER_STRING";
inline constexpr char kKeyExitMood[] = "TRALMO_EXIT_MOOD";
