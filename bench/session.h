// One measured scenario: a fresh host window and playlist, a fresh ini file,
// the stand-in Skype on its own thread, and a freshly loaded gen_tralmo.dll.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "bench_host.h"

namespace bench {

// The template the user would have set; the command carries title and state.
inline constexpr char kBenchTemplate[] = "Listening to [%title%] ([%state%])";

struct SessionOptions {
    bool skype = true;       // the stand-in Skype runs and answers Success
    bool startPlugin = true; // false: the test loads plug-ins itself
};

class Session {
  public:
    explicit Session(const SessionOptions& options = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    HWND host() const { return host_; }
    Plugin& plugin() { return plugin_; }
    const std::string& iniPath() const { return ini_.path(); }
    // The threads whose windows belong to this scenario.
    std::vector<DWORD> threads() const;

    // The host moves to playlist entry `index` (modulo the list) and tells
    // its main window that the song started, as the player does.
    void songChange(std::size_t index) const;
    std::size_t titleCount() const;
    // The bytes Skype should receive for entry `index`.
    const std::string& expectedBytes(std::size_t index) const;

  private:
    TempIni ini_;
    HWND host_ = nullptr;
    HWND playlist_ = nullptr;
    bool skype_ = false;
    Plugin plugin_;
    std::vector<std::string> expected_;
    std::string error_;
};

// The stand-in Skype received exactly `count` records since its history was
// last cleared, the last one carrying `bytes`.
bool skypeReceived(std::size_t count, const std::string& bytes);

} // namespace bench
