// The scenarios the parts measure: a playlist and an ini file that every
// player of a part shares, players (a host window with a freshly loaded
// plug-in), and the Skype side they talk to.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "bench_host.h"
#include "receiver.h"

namespace bench {

// The template the user would have set; the command carries title and state.
inline constexpr char kBenchTemplate[] = "Listening to [%title%] ([%state%])";
inline constexpr char kPluginFile[] = "gen_tralmo.dll";
// A wait bounded by kSkypeWaitBoundMs may overrun it this much (timers,
// scheduling on a busy machine).
inline constexpr double kBoundSlack = 1.1;
// What a broadcast waits for when a thread hangs: its top-level window and
// the IME window every GUI thread owns under Wine.
inline constexpr int kWindowsOfAHungThread = 2;
// The plug-in's discovery timer: its id, and how often it fires.
inline constexpr WPARAM kDiscoveryTimerId = 10102;
inline constexpr DWORD kDiscoveryPeriodMs = 5000;

// The playlist, the ini file and the host's playlist window of a part. One
// at a time per process: it fills hostState().
class Scene {
  public:
    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& iniPath() const { return ini_.path(); }
    std::size_t titleCount() const { return expected_.size(); }
    // The bytes Skype should receive when entry `index` (modulo the list) starts.
    const std::string& expectedBytes(std::size_t index) const;

  private:
    TempIni ini_;
    HWND playlist_ = nullptr;
    std::vector<std::string> expected_;
    std::string error_;
};

enum class PluginKind { Tralmo, Lean };

// A host main window with a plug-in loaded and started in it, as the
// player does it. One player of each kind at a time: a plug-in's state is
// module-wide.
class Player {
  public:
    explicit Player(PluginKind kind);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    HWND host() const { return host_; }
    Plugin& plugin() { return plugin_; }

    // The host moves to entry `index` (modulo the list) and tells its main
    // window that the song started.
    void songChange(std::size_t index) const;
    // One tick of the plug-in's discovery timer.
    void tick() const;
    // Skype's Attach reply: `skype` is the window it names, `status` 0 Success.
    void attachReply(HWND skype, LONG status = 0) const;

  private:
    HWND host_ = nullptr;
    Plugin plugin_;
    std::string error_;
};

// The player attaches to the receiver as to Skype, and a song change then
// brings it exactly the expected bytes.
bool attachToReceiver(const Player& player, const Receiver& receiver, const Scene& scene);

// A player whose plug-in is attached to the lean receiver as to Skype.
struct ReceiverStage {
    explicit ReceiverStage(PluginKind kind);
    ReceiverStage(const ReceiverStage&) = delete;
    ReceiverStage& operator=(const ReceiverStage&) = delete;

    Scene scene;
    Receiver receiver;
    Player player;
    // Everything came up, and a song change brought the receiver its bytes.
    const bool attached;
};

// The stand-in Skype received `bytes` in one of its records from `first` on.
bool skypeHolds(const std::string& bytes, std::size_t first = 0);

// The threads whose windows belong to the bench: this one, and the stand-in
// Skype's while it runs.
std::vector<DWORD> benchThreads();

} // namespace bench
