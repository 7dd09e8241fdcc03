// The demo session's state, and what its parts call of each other:
// demo_session.cpp (the steps and the output), transcript_reader.cpp (what
// Skype logged, turned into the player's account), demo_checks.cpp (what
// should have happened), host_messages.cpp (what the player's windows
// received, in words) and options_driver.cpp (the options dialog, driven from
// inside its modal loop). Only they include this header.
#pragma once
#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "demo_session.h"
#include "demo_text.h"
#include "skype_program.h"
#include "standin_player.h"
#include "standin_skype.h"

namespace demo::session {

using standin_skype::attachStatusName;
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

// What the options dialog is given.
constexpr char kNewTemplate[] = "winamp [%state%]:[%title%]";
constexpr char kExitMood[] = "Gone fishing";

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

extern Session gSession;

// ---- demo_session.cpp ----

void say(const std::string& line);
std::string labelled(const char* label, const std::string& text);
void sayAs(const char* label, const std::string& text);
std::string fileName(const std::string& path);
void announceSnapshot(const std::string& name);
bool snapshotTaken(const std::string& name);

// ---- transcript_reader.cpp ----

bool moodOf(const std::string& command, std::string* mood);
std::string outcome(const SkypeLine& line);
bool waitForSkype(const std::function<bool()>& done, DWORD timeoutMs);
// A short wait, then until Skype has answered every command.
void settle();
// The first of the step's lines from `from` on that matches; kNone if none.
std::size_t findLine(const std::function<bool(const SkypeLine&)>& matches, std::size_t from = 0);
const SkypeLine* lineAt(std::size_t index); // null for kNone
bool isCommand(const SkypeLine& line);
bool isSuccessfulAttach(const SkypeLine& line);
bool isSent(const SkypeLine& line, SentKind kind);

// ---- demo_checks.cpp ----

void check(bool ok, const std::string& what, const std::string& otherwise = {});
void checkMood(const std::string& expected);
void checkPlayState(standin::PlayState expected);
void checkIni(const char* key, const std::string& expected);
HWND pluginLinkWindow();
void checkAttached(std::size_t from, HWND skype);
std::string currentTitleUtf8();
void checkCaption();
void checkOutsideCodePage();
std::string expectedMood(const std::string& moodTemplate, const std::string& stateWord);
// The step's first notification: that it read `expected` and the plug-in took it.
void checkNotified(const std::string& expected, const std::string& what);

// ---- host_messages.cpp ----

// What the player's windows received during the step, nested as it happened.
void printHostMessages();

// ---- options_driver.cpp ----

// Opens the options dialog; returns when it has closed.
void runOptionsDialog();
// Whether it opened and OK closed it.
bool optionsDialogClosedWithOk();

} // namespace demo::session
