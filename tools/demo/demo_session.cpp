#include "session_state.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "skype/skype_link.h"

namespace demo::session {
namespace {

constexpr int kDemoPlaylistWidth = 320;
constexpr int kDemoPlaylistHeight = 170;
constexpr POINT kSkypeAt{380, 40};
constexpr char kSkypeProgram[] = "standin_skype.exe";
// Cyrillic, as on a Russian Windows: the Japanese title lies outside it.
constexpr UINT kDemoCodePage = 1251;

constexpr int kDemoStepCount = 17;
constexpr char kFirstCallId[] = "77";
constexpr char kSecondCallId[] = "78";
constexpr char kStartTemplate[] = "[%title%] [%state%]";
constexpr char kKeyStopOnCall[] = "TRALMO_STOP_MUSIC";

constexpr char kShotAttached[] = "1-attached-playing";
constexpr char kShotRinging[] = "2-call-ringing";
constexpr char kShotRestarted[] = "3-skype-restarted";
constexpr char kShotStream[] = "5-stream-title";
constexpr char kShotQuit[] = "6-after-quit";

// UTF-8 here; the player holds them in UTF-16, as the real one does, and
// answers them in the ANSI code page too (query 212, the tray tooltip's text),
// where code page 1251 has no room for the Japanese one. The last is an
// internet radio stream that names each song it plays.
constexpr const char* kDemoTitles[] = {
    "Nadia Orlov - Glass Harbour",
    "Вера Лунина - Зимний вокзал",
    "坂本龍一 - 戦場のメリークリスマス",
    "Radio Tralmo: The Quiet Engines - Northbound",
};
constexpr char kStreamNextTitle[] = "Radio Tralmo: Pavel Ruzek - Small Hours";

std::string fullPath(const std::string& path) {
    char buffer[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, buffer, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : path;
}

std::string besideThisProgram(const char* name) {
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return name;
    std::string path(buffer, length);
    return path.substr(0, path.find_last_of("\\/") + 1) + name;
}

std::string snapshotAck(const std::string& name) {
    return gSession.options.snapshots + "\\" + name + ".ack";
}

} // namespace

Session gSession;

// ---- Output ----

// Everything the demo prints is UTF-8.
void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// One transcript line: a label column, then the text.
std::string labelled(const char* label, const std::string& text) {
    return textf("%-7s ", label) + text;
}

void sayAs(const char* label, const std::string& text) {
    say("      " + labelled(label, text));
}

std::string fileName(const std::string& path) {
    return path.substr(path.find_last_of("\\/") + 1);
}

// ---- Snapshots ----

void announceSnapshot(const std::string& name) {
    DeleteFileA(snapshotAck(name).c_str());
    say("@@snapshot " + name);
}

bool snapshotTaken(const std::string& name) {
    return DeleteFileA(snapshotAck(name).c_str()) != 0;
}

namespace {

// Whoever reads our output takes a picture of the screen, then acknowledges.
void snapshot(const std::string& name) {
    if (gSession.options.snapshots.empty())
        return;
    standin::pumpFor(kPaintMs); // let both programs paint
    announceSnapshot(name);
    if (!standin::pumpUntil([&] { return snapshotTaken(name); }, kSnapshotTimeoutMs))
        sayAs("note", "no screenshot was acknowledged for " + name);
}

std::string playerSummary() {
    const std::string title = currentTitleUtf8();
    return std::string(standin::stateName(standin::playState())) +
           textf(", song %d of %u ", standin::position() + 1,
                 static_cast<unsigned>(standin::titles().size())) +
           (title.empty() ? std::string("(none)") : quoted(title)) +
           textf(", volume %d", standin::volume());
}

// ---- Steps ----

// Runs one step: its action, then what Skype did on its own, what the
// player's windows received, what else Skype logged meanwhile, and the checks
// that follow it.
template <typename Action, typename Checks>
void demoStep(const std::string& title, Action action, Checks checks) {
    say("");
    say(textf("%2d. ", ++gSession.step) + title);
    gSession.skype = StepRecord{};
    standin::clearLog();
    action();
    settle();
    for (const std::string& line : gSession.skype.causes)
        say("      " + line);
    printHostMessages();
    for (const std::string& line : gSession.skype.replies)
        say("      " + line);
    checks();
    if (standin::mainWindow())
        sayAs("now", playerSummary());
    standin::pumpFor(gSession.options.paceMs);
}

void controlSkype(const std::string& command) {
    if (!demo::controlSkype(command))
        sayAs("note", "Skype did not take the control command " + quoted(command));
}

// A call status Skype sends when told to, and the wait until it has gone out.
void notifyCall(const std::string& control) {
    controlSkype(control);
    if (!waitForSkype([] { return gSession.skype.notifications > 0; }, kNotificationTimeoutMs))
        sayAs("note", "Skype logged no notification");
}

// ---- The session ----

void printDemoHeader() {
    say("Tralmo demo: the real gen_tralmo.dll in the stand-in Winamp player, beside the "
        "stand-in");
    say("Skype client: two Windows programs under Wine. This is the player's account of it.");
    say(textf("ANSI code page %u. The ini file starts with TRALMO_USER_STRING=%s.", GetACP(),
              kStartTemplate));
    say("  player  a message the player's windows received, with the player's answer; indented:");
    say("          it arrived while the line above was being handled. The plug-in sees a");
    say("          callback before the player does, so its queries about it come first.");
    say("  Skype   what the Skype client did on its own (listed first), received from the");
    say("          plug-in, or answered; \"-> 1\" is what the window it sent to returned");
    say("  check   what should have happened");
}

std::vector<std::wstring> demoTitles() {
    std::vector<std::wstring> titles;
    for (const char* title : kDemoTitles)
        titles.push_back(standin::wideFromUtf8(title));
    return titles;
}

bool startSkype() {
    if (const int leftovers = demo::closeLeftoverSkypes())
        sayAs("Skype", textf("closed %d stand-in Skype%s left over from an earlier run", leftovers,
                             leftovers == 1 ? "" : "s"));
    demo::SkypeLaunch launch;
    const DemoOptions& options = gSession.options;
    launch.program = options.skype.empty() ? besideThisProgram(kSkypeProgram) : options.skype;
    launch.logPath = fullPath(options.skypeLog.empty() ? "skype.log" : options.skypeLog);
    launch.clientProcess = GetCurrentProcessId();
    launch.controller = standin::mainWindow();
    launch.at = kSkypeAt;
    std::string error;
    if (!demo::startSkype(launch, &error)) {
        sayAs("Skype", error);
        return false;
    }
    sayAs("Skype", "is up as the documented client (--real): it answers every command, greets a");
    sayAs("", "client it attached, sends every other message with SMTO_BLOCK and drops a");
    sayAs("", "client that keeps it waiting over a second");
    sayAs("", textf("process %lu, window %s, transcript in ",
                    static_cast<unsigned long>(demo::skypeProcessId()),
                    hexHandle(demo::skypeAppWindow()).c_str()) +
                  fileName(launch.logPath));
    return true;
}

void runCallSteps() {
    demoStep(
        "Switch on \"Stop on call\" (menu command 107 to the player's window)",
        [] { standin::sendCommand(IDM_STOP_ON_CALL); },
        [] { check(gSession.skype.moods.empty(), "no mood went to Skype"); });
    const auto expectPausedByCall = [] {
        checkPlayState(standin::PlayState::Paused);
        checkMood(expectedMood(kStartTemplate, "paused"));
    };
    const auto expectResumed = [] {
        checkPlayState(standin::PlayState::Playing);
        checkMood(expectedMood(kStartTemplate, "playing"));
    };
    demoStep(
        textf("A call rings: Skype tells the plug-in \"CALL %s STATUS RINGING\"", kFirstCallId),
        [] { notifyCall(std::string("ring ") + kFirstCallId); }, expectPausedByCall);
    snapshot(kShotRinging);
    demoStep(
        textf("The call is missed: \"CALL %s STATUS MISSED\"", kFirstCallId),
        [] { notifyCall(std::string("missed ") + kFirstCallId); }, expectResumed);
    demoStep(
        textf("Another call rings: \"CALL %s STATUS RINGING\"", kSecondCallId),
        [] { notifyCall(std::string("ring ") + kSecondCallId); }, expectPausedByCall);
    demoStep(
        textf("The caller gives up: Skype reports call %s CANCELLED, a word of protocol 2 on",
              kSecondCallId),
        [] { notifyCall(std::string("cancelled ") + kSecondCallId); },
        [expectResumed] {
            checkNotified(textf("CALL %s STATUS CANCELLED", kSecondCallId),
                          "Skype said CANCELLED, not FINISHED: it speaks the plug-in's protocol 7");
            expectResumed();
        });
}

void runRestartStep() {
    std::size_t restart = kNone;
    demoStep(
        "Skype exits and starts again with a new window, then announces its API to every "
        "window (Attach 0x8001); the plug-in attaches to the new window at once",
        [&] {
            controlSkype("restart");
            waitForSkype(
                [&] {
                    restart = findLine(
                        [](const SkypeLine& line) { return line.event == SkypeEvent::Restart; });
                    std::string mood;
                    return restart != kNone &&
                           findLine(
                               [&mood](const SkypeLine& line) {
                                   return isCommand(line) && moodOf(line.text(), &mood);
                               },
                               restart) != kNone &&
                           gSession.tally.unanswered == 0;
                },
                kReattachTimeoutMs);
        },
        [&] {
            const SkypeLine* restarted = lineAt(restart);
            const HWND fresh = restarted ? restarted->skype : nullptr;
            check(restarted && fresh && fresh != restarted->oldSkype,
                  "Skype's API window is a new one: " +
                      (restarted
                           ? hexHandle(restarted->oldSkype) + " went, " + hexHandle(fresh) + " came"
                           : std::string("no restart was logged")));
            const SkypeLine* announced = lineAt(
                findLine([](const SkypeLine& line) { return line.event == SkypeEvent::Announce; },
                         restart == kNone ? 0 : restart));
            check(announced && announced->delivered && announced->skype == fresh,
                  "the new window announced Skype's API to every window (Attach 0x8001)");
            checkAttached(restart == kNone ? 0 : restart, fresh);
            const std::string expected = expectedMood(kStartTemplate, "playing");
            checkMood(expected);
            check(findLine(
                      [&](const SkypeLine& line) {
                          return isSent(line, SentKind::Answer) && line.skype == fresh &&
                                 line.text() == kRichMoodAnswer + expected;
                      },
                      restart == kNone ? 0 : restart) != kNone,
                  "the playing song went to the new window, which answered it");
        });
    snapshot(kShotRestarted);
}

void runSongSteps() {
    const auto expectPlaying = [] { checkMood(expectedMood(kStartTemplate, "playing")); };
    demoStep(
        "Play: song 1 starts", [] { standin::sendCommand(host::kCommandPlay); }, expectPlaying);
    snapshot(kShotAttached);
    demoStep(
        "Next song: a Cyrillic title, UTF-16 in the player, UTF-8 on its way to Skype",
        [] { standin::sendCommand(host::kCommandNext); },
        [expectPlaying] {
            expectPlaying();
            checkCaption();
        });
    demoStep(
        textf("Next song: a Japanese title, which code page %u cannot hold", kDemoCodePage),
        [] { standin::sendCommand(host::kCommandNext); },
        [expectPlaying] {
            checkOutsideCodePage();
            checkCaption();
            expectPlaying();
            const std::string title = currentTitleUtf8();
            const std::string artist = title.substr(0, title.find(' '));
            sayAs("UTF-8", quoted(artist) + " is " + hexBytes(artist));
        });
    demoStep(
        "Pause", [] { standin::sendCommand(host::kCommandPause); },
        [] { checkMood(expectedMood(kStartTemplate, "paused")); });
    demoStep(
        "Resume (play while paused)", [] { standin::sendCommand(host::kCommandPlay); },
        expectPlaying);
}

void runClosingSteps() {
    demoStep("Options dialog (menu command 109): a new template and an exit mood, then OK",
             runOptionsDialog, [] {
                 check(optionsDialogClosedWithOk(), "the dialog opened and OK closed it");
                 checkIni(kKeyUserString, kNewTemplate);
                 checkIni(kKeyExitMood, kExitMood);
             });
    demoStep(
        "Next song: an internet radio stream; the mood follows the new template",
        [] { standin::sendCommand(host::kCommandNext); },
        [] { checkMood(expectedMood(kNewTemplate, "playing")); });
    demoStep(
        "The stream names its next song: the title changes, no new song starts",
        [] { standin::updateStreamTitle(standin::wideFromUtf8(kStreamNextTitle)); },
        [] {
            check(standin::countQueries(host::kCallbackSongStarted) == 0,
                  "no song started: the player sent its status callback alone");
            checkCaption();
            checkMood(expectedMood(kNewTemplate, "playing"));
        });
    snapshot(kShotStream);
    bool closed = false;
    demoStep(
        "Stop, then the player quits as Winamp does: WM_CLOSE closes its windows, its loop "
        "ends, and only then it calls the plug-in's quit; the exit mood is set",
        [&] {
            standin::sendCommand(host::kCommandStop);
            closed = standin::closePlayer();
        },
        [&] {
            const std::vector<std::string>& moods = gSession.skype.moods;
            const SkypeTally& tally = gSession.tally;
            check(closed && !standin::mainWindow() && standin::pluginModule() != nullptr,
                  "the windows are gone, quit was called, the plug-in stays loaded",
                  standin::pluginError());
            check(moods.size() == 2 && moods.front() == expectedMood(kNewTemplate, "stopped"),
                  "Skype heard \"stopped\" first");
            checkMood(kExitMood);
            checkIni(kKeyStopOnCall, "1");
            check(tally.slow == 0 && tally.notTaken == 0,
                  textf("all session long the plug-in took each of Skype's %u messages within "
                        "Skype's second (%u with SMTO_BLOCK): never slow, never dropped",
                        tally.sent, tally.blocking),
                  textf("%u slow, %u not taken", tally.slow, tally.notTaken));
            check(tally.refused == 0 && tally.errors == 0,
                  textf("Skype carried out each of the plug-in's %u commands: none refused, "
                        "none answered with ERROR",
                        tally.commands),
                  textf("%u refused, %u errors", tally.refused, tally.errors));
        });
}

void runDemoSteps(const DemoOptions& options) {
    bool skypeUp = false;
    demoStep(
        "Start the stand-in Skype client, a process of its own", [&] { skypeUp = startSkype(); },
        [&] {
            check(skypeUp, "Skype is running");
            check(GetACP() == kDemoCodePage,
                  textf("the player runs under the ANSI code page %u, as on a Russian Windows",
                        kDemoCodePage),
                  textf("it runs under %u", GetACP()));
        });
    if (!skypeUp)
        return;

    bool loaded = false;
    demoStep(
        "Load gen_tralmo.dll into the player and call its init: it looks for Skype",
        [&] {
            loaded = standin::loadPlugin(options.plugin) && standin::describePlugin();
            int result = 0;
            loaded = loaded && standin::initPlugin(&result);
            if (loaded) {
                sayAs("plug-in", quoted(standin::pluginDescriptor()->description) +
                                     textf(", init returned %d", result));
                sayAs("", "talks to Skype from a window of its own, " +
                              hexHandle(pluginLinkWindow()) + " (class " + kSkypeLinkWindowClass +
                              "), and sends from a thread of its own");
            } else
                sayAs("plug-in", "FAILED: " + standin::pluginError());
        },
        [&] {
            check(loaded, "the plug-in is loaded and running");
            checkAttached(0, nullptr);
        });
    if (!loaded)
        return;
    runSongSteps();
    runCallSteps();
    runRestartStep();
    runClosingSteps();
}

void printDemoIniSection() {
    say("");
    say(textf("[%s] section of %s after the session:", kIniSection,
              fileName(utf8FromAnsi(standin::iniPath())).c_str()));
    for (const std::string& line : standin::readIniSection(kIniSection))
        say("      " + utf8FromAnsi(line));
}

} // namespace

} // namespace demo::session

using demo::textf;
using namespace demo::session;

int runDemoSession(const DemoOptions& given) {
    _setmode(_fileno(stdout), _O_BINARY); // the reader wants "\n", not "\r\n"
    gSession.options = given;
    const DemoOptions& session = gSession.options;
    printDemoHeader();
    standin::PlayerOptions options;
    options.wideTitles = demoTitles();
    options.iniPath = session.ini.empty() ? std::string() : fullPath(session.ini);
    if (!standin::createPlayer(options) ||
        !standin::writeIniContent(std::string("[") + kIniSection + "]\r\n" + kKeyUserString + "=" +
                                  kStartTemplate + "\r\n")) {
        say("FAILED: " + standin::pluginError());
        return 1;
    }
    // Four songs need no tall playlist; it leaves room on the screenshots.
    SetWindowPos(standin::playlistWindow(), nullptr, 0, 0, kDemoPlaylistWidth, kDemoPlaylistHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    runDemoSteps(session);
    printDemoIniSection();
    standin::destroyPlayer(); // the player's windows go; Skype keeps the exit mood
    if (demo::skypeAppWindow()) {
        snapshot(kShotQuit);
        standin::pumpFor(session.paceMs * 3);
    }
    if (!demo::stopSkype())
        sayAs("Skype", "did not exit when told to; ended it");
    say("");
    const bool passed = gSession.failures == 0 && gSession.step == kDemoStepCount;
    if (passed)
        say(textf("Demo finished: all %d checks passed.", gSession.checks));
    else
        say(textf("Demo FAILED: %d of %d checks failed; %d of %d steps ran.", gSession.failures,
                  gSession.checks, gSession.step, kDemoStepCount));
    return passed ? 0 : 1;
}
