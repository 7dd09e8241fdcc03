// A lean player for measuring: windows that answer the host queries and hand
// everything else to DefWindowProc, with no log and no allocation per
// message, so that what the bench times is the plug-in and the platform.
// Everything runs on the thread that created the windows.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "plugin/plugin_descriptor.h"

namespace bench {

// What the host answers; shared by every host window of the process.
struct HostState {
    std::vector<std::string> titles;      // query 212 answers pointers into these (ANSI)
    std::vector<std::wstring> wideTitles; // and query 213 into these (UTF-16)
    int position = 0;
    long playState = 0;       // the answer of query 104 (0 stopped, 1 playing, 3 paused)
    std::string iniPath;      // query 334 answers this (ANSI)
    std::wstring wideIniPath; // and query 1334 this (UTF-16), as Winamp 5.58 and later
    HWND playlist = nullptr;
    unsigned long queriesAnswered = 0;
};

HostState& hostState();

// The answer to a WM_USER query the host does not know, so that a subclass
// can be seen to hand results back unchanged.
constexpr LRESULT kUnknownQueryTag = 0x5EED0000;

// Hidden top-level windows of one class, as a player's main window is.
HWND createHostWindow(const char* title);

// The host's own procedure, for a do-nothing subclass to compare with.
LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A new ini file in %TEMP% with the given content, deleted with the object.
class TempIni {
  public:
    explicit TempIni(const std::string& content);
    ~TempIni();
    TempIni(const TempIni&) = delete;
    TempIni& operator=(const TempIni&) = delete;
    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// A general-purpose plug-in loaded the way the player loads one.
class Plugin {
  public:
    Plugin() = default;
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool load(const std::string& path);
    // Calls the export, writes the host window and the module into the
    // descriptor and calls init.
    bool start(HWND host);
    void quit();
    void unload();
    HMODULE module() const { return module_; }
    const std::string& error() const { return error_; }

  private:
    HMODULE module_ = nullptr;
    PluginDescriptor* descriptor_ = nullptr;
    bool running_ = false;
    std::string error_;
};

// A tray icon of the bench's own, on `window`: added with the object,
// removed with it.
class TrayIcon {
  public:
    TrayIcon(HWND window, UINT id);
    ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // As a plug-in sets its tooltip: the tip alone, at most 127 characters.
    void setTip(const char* text);

  private:
    NOTIFYICONDATAA data_{};
};

// A file in the folder of the running program.
std::string besideProgram(const char* fileName);

} // namespace bench
