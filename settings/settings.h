// The plug-in's options, kept in section "Tralmo" of the host's ini file.
#pragma once
#include <windows.h>

#include <array>
#include <string>

constexpr int kTrayButtonCount = 5;
constexpr DWORD kIniTextBufferSize = 512; // so at most 511 characters come back

struct Settings {
    int active = 1;
    int stopOnCall = 0;
    int showTrayIcon = 1;
    int allowHtml = 1;
    int setMoodOnExit = 1;
    std::string exitMood;
    int volume = 30;
    std::string iniPath;
    // The tray buttons' shown flags (0 or 1), in button order.
    std::array<unsigned char, kTrayButtonCount> buttonShown{};
};

Settings& settings();

// The ini file the host names (query 334), else "winamp.ini".
std::string hostIniPath(HWND host);

void loadSettings(HWND host);
void saveSettings();

// Section "Tralmo" text keys, read into a 512-byte buffer.
std::string readIniText(const std::string& iniPath, const char* key, const char* fallback);
void writeIniText(const std::string& iniPath, const char* key, const std::string& value);

inline constexpr char kIniSection[] = "Tralmo";
inline constexpr char kKeyUserString[] = "TRALMO_USER_STRING";
inline constexpr char kKeyExitMood[] = "TRALMO_EXIT_MOOD";
