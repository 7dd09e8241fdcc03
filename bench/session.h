// The scenarios the parts measure: a playlist and an ini file that every
// player of a part shares, players (a host window with a freshly loaded
// plug-in), and the Skype side they talk to.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "bench_host.h"
#include "link_watch.h"
#include "receiver.h"
#include "skype/skype_link.h"

namespace bench {

// The template the user would have set; the command carries title and state.
inline constexpr char kBenchTemplate[] = "Listening to [%title%] ([%state%])";
inline constexpr char kPluginFile[] = "gen_tralmo.dll";
// The plug-in's discovery timer: its id, and how often it fires.
inline constexpr WPARAM kDiscoveryTimerId = 10102;
inline constexpr DWORD kDiscoveryPeriodMs = 5000;
// A safety bound on waiting for the plug-in's thread; it never measures.
inline constexpr DWORD kLinkWaitBoundMs = 15000;
// Idle this long, the plug-in's thread has nothing more on its way.
inline constexpr DWORD kLinkQuietMs = 50;

// Whether the plug-in broadcasts at the n-th tick (from 1) of a search: every
// tick of the first minute, then every sixth.
inline bool discoveryDueAt(unsigned tick) {
    return tick <= kEagerDiscoveryTicks || tick % kPatientDiscoveryTicks == 0;
}

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

// Twin: a copy of gen_tralmo.dll under another file name, so that a second
// plug-in with state of its own runs beside the first in this process.
// LeanHandOver: the lean reference that sends from a thread of its own.
enum class PluginKind { Tralmo, Twin, Lean, LeanHandOver };

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
    // Where Skype's messages go: the plug-in's link window, the lean
    // reference's host window.
    HWND skypeClient() const { return client_; }
    Plugin& plugin() { return plugin_; }

    // The host moves to entry `index` (modulo the list) and tells its main
    // window that the song started.
    void songChange(std::size_t index) const;
    // One tick of the plug-in's discovery timer.
    void tick() const;
    // Skype's Attach reply: `skype` is the window it names, `status` 0 Success.
    void attachReply(HWND skype, LONG status = 0) const;
    // The bench ticks by hand: the timer of the plug-in's own stops (and
    // starts again, as the plug-in set it).
    void stopDiscoveryTimer() const;
    void restartDiscoveryTimer() const;
    // Pumps until `count` more sends than `before` left the plug-in's thread
    // (at once for the lean reference, which sends before it returns).
    bool awaitSends(const LinkSends& before, long count) const;
    // Pumps until the plug-in's thread has been idle for kLinkQuietMs.
    bool settle() const;

  private:
    // The lean reference's own thread has sent what it was handed.
    bool handedOverGone() const;

    PluginKind kind_;
    HWND host_ = nullptr;
    HWND client_ = nullptr;
    Plugin plugin_;
    std::string error_;
};

// The player attaches to the receiver as to Skype, and a song change then
// brings it exactly the expected bytes (once the plug-in's thread sent them).
bool attachToReceiver(const Player& player, const Receiver& receiver, const Scene& scene);

// A player whose plug-in is attached to the lean receiver as to Skype.
struct ReceiverStage {
    // `answerAfterMs`: the receiver takes that long over each block.
    explicit ReceiverStage(PluginKind kind, DWORD answerAfterMs = 0);
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
