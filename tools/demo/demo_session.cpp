#include "demo_session.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "demo_text.h"
#include "host/host_api.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "skype/skype_link.h"
#include "skype_program.h"
#include "standin_player.h"
#include "standin_skype.h"

namespace {

using demo::characterCount;
using demo::hexBytes;
using demo::hexHandle;
using demo::quoted;
using demo::SkypeEvent;
using demo::SkypeLine;
using demo::startsWith;
using demo::textf;
using demo::utf8FromAnsi;
using standin_skype::SentKind;

// The player drives the stand-in Skype program through its control commands
// and reads what Skype received and sent from its transcript file.

constexpr DWORD kSettleMs = 150;
// Skype answers a command once it is back in its own loop.
constexpr DWORD kAnswerTimeoutMs = 3000;
constexpr DWORD kNotificationTimeoutMs = 5000;
// Longer than the plug-in's 5-second discovery period: a plug-in that waited
// for its timer instead of Skype's announcement would still show it.
constexpr DWORD kReattachTimeoutMs = 8000;
constexpr DWORD kSnapshotTimeoutMs = 20000;
constexpr DWORD kDialogTimeoutMs = 10000;
constexpr UINT kDialogTickMs = 50;
constexpr DWORD kPaintMs = 300;
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
constexpr char kNewTemplate[] = "winamp [%state%]:[%title%]";
constexpr char kExitMood[] = "Gone fishing";
constexpr char kDialogClass[] = "#32770";
constexpr char kKeyStopOnCall[] = "TRALMO_STOP_MUSIC";
// The plug-in's discovery timer on the host window, named in transcripts.
constexpr WPARAM kPluginDiscoveryTimer = 10102;
constexpr UINT kFirstRegisteredMessage = 0xC000;

// What the plug-in says to Skype and what Skype answers.
constexpr char kRichMoodPrefix[] = "SET PROFILE RICH_MOOD_TEXT ";
constexpr char kPlainMoodPrefix[] = "SET PROFILE MOOD_TEXT ";
constexpr char kRichMoodAnswer[] = "PROFILE RICH_MOOD_TEXT ";
constexpr char kPlainMoodAnswer[] = "PROFILE MOOD_TEXT ";
constexpr char kErrorAnswer[] = "ERROR ";
// The plug-in asks for protocol 7 and Skype, whose highest is 8, grants it.
constexpr char kProtocolCommand[] = "PROTOCOL 7";
constexpr char kProtocolAnswer[] = "PROTOCOL 7";
// CONNSTATUS, CURRENTUSERHANDLE and USERSTATUS after each attach.
constexpr unsigned kGreetings = 3;
// What the plug-in answers every message of Skype's.
constexpr LRESULT kTaken = 1;

constexpr char kShotAttached[] = "1-attached-playing";
constexpr char kShotRinging[] = "2-call-ringing";
constexpr char kShotRestarted[] = "3-skype-restarted";
constexpr char kShotOptions[] = "4-options-dialog";
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

// No such line, or no such place.
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// What Skype logged during the current step.
struct StepRecord {
    std::vector<SkypeLine> lines;
    std::vector<std::string> causes;  // what Skype did on its own: printed first
    std::vector<std::string> replies; // printed after the player's messages
    std::size_t attachSlot = kNone;   // where an Attach goes: right after its Discover
    std::vector<std::string> moods;   // the mood commands Skype carried out (UTF-8)
    unsigned notifications = 0;
};

// The whole session as Skype saw it.
struct SkypeTally {
    std::string heldMood; // what Skype's answers say it holds
    unsigned commands = 0;
    unsigned unanswered = 0; // commands whose answer has not been logged yet
    unsigned refused = 0;
    unsigned errors = 0;   // commands answered with ERROR
    unsigned sent = 0;     // answers, greetings and notifications
    unsigned blocking = 0; // ... of them sent with SMTO_BLOCK
    unsigned notTaken = 0; // ... that a window still there did not take with 1
    unsigned slow = 0;     // times Skype found its client slow
};

struct Session {
    DemoOptions options;
    int step = 0;
    int checks = 0;
    int failures = 0;
    StepRecord skype;
    SkypeTally tally;
};

enum class DialogStage { Opening, FilledIn, Pressed };

struct DialogDriver {
    DialogStage stage = DialogStage::Opening;
    UINT_PTR timer = 0;
    DWORD startedAt = 0;
    DWORD filledAt = 0;
    DWORD pressedAt = 0;
    HWND dialog = nullptr;
    bool announced = false;
    bool ended = false; // we had to end it ourselves
};

Session gSession;
DialogDriver gDialog;

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

std::string fileName(const std::string& path) {
    return path.substr(path.find_last_of("\\/") + 1);
}

std::string attachStatusName(unsigned long status) {
    switch (static_cast<LONG>(status)) {
    case standin_skype::kAttachSuccess:
        return "Success";
    case standin_skype::kAttachPendingAuthorization:
        return "PendingAuthorization";
    case standin_skype::kAttachRefused:
        return "Refused";
    case standin_skype::kAttachNotAvailable:
        return "NotAvailable";
    case standin_skype::kAttachApiAvailable:
        return "ApiAvailable";
    default:
        return "unknown";
    }
}

// The mood a mood command carries; false for any other command.
bool moodOf(const std::string& command, std::string* mood) {
    for (const char* prefix : {kRichMoodPrefix, kPlainMoodPrefix})
        if (startsWith(command, prefix)) {
            *mood = command.substr(std::strlen(prefix));
            return true;
        }
    return false;
}

// ---- What Skype logged ----

void cause(const std::string& text) {
    gSession.skype.causes.push_back(labelled("Skype", text));
}

void reply(const std::string& text) {
    gSession.skype.replies.push_back(labelled("Skype", text));
}

// What the window a message went to made of it.
std::string outcome(const SkypeLine& line) {
    if (line.delivered)
        return textf(" -> %ld", line.result);
    return IsWindow(line.client) ? " -> not delivered" : " -> not delivered: the window is gone";
}

// Skype logs its Attach once the client has handled it, after the commands
// the client sent meanwhile: show it right after the Discover it answers.
void takeAttach(const SkypeLine& line) {
    StepRecord& step = gSession.skype;
    const std::string text =
        (line.posted ? "posted Attach from its window " : "answered with Attach from its window ") +
        hexHandle(line.skype) +
        textf(", status %lu (%s)", line.status, attachStatusName(line.status).c_str()) +
        (line.posted ? std::string() : outcome(line));
    const std::size_t slot = std::min(step.attachSlot, step.replies.size());
    step.replies.insert(step.replies.begin() + static_cast<std::ptrdiff_t>(slot),
                        labelled("Skype", text));
    step.attachSlot = kNone;
}

void takeReceivedCommand(const SkypeLine& line) {
    StepRecord& step = gSession.skype;
    SkypeTally& tally = gSession.tally;
    if (line.line.find('"') == std::string::npos) {
        reply(line.line); // a WM_COPYDATA without data
        return;
    }
    const std::string text = line.text();
    if (line.refused) {
        ++tally.refused;
        reply("refused " + quoted(text) + " from " + hexHandle(line.client) +
              ": it takes commands only from the client it attached");
        return;
    }
    ++tally.commands;
    ++tally.unanswered;
    reply("got " + quoted(text));
    std::string layout = textf("cbData %lu = %u bytes of UTF-8 text", line.cbData,
                               static_cast<unsigned>(text.size()));
    if (characterCount(text) != text.size())
        layout += textf(" (%u characters)", static_cast<unsigned>(characterCount(text)));
    const std::string tail = line.bytes.size() > text.size() ? line.bytes.substr(text.size()) : "";
    if (tail.empty())
        layout += ", no terminator";
    else if (tail.find_first_not_of('\0') == std::string::npos)
        layout += textf(" + %u zero byte%s", static_cast<unsigned>(tail.size()),
                        tail.size() == 1 ? "" : "s");
    else
        layout += textf(" + %u more bytes", static_cast<unsigned>(tail.size()));
    if (line.dwData)
        layout += textf(", dwData %lu", line.dwData);
    step.replies.push_back(labelled("", layout));
    std::string mood;
    if (moodOf(text, &mood))
        step.moods.push_back(mood);
}

void takeSentMessage(const SkypeLine& line) {
    SkypeTally& tally = gSession.tally;
    ++tally.sent;
    tally.blocking += line.blocking;
    // A message to a window that is gone cannot be taken; any other must be.
    if (line.delivered ? line.result != kTaken : IsWindow(line.client) != FALSE)
        ++tally.notTaken;
    const std::string text = line.text();
    const std::string how = (line.blocking ? " (SMTO_BLOCK)" : "") + outcome(line);
    switch (line.sentKind) {
    case SentKind::Answer:
        if (tally.unanswered > 0)
            --tally.unanswered;
        tally.errors += startsWith(text, kErrorAnswer);
        for (const char* prefix : {kRichMoodAnswer, kPlainMoodAnswer})
            if (startsWith(text, prefix))
                tally.heldMood = text.substr(std::strlen(prefix));
        reply("answered " + quoted(text) + how);
        return;
    case SentKind::Greeting:
        reply("greeted: " + quoted(text) + how);
        return;
    case SentKind::Notification:
    case SentKind::Call:
        ++gSession.skype.notifications;
        cause("told the plug-in " + quoted(text) + textf(" (cbData %lu)", line.cbData) + how);
        return;
    }
}

// Skype forgets what it owed a client when it goes away or the user logs out.
void forgetAnswersOwed() {
    gSession.tally.unanswered = 0;
}

void takeSkypeLine(const SkypeLine& line) {
    gSession.skype.lines.push_back(line);
    switch (line.event) {
    case SkypeEvent::Control:
        return; // the step's own request
    case SkypeEvent::Discover:
        reply("saw the plug-in's Discover broadcast");
        gSession.skype.attachSlot = gSession.skype.replies.size();
        return;
    case SkypeEvent::Attach:
        takeAttach(line);
        return;
    case SkypeEvent::Announce:
        cause("announced its API to every window: Attach from its window " + hexHandle(line.skype) +
              textf(", status 0x%lX (%s)", line.status, attachStatusName(line.status).c_str()) +
              (line.delivered ? "" : ", not delivered"));
        return;
    case SkypeEvent::Received:
        takeReceivedCommand(line);
        return;
    case SkypeEvent::Sent:
        takeSentMessage(line);
        return;
    case SkypeEvent::SlowClient:
        ++gSession.tally.slow;
        reply("found the plug-in slow on " + quoted(line.text()) +
              (line.timedOut ? " (it timed out)" : "") + (line.dropped ? " and dropped it" : ""));
        return;
    case SkypeEvent::Restart:
        forgetAnswersOwed();
        cause("exits and starts again: its window " + hexHandle(line.oldSkype) +
              " is gone, the new one is " + hexHandle(line.skype));
        return;
    case SkypeEvent::Leave:
        forgetAnswersOwed();
        cause("exits: its window " + hexHandle(line.skype) + " is gone");
        return;
    case SkypeEvent::Return:
        cause("is back, with the window " + hexHandle(line.skype));
        return;
    case SkypeEvent::LogOut:
        forgetAnswersOwed();
        cause("the user logs out; Skype tells " + hexHandle(line.client) + " NotAvailable");
        return;
    case SkypeEvent::LogIn:
        cause("the user logs in");
        return;
    case SkypeEvent::Decision:
        cause(std::string("the user ") + (line.refused ? "refuses " : "allows ") +
              hexHandle(line.client));
        return;
    case SkypeEvent::Hang:
        cause(textf("hangs for %lu ms", line.ms));
        return;
    case SkypeEvent::CallScript:
        cause(textf("starts call %lu: ", line.callId) + line.word);
        return;
    case SkypeEvent::CallStepNotSent:
        reply("had no client to tell " + quoted(line.text()));
        return;
    case SkypeEvent::Other:
        reply(line.line);
        return;
    }
}

void collectSkypeLines() {
    for (const SkypeLine& line : demo::newSkypeLines())
        takeSkypeLine(line);
}

// Pumps, reading Skype's transcript as it grows, until `done` holds.
bool waitForSkype(const std::function<bool()>& done, DWORD timeoutMs) {
    return standin::pumpUntil(
        [&done] {
            collectSkypeLines();
            return done();
        },
        timeoutMs);
}

void settle() {
    standin::pumpFor(kSettleMs);
    waitForSkype([] { return gSession.tally.unanswered == 0; }, kAnswerTimeoutMs);
}

// ---- Looking through the step's Skype lines ----

std::size_t findLine(const std::function<bool(const SkypeLine&)>& matches, std::size_t from = 0) {
    const std::vector<SkypeLine>& lines = gSession.skype.lines;
    for (std::size_t i = from; i < lines.size(); ++i)
        if (matches(lines[i]))
            return i;
    return kNone;
}

const SkypeLine* lineAt(std::size_t index) {
    return index == kNone ? nullptr : &gSession.skype.lines[index];
}

bool isCommand(const SkypeLine& line) {
    return line.event == SkypeEvent::Received && !line.refused;
}

bool isSuccessfulAttach(const SkypeLine& line) {
    return line.event == SkypeEvent::Attach && line.status == standin_skype::kAttachSuccess &&
           line.delivered;
}

bool isSent(const SkypeLine& line, SentKind kind) {
    return line.event == SkypeEvent::Sent && line.sentKind == kind;
}

// ---- Checks ----

void check(bool ok, const std::string& what, const std::string& otherwise = {}) {
    ++gSession.checks;
    if (!ok)
        ++gSession.failures;
    std::string line = what + (ok ? ": ok" : ": FAILED");
    if (!ok && !otherwise.empty())
        line += " (" + otherwise + ")";
    sayAs("check", line);
}

// The plug-in's last mood command of the step, and what Skype says it holds.
void checkMood(const std::string& expected) {
    const std::vector<std::string>& moods = gSession.skype.moods;
    const std::string& held = gSession.tally.heldMood;
    const bool got = !moods.empty() && moods.back() == expected;
    check(got && held == expected, "Skype's mood text is now " + quoted(expected),
          !got ? (moods.empty() ? "Skype got no mood" : "it got " + quoted(moods.back()))
               : "Skype's answer says it holds " + quoted(held));
}

void checkPlayState(standin::PlayState expected) {
    check(standin::playState() == expected,
          std::string("the player is ") + standin::stateName(expected),
          std::string("it is ") + standin::stateName(standin::playState()));
}

void checkIni(const char* key, const std::string& expected) {
    const std::string value = standin::readIniString(kIniSection, key, "(missing)");
    check(value == expected, textf("the ini holds %s = ", key) + quoted(utf8FromAnsi(expected)),
          "it holds " + quoted(utf8FromAnsi(value)));
}

// An attach from `from` on: Skype attached the plug-in from `skype` (any
// window when null), the plug-in's first command was PROTOCOL 7, Skype
// answered it from that window, and greeted the plug-in, which took it all.
BOOL CALLBACK findLinkWindow(HWND window, LPARAM found) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, kSkypeLinkWindowClass) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The window the plug-in made to talk to Skype from, on the player's thread.
HWND pluginLinkWindow() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findLinkWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

void checkAttached(std::size_t from, HWND skype) {
    const SkypeLine* attach = lineAt(findLine(
        [skype](const SkypeLine& line) {
            return isSuccessfulAttach(line) && (!skype || line.skype == skype);
        },
        from));
    check(attach != nullptr, "Skype answered the plug-in's Discover with Attach Success" +
                                 (skype ? " from " + hexHandle(skype) : std::string()));
    if (!attach)
        return;
    const HWND link = pluginLinkWindow();
    check(link != nullptr && attach->client == link,
          "Skype's client is the plug-in's link window " + hexHandle(link) +
              ", not the player's main window",
          "Skype attached " + hexHandle(attach->client));
    const SkypeLine* first = lineAt(findLine(isCommand, from));
    const SkypeLine* answer = lineAt(findLine(
        [attach](const SkypeLine& line) {
            return isSent(line, SentKind::Answer) && line.skype == attach->skype &&
                   line.text() == kProtocolAnswer;
        },
        from));
    check(first && first->text() == kProtocolCommand && answer && answer->delivered,
          textf("the plug-in asked for \"%s\" first and Skype answered \"%s\": they speak "
                "protocol 7",
                kProtocolCommand, kProtocolAnswer),
          first ? "the first command was " + quoted(first->text()) : "no command came");
    unsigned greetings = 0;
    for (std::size_t i = from; i < gSession.skype.lines.size(); ++i) {
        const SkypeLine& line = gSession.skype.lines[i];
        greetings += isSent(line, SentKind::Greeting) && line.delivered && line.result == kTaken;
    }
    check(greetings == kGreetings,
          "Skype greeted the plug-in (CONNSTATUS, CURRENTUSERHANDLE, USERSTATUS) and it took each",
          textf("%u of %u taken", greetings, kGreetings));
}

// ---- The player's side ----

std::string hostCommandName(unsigned id) {
    switch (id) {
    case host::kCommandPrevious:
        return "previous";
    case host::kCommandPlay:
        return "play";
    case host::kCommandPause:
        return "pause";
    case host::kCommandStop:
        return "stop";
    case host::kCommandNext:
        return "next";
    case IDM_ABOUT:
        return "About";
    case IDM_ACTIVE:
        return "Active";
    case IDM_STOP_ON_CALL:
        return "Stop on call";
    case IDM_SET_MOOD_ON_EXIT:
        return "Set mood on exit";
    case IDM_OPTIONS:
        return "Options";
    default:
        return "";
    }
}

// A title query's answer: the title it points at, in UTF-8, or the bare number.
template <typename Text, typename ToUtf8>
std::string titleAnswer(const std::vector<Text>& titles, LRESULT answer, ToUtf8 toUtf8) {
    for (const Text& title : titles)
        if (reinterpret_cast<LRESULT>(title.c_str()) == answer)
            return quoted(toUtf8(title));
    return textf("0x%08lX", static_cast<unsigned long>(answer));
}

std::string playStateAnswer(LRESULT answer) {
    const char* word = answer == host::kStatePlaying  ? "playing"
                       : answer == host::kStatePaused ? "paused"
                                                      : "stopped";
    return textf("%ld (%s)", static_cast<long>(answer), word);
}

// A main-window query or callback: its code, a word for it and the answer.
std::string hostQueryText(const standin::LoggedMessage& entry) {
    const long code = static_cast<long>(entry.lParam);
    const LRESULT answer = entry.result;
    const std::string query = textf("query %ld ", code);
    switch (code) {
    case host::kQueryPlayState:
        return query + "play state? -> " + playStateAnswer(answer);
    case host::kQueryPlaylistPosition:
        return query + textf("playlist position? -> %ld", static_cast<long>(answer));
    case host::kQueryEntryTitle:
        return query + textf("title of entry %lu? -> ", static_cast<unsigned long>(entry.wParam)) +
               titleAnswer(standin::titles(), answer, utf8FromAnsi);
    case host::kQueryEntryTitleWide:
        return query +
               textf("UTF-16 title of entry %lu? -> ", static_cast<unsigned long>(entry.wParam)) +
               titleAnswer(standin::wideTitles(), answer, standin::utf8FromWide);
    case host::kQueryIniPath:
        return query + "ini path? -> " +
               (answer == reinterpret_cast<LRESULT>(standin::iniPath().c_str())
                    ? quoted(fileName(utf8FromAnsi(standin::iniPath())))
                    : textf("%ld", static_cast<long>(answer)));
    case host::kQueryIniPathWide:
        return query + "UTF-16 ini path? -> " +
               (answer == reinterpret_cast<LRESULT>(standin::wideIniPath().c_str())
                    ? quoted(fileName(standin::utf8FromWide(standin::wideIniPath())))
                    : textf("%ld", static_cast<long>(answer)));
    case host::kSetVolume:
        if (entry.wParam == static_cast<WPARAM>(host::kGetVolumeParam))
            return query + textf("volume? -> %ld", static_cast<long>(answer));
        return query + textf("set volume %lu", static_cast<unsigned long>(entry.wParam));
    case host::kQueryWindow:
        return query + textf("playlist window? -> 0x%08lX", static_cast<unsigned long>(answer));
    case host::kCallbackSongStarted:
        return textf("callback %ld song started", code);
    case host::kCallbackStatusChanged:
        return textf("callback %ld status changed", code);
    default:
        return standin::describe(entry);
    }
}

std::string registeredMessageText(const standin::LoggedMessage& entry, const char* name) {
    const HWND sender = reinterpret_cast<HWND>(entry.wParam);
    if (std::strcmp(name, standin_skype::kAttachMessageName) == 0)
        return textf("Skype's Attach from %s, status 0x%lX (%s)", hexHandle(sender).c_str(),
                     static_cast<unsigned long>(entry.lParam),
                     attachStatusName(static_cast<unsigned long>(entry.lParam)).c_str());
    return textf("broadcast \"%s\" from %s", name, hexHandle(sender).c_str());
}

// Shorter than standin::describe: the numbers, a word for each, the answer.
std::string hostMessageText(const standin::LoggedMessage& entry) {
    if (entry.window == standin::Window::Main && entry.message == host::kWmUser)
        return hostQueryText(entry);
    if (entry.message == WM_COMMAND) {
        const unsigned id = LOWORD(entry.wParam);
        return textf("command %u ", id) + hostCommandName(id);
    }
    if (entry.message == WM_CLOSE)
        return "WM_CLOSE: the player closes (playback stops, its windows go)";
    if (entry.message == WM_DESTROY)
        return "WM_DESTROY";
    if (entry.message == WM_TIMER)
        return textf("timer %lu", static_cast<unsigned long>(entry.wParam)) +
               (entry.wParam == kPluginDiscoveryTimer ? " (the plug-in's Skype discovery)" : "");
    char name[64];
    if (entry.message >= kFirstRegisteredMessage &&
        GetClipboardFormatNameA(entry.message, name, sizeof name) > 0)
        return registeredMessageText(entry, name);
    return standin::describe(entry);
}

void printHostMessages() {
    for (const standin::LoggedMessage& entry : standin::messageLog()) {
        if (!standin::isNotable(entry))
            continue;
        const char* window = entry.window == standin::Window::Playlist ? "playlist: " : "";
        sayAs("player", std::string(2 * entry.depth, ' ') + window + hostMessageText(entry));
    }
}

std::string currentTitleUtf8() {
    const auto& titles = standin::wideTitles();
    const int position = standin::position();
    return position >= 0 && static_cast<std::size_t>(position) < titles.size()
               ? standin::utf8FromWide(titles[position])
               : std::string();
}

// The caption (GetWindowTextW) names the song in full: the plug-in's subclass
// kept the window Unicode.
void checkCaption() {
    const std::string caption = standin::utf8FromWide(standin::mainCaption());
    const std::string expected = textf("%d. ", standin::position() + 1) + currentTitleUtf8() +
                                 standin::utf8FromWide(standin::kCaptionSuffix);
    check(caption == expected, "the player's caption reads " + quoted(expected),
          "it reads " + quoted(caption));
}

// The playing title has characters the ANSI code page lacks: only the UTF-16
// title (query 213) can bring them to Skype.
void checkOutsideCodePage() {
    const int position = standin::position();
    const std::string ansi = standin::titles().at(static_cast<std::size_t>(position));
    const std::wstring& wide = standin::wideTitles().at(static_cast<std::size_t>(position));
    check(standin::wideFromAnsi(ansi) != wide,
          textf("code page %u has no room for the title: its 8-bit form (query 212) reads ",
                GetACP()) +
              quoted(utf8FromAnsi(ansi)));
}

std::string playerSummary() {
    const std::string title = currentTitleUtf8();
    return std::string(standin::stateName(standin::playState())) +
           textf(", song %d of %u ", standin::position() + 1,
                 static_cast<unsigned>(standin::titles().size())) +
           (title.empty() ? std::string("(none)") : quoted(title)) +
           textf(", volume %d", standin::volume());
}

// The template with both placeholders filled in, as the mood should read.
std::string expectedMood(const std::string& moodTemplate, const std::string& stateWord) {
    std::string mood = moodTemplate;
    for (const auto& [placeholder, value] :
         {std::pair<std::string, std::string>{"[%title%]", currentTitleUtf8()},
          std::pair<std::string, std::string>{"[%state%]", stateWord}}) {
        for (std::size_t at = mood.find(placeholder); at != std::string::npos;
             at = mood.find(placeholder, at + value.size()))
            mood.replace(at, placeholder.size(), value);
    }
    return mood;
}

// ---- Snapshots ----

std::string snapshotAck(const std::string& name) {
    return gSession.options.snapshots + "\\" + name + ".ack";
}

void announceSnapshot(const std::string& name) {
    DeleteFileA(snapshotAck(name).c_str());
    say("@@snapshot " + name);
}

bool snapshotTaken(const std::string& name) {
    return DeleteFileA(snapshotAck(name).c_str()) != 0;
}

// Whoever reads our output takes a picture of the screen, then acknowledges.
void snapshot(const std::string& name) {
    if (gSession.options.snapshots.empty())
        return;
    standin::pumpFor(kPaintMs); // let both programs paint
    announceSnapshot(name);
    if (!standin::pumpUntil([&] { return snapshotTaken(name); }, kSnapshotTimeoutMs))
        sayAs("note", "no screenshot was acknowledged for " + name);
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

void checkNotified(const std::string& expected, const std::string& what) {
    const SkypeLine* sent = lineAt(
        findLine([](const SkypeLine& line) { return isSent(line, SentKind::Notification); }));
    check(sent && sent->text() == expected && sent->delivered && sent->result == kTaken, what,
          sent ? "it sent " + quoted(sent->text()) + outcome(*sent) : "it sent nothing");
}

// ---- The options dialog, driven from a timer inside its modal loop ----

BOOL CALLBACK findDialog(HWND window, LPARAM found) {
    char name[16];
    if (IsWindowVisible(window) && GetClassNameA(window, name, sizeof name) > 0 &&
        std::strcmp(name, kDialogClass) == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// The dialog box this thread shows, if any.
HWND threadDialog() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string dialogItemText(HWND dialog, int id) {
    char text[kIniTextBufferSize] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return utf8FromAnsi(text);
}

void fillInOptions(HWND dialog) {
    char caption[128] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    const bool stopOnCall = IsDlgButtonChecked(dialog, IDC_STOP_ON_CALL) == BST_CHECKED;
    sayAs("dialog", quoted(utf8FromAnsi(caption)) + " is open: template " +
                        quoted(dialogItemText(dialog, IDC_USER_STRING)) + ", Stop on call " +
                        (stopOnCall ? "on" : "off") + ", exit mood " +
                        quoted(dialogItemText(dialog, IDC_EXIT_MOOD)));
    SetDlgItemTextA(dialog, IDC_USER_STRING, kNewTemplate);
    SetDlgItemTextA(dialog, IDC_EXIT_MOOD, kExitMood);
    sayAs("dialog",
          textf("typed the template \"%s\" and the exit mood \"%s\"", kNewTemplate, kExitMood));
}

void CALLBACK driveOptionsDialog(HWND, UINT, UINT_PTR, DWORD) {
    const DWORD now = GetTickCount();
    switch (gDialog.stage) {
    case DialogStage::Opening:
        gDialog.dialog = threadDialog();
        if (gDialog.dialog && GetDlgItem(gDialog.dialog, IDC_USER_STRING)) {
            fillInOptions(gDialog.dialog);
            gDialog.stage = DialogStage::FilledIn;
            gDialog.filledAt = now;
        } else if (now - gDialog.startedAt > kDialogTimeoutMs) {
            // No options dialog: close whatever opened instead, or the
            // session would wait in its modal loop for ever.
            if (gDialog.dialog)
                EndDialog(gDialog.dialog, 0);
            KillTimer(nullptr, gDialog.timer);
        }
        return;
    case DialogStage::FilledIn: {
        const bool snapshots = !gSession.options.snapshots.empty();
        if (now - gDialog.filledAt < kPaintMs)
            return;
        if (snapshots && !gDialog.announced) {
            announceSnapshot(kShotOptions);
            gDialog.announced = true;
            return;
        }
        if (snapshots && !snapshotTaken(kShotOptions) &&
            now - gDialog.filledAt < kSnapshotTimeoutMs)
            return;
        if (now - gDialog.filledAt < gSession.options.paceMs)
            return;
        sayAs("dialog", "pressing OK");
        gDialog.stage = DialogStage::Pressed;
        gDialog.pressedAt = now;
        SendDlgItemMessageA(gDialog.dialog, IDOK, BM_CLICK, 0, 0);
        return;
    }
    case DialogStage::Pressed:
        // Still open: OK did not take. End it so that the session goes on.
        if (IsWindow(gDialog.dialog) && now - gDialog.pressedAt > kDialogTimeoutMs) {
            gDialog.ended = true;
            EndDialog(gDialog.dialog, 0);
        }
        return;
    }
}

void runOptionsDialog() {
    gDialog = DialogDriver{};
    gDialog.startedAt = GetTickCount();
    gDialog.timer = SetTimer(nullptr, 0, kDialogTickMs, driveOptionsDialog);
    standin::sendCommand(IDM_OPTIONS); // returns when the modal dialog has ended
    KillTimer(nullptr, gDialog.timer);
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
                 check(gDialog.stage == DialogStage::Pressed && !gDialog.ended,
                       "the dialog opened and OK closed it");
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
    if (standin::playerExists())
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
