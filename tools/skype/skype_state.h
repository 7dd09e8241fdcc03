// The stand-in Skype's own state, and what its parts call of each other: the
// transcript, the API window, the session events, the call scripts, and the
// thread with its requests. Only those files include this; tests and programs
// use standin_skype.h.
#pragma once
#include "standin_skype.h"
#include "win32_mutex.h"

#include <deque>
#include <string>
#include <vector>

namespace standin_skype::detail {

// Posted to the API window by a Deferred Discover; wParam is the client,
// lParam the status.
constexpr UINT kDeferredAttachMessage = WM_APP + 2;
// Posted to the API window for each answer sent Later.
constexpr UINT kLaterAnswerMessage = WM_APP + 3;

struct RunningScript {
    std::vector<ScriptStep> steps;
    size_t next = 0;
    DWORD start = 0; // GetTickCount, or the stepped clock
};

struct LaterAnswer {
    HWND client;
    std::string text;
};

using win32::Lock;
extern win32::Mutex g_mutex;

// Everything below is guarded by g_mutex. Nothing is sent while it is held:
// the receiving thread may be waiting for it.
extern Config g_config;
extern HWND g_apiWindow;
extern HWND g_otherWindow;
extern HWND g_lastClient;
extern UINT g_discoverMessage;
extern UINT g_attachMessage;
extern std::vector<CopyDataRecord> g_records;
extern std::vector<AttachSent> g_attaches;
extern std::vector<SentMessage> g_sent;
extern std::vector<SlowClient> g_slow;
extern std::vector<std::string> g_transcript;
extern unsigned g_discovers;

// Skype's own state.
extern ApiState g_api;
extern HWND g_attached;
extern HWND g_pending;
extern Decision g_decision;
extern bool g_loggedIn;
extern std::vector<CallState> g_calls;
extern std::vector<RunningScript> g_scripts;
extern DWORD g_steppedClock;
extern unsigned g_nextCallId;
extern unsigned g_notificationsSent; // for Blocking::Alternate

// The Skype thread's alone.
extern std::deque<LaterAnswer> t_laterAnswers;
extern int t_commandDepth; // commands being handled, nested

// ---- The thread and its requests (standin_skype.cpp) ----
Config currentConfig();
Outcome finished(bool delivered, DWORD error = 0);

// ---- The transcript (skype_transcript.cpp) ----
// Wakes pumping waits; created once and kept for the life of the process.
HANDLE changeEvent();
// Every byte, printable ASCII as is and the rest escaped (\0, \xNN).
std::string escapeBytes(const unsigned char* bytes, size_t size);
std::string quotedText(const std::string& text);
// Wakes the waits and tells the program's window to show the news.
void changed();
void addLine(const std::string& line);

// ---- The API window (skype_api_window.cpp) ----
// Set while WM_COPYDATA may return (manual reset; see holdCopyData).
HANDLE copyDataReleased();
// Sends, posts and broadcasts as Windows delivers them to an elevated client.
LRESULT sendThroughFilter(HWND target, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                          UINT timeout, DWORD_PTR* result);
BOOL postThroughFilter(HWND target, UINT message, WPARAM wParam, LPARAM lParam);
bool broadcastThroughFilter(UINT message, WPARAM wParam, LPARAM lParam, UINT timeout);
bool registerClass(const char* name, WNDPROC procedure);
LRESULT CALLBACK apiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Top-level, so that broadcasts reach it; hidden, as Skype's is.
HWND createApiWindow();
HWND apiWindow();
// The window a Skype message goes to when the caller named none.
HWND resolveTarget(HWND target);
HWND senderWindow(Sender sender);
Outcome sendAttachMessage(HWND from, HWND client, LONG status, bool post = false);
// Skype's own attach, with its bookkeeping around it.
Outcome attachClient(HWND from, HWND client, LONG status, bool post = false);
// ApiAvailable to every top-level window, as Skype announces itself.
Outcome announce();

// ---- What Skype sends its client (skype_sending.cpp) ----
Outcome sendTextToClient(HWND target, const std::string& text, SentKind kind);
Outcome sendNotificationMessage(const Notification& notification);
// CONNSTATUS, CURRENTUSERHANDLE and USERSTATUS, while the client stays attached.
void greet(HWND client);

// ---- Session events (skype_session.cpp) ----
Outcome leave();
Outcome comeBack();
Outcome restart();
Outcome logOut();
Outcome logIn();
Outcome decideFor(bool allow);

// ---- The call scripts (skype_calls.cpp) ----
// Keeps track of the call a notification sent to the client describes.
void noteCallNotification(const std::string& text);
void startScript(const CallPlan& plan);
Outcome runNextStep();
// Real time: how long the Skype thread may wait for messages before the next
// step is due.
DWORD untilNextStep();
void runDueSteps();
// Fills in the ids a plan left 0; under g_mutex.
void assignCallIds(CallPlan& plan);

} // namespace standin_skype::detail
