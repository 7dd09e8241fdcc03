// A stand-in for the Skype desktop client: Skype's side of the Desktop API
// (Discover/Attach window messages, text commands and notifications in
// WM_COPYDATA), run on a thread of its own. Integration tests link it and
// drive it from the test thread, which owns the client window; the program
// standin_skype.exe wraps it in a visible window for the demo.
//
// Skype as its clients know it answers every command, negotiates a protocol,
// greets a client after attaching it, asks the user before it lets a new
// client in, announces its API when it starts or the user logs in, reports
// calls as they go and drops a client that is slow to take a notification.
// Each of these is selected in Config; a default Config keeps to the quiet
// Skype older tests were written against, realistic() turns everything on.
//
// One stand-in per process, serving one client at a time. Every function may
// be called from any thread. Functions that wait pump the calling thread's
// messages meanwhile, so a client window living on that thread keeps
// receiving what Skype sends it.
#pragma once
#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "api_commands.h"
#include "call_scripts.h"

namespace standin_skype {

inline constexpr char kDiscoverMessageName[] = "SkypeControlAPIDiscover";
inline constexpr char kAttachMessageName[] = "SkypeControlAPIAttach";
inline constexpr char kApiWindowClass[] = "TralmoStandInSkypeApi";
// The program's visible window, and the dwData ('TRLM') of the control
// commands it takes in WM_COPYDATA from a demo or a person's script.
inline constexpr wchar_t kAppWindowClass[] = L"TralmoStandInSkype";
inline constexpr ULONG_PTR kControlTag = 0x54524C4D;
inline constexpr UINT kControlTimeoutMs = 5000;

// Attach statuses Skype puts in the Attach message's lParam.
inline constexpr LONG kAttachSuccess = 0;
inline constexpr LONG kAttachPendingAuthorization = 1;
inline constexpr LONG kAttachRefused = 2;
inline constexpr LONG kAttachNotAvailable = 3;
inline constexpr LONG kAttachApiAvailable = 0x8001;

// "Success", "PendingAuthorization" and so on; "unknown" for any other.
inline const char* attachStatusName(LONG status) {
    switch (status) {
    case kAttachSuccess:
        return "Success";
    case kAttachPendingAuthorization:
        return "PendingAuthorization";
    case kAttachRefused:
        return "Refused";
    case kAttachNotAvailable:
        return "NotAvailable";
    case kAttachApiAvailable:
        return "ApiAvailable";
    default:
        return "unknown";
    }
}

// Hands a control command to the program's window; true when it took it.
// `sender` goes in wParam.
inline bool sendControlCommand(HWND program, HWND sender, const std::string& command) {
    COPYDATASTRUCT data{kControlTag, static_cast<DWORD>(command.size() + 1),
                        const_cast<char*>(command.c_str())};
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(program, WM_COPYDATA, reinterpret_cast<WPARAM>(sender),
                               reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, kControlTimeoutMs,
                               &result) != 0 &&
           result == 1;
}

// Skype drops a client that takes longer than this to take a notification.
inline constexpr DWORD kSlowClientMs = 1000;
inline constexpr char kDefaultUserHandle[] = "tralmo.listener";

// Safety bounds only: nothing here measures time.
inline constexpr UINT kDefaultSendTimeoutMs = 10000;
inline constexpr DWORD kDefaultWaitMs = 15000;
// Per window, for the ApiAvailable broadcast.
inline constexpr UINT kAnnounceTimeoutMs = 1000;

enum class AnswerMode {
    // The Attach is sent from inside the Discover handler, so it reaches the
    // client while the client's broadcast is still in progress.
    Immediate,
    // The Discover handler posts itself a reminder and the Attach is sent
    // when the Skype thread is back in its loop. The client's broadcast is
    // then usually still visiting other windows, so the reply mostly arrives
    // inside it all the same.
    Deferred,
    // The Attach is posted to the client, which sees it only once it is back
    // in its own message loop: strictly after its broadcast returned.
    Posted,
    None,
};

// How Skype answers a command ("PROTOCOL 7" -> "PROTOCOL 7" and so on).
enum class CommandAnswers {
    None,
    // Sent from inside the command's WM_COPYDATA handler: the client gets it
    // while its own send of the command is still waiting.
    Nested,
    // Sent once the handler returned and the Skype thread is back in its loop.
    Later,
};

// Whether Skype's notifications (and answers) are sent with SMTO_BLOCK, which
// keeps the Skype thread from handling anything the client sends it meanwhile.
enum class Blocking { Never, Always, Alternate };

// Call scripts either run by the clock on the Skype thread, or advance one
// notification per stepCall(), so that a test never waits for the clock.
enum class ScriptClock { RealTime, Stepped };

struct Config {
    HWND client = nullptr;   // answer only this window; null: see clientProcess
    DWORD clientProcess = 0; // with no client: only windows of this process; 0: any window
    AnswerMode answerMode = AnswerMode::Immediate;
    LONG attachStatus = kAttachSuccess; // the answer to a Discover when askUser is off
    LRESULT copyDataResult = 1;
    DWORD copyDataHangMs = 0; // Sleep without pumping inside WM_COPYDATA
    DWORD discoverHangMs = 0; // ... and inside the Discover handler
    // ... and there once the answer went out: the client's broadcast is still
    // on its way when it hears the answer.
    DWORD discoverHangAfterAnswerMs = 0;
    UINT sendTimeoutMs = kDefaultSendTimeoutMs;
    // Posted (wParam 0, lParam 0) whenever a transcript line is added or the
    // state the program shows changed.
    HWND observer = nullptr;
    UINT observerMessage = 0;

    CommandAnswers answers = CommandAnswers::None;
    int highestProtocol = kDefaultHighestProtocol;
    // A RICH_MOOD_TEXT value is parsed as an XML fragment; a malformed one is
    // answered with an ERROR and the mood stays.
    bool checkRichMarkup = false;
    // CONNSTATUS ONLINE, CURRENTUSERHANDLE <userHandle>, USERSTATUS ONLINE
    // right after every successful attach.
    bool greetAfterAttach = false;
    std::string userHandle = kDefaultUserHandle;
    // A Discover is answered PendingAuthorization until the user decides
    // (decide()); the decision is remembered for later attaches.
    bool askUser = false;
    Blocking blocking = Blocking::Never;
    // A slow client is always recorded (slowClients()); with this it is also
    // detached: no more calls or greetings (a test's requestNotification
    // still goes out), and see onlyAttachedClients.
    bool dropSlowClients = false;
    // Commands from a window Skype has not attached (or has dropped, logged
    // out or forgotten by restarting) are recorded, not carried out, and the
    // send gets 0.
    bool onlyAttachedClients = false;
    // requestReturn() broadcasts ApiAvailable once the new window is up.
    bool announceOnReturn = false;
    ScriptClock scriptClock = ScriptClock::Stepped;
};

// Skype as its clients meet it: answers later, protocol 8 at most, rich mood
// text parsed as XML, greetings, SMTO_BLOCK on every other notification, slow
// clients dropped after kSlowClientMs, commands only from the attached client,
// ApiAvailable broadcast on return. The user has allowed the client already
// (set askUser to be asked).
Config realistic(HWND client);

// Skype busy rather than hung: it takes this long over every command and
// Discover without pumping, then answers. That is under the 5 s after which
// Windows counts a thread as hung, so every send to it waits its full bound.
inline constexpr DWORD kBusyAnswerMs = 4000;
Config busy(Config config);

// One WM_COPYDATA that Skype's API window received.
struct CopyDataRecord {
    HWND sender = nullptr; // wParam
    ULONG_PTR dwData = 0;
    DWORD cbData = 0;
    bool nullData = false;            // lpData was null (bytes then empty)
    std::vector<unsigned char> bytes; // exactly cbData bytes of lpData
    bool carriedOut = false;          // run as a command (see Config::onlyAttachedClients)

    // The bytes up to the first zero, or all of them when there is none.
    std::string text() const;
    // A zero byte lies within cbData.
    bool terminated() const;
    // The block ends with two zero bytes (as the mood commands do).
    bool endsWithTwoZeros() const;
    // Every byte, printable ASCII as is and the rest escaped (\0, \xNN).
    std::string escaped() const;
};

// The mood that a "SET PROFILE MOOD_TEXT " or "SET PROFILE RICH_MOOD_TEXT "
// command carries (UTF-8). False for any other command.
bool moodTextOf(const std::string& command, std::string* mood, bool* rich = nullptr);

// A window handle as the transcript writes it: "0x0001009A".
std::string hwndText(HWND window);

struct AttachSent {
    HWND client = nullptr; // HWND_BROADCAST for the ApiAvailable broadcast
    LONG status = 0;
    bool delivered = false; // SendMessageTimeout (or PostMessage) returned nonzero
    LRESULT result = 0;     // 0 when posted
};

// The stand-in's own window as wParam, the other program's window, or none.
enum class Sender { Skype, Other, None };

struct Notification {
    std::vector<unsigned char> bytes; // the data block
    DWORD cbData = 0;                 // at most bytes.size()
    bool nullData = false;            // send lpData null
    ULONG_PTR dwData = 0;
    Sender sender = Sender::Skype;
    HWND target = nullptr; // null: the configured client, else the last one answered
};

// "CALL 1234 STATUS RINGING" as Skype sends it: cbData = strlen + 1.
Notification textNotification(const std::string& text);

// What Skype sent a client in WM_COPYDATA.
enum class SentKind {
    Notification, // asked for by requestNotification
    Answer,       // the answer to a command
    Greeting,     // after an attach
    Call,         // a step of a call script
};

struct SentMessage {
    SentKind kind = SentKind::Notification;
    HWND target = nullptr;
    std::string text;           // up to the first zero
    bool blocking = false;      // sent with SMTO_BLOCK
    bool insideCommand = false; // sent while one of the client's commands was being handled
    bool delivered = false;
    LRESULT result = 0;
    bool slow = false; // the client took longer than kSlowClientMs, or the send timed out
};

// A client that was slow to take what Skype sent it.
struct SlowClient {
    HWND client = nullptr;
    std::string text;
    bool timedOut = false;
    bool dropped = false; // detached for it (Config::dropSlowClients)
};

// One call as the notifications sent so far describe it.
struct CallState {
    unsigned id = 0;
    std::string status; // the last status word sent, as the client's protocol named it
    unsigned duration = 0;
};

// The user's answer to "allow this program to use Skype?".
enum class Decision { Undecided, Allowed, Refused };

using RequestId = unsigned;

struct Outcome {
    bool completed = false; // the Skype thread finished the request
    bool delivered = false; // the send returned nonzero (false when timed out or no window)
    LRESULT result = 0;
    DWORD error = 0; // GetLastError after a failed send
};

// Lifecycle. start() returns once the API window exists; false on failure
// or when a stand-in is already running. stop() does nothing when none runs.
bool start(const Config& config);
void stop();

// Live settings; they apply from the next message handled.
void updateConfig(const std::function<void(Config&)>& change);
void setAnswer(AnswerMode mode, LONG status = kAttachSuccess);
void setCopyDataResult(LRESULT result);
void setCopyDataHang(DWORD ms);
// While held, Skype stays inside every WM_COPYDATA it receives, without
// pumping, until released (kDefaultWaitMs at most): slow for exactly as long
// as a test needs, whatever the machine's speed. start() and stop() release.
void holdCopyData(bool hold);

// Everything the stand-in holds, copied under one lock, so that its parts
// agree with each other: the settings, Skype's state, and what happened since
// start() or clearHistory(), in order.
struct Snapshot {
    Config config;
    // Skype's API window (null while Skype is away), the window standing for
    // another program, and the client whose Discover came last.
    HWND skypeWindow = nullptr;
    HWND otherWindow = nullptr;
    HWND lastClient = nullptr;

    // The mood is the user's (kept across restarts); the protocol is the
    // attached client's, kInitialProtocol again at every attach.
    Mood mood;
    bool moodSet = false; // some SET PROFILE command has changed the mood
    int clientProtocol = kInitialProtocol;
    HWND attachedClient = nullptr; // null: none
    HWND pendingClient = nullptr;  // waiting for the user's decision; null: none
    Decision decision = Decision::Undecided;
    bool loggedIn = true;
    std::vector<CallState> calls;
    std::size_t scriptStepsLeft = 0; // of every call script started and not yet done

    std::vector<CopyDataRecord> records; // from snapshot()'s firstRecord on
    std::size_t recordCount = 0;         // every record, those left out included
    std::vector<AttachSent> attaches;
    unsigned discovers = 0; // from the configured client (any window when none)
    std::vector<SentMessage> sent;
    std::vector<SlowClient> slowClients;
    std::vector<std::string> transcript; // from snapshot()'s firstLine on
};

// `firstRecord` and `firstLine` leave out what the caller has seen already.
Snapshot snapshot(std::size_t firstRecord = 0, std::size_t firstLine = 0);
// The two that tests aim at and poll most, as snapshot() has them.
HWND skypeWindow();
std::size_t recordCount();
// Forgets the history (not the state: mood, attachment, calls).
void clearHistory();

// Requests carried out by the Skype thread; the caller may wait for them.
RequestId requestNotification(const Notification& notification);
RequestId requestAttach(LONG status, Sender sender = Sender::Skype, HWND target = nullptr);
RequestId requestLeave();  // Skype exits: its API window is destroyed
RequestId requestReturn(); // Skype starts again with a new API window
// Exits and starts again with a new window, then broadcasts ApiAvailable.
RequestId requestRestart();
// The user logs out: NotAvailable to the attached client, which is detached;
// every Discover is answered NotAvailable until the user logs in again.
RequestId requestLogOut();
// The user logs in: ApiAvailable is broadcast to every top-level window.
RequestId requestLogIn();
// The user answers the authorisation question: Success or Refused goes to
// the client waiting for it (if any), and the decision is remembered.
RequestId requestDecision(bool allow);
// Forgets the user's decision: the next Discover asks again (with askUser).
RequestId requestForgetDecision();
// Completes once everything asked of the Skype thread before it (answers sent
// Later and Deferred attaches included) is done.
RequestId requestSync();
// Holds the Skype thread busy without pumping; the request completes when
// the hang has begun, so anything sent afterwards meets a hung Skype.
RequestId requestHang(DWORD ms);
// Starts a call script for the attached client; the request completes once
// it is started. Ids of 0 in the plan are filled in with fresh ones.
RequestId requestCall(const CallPlan& plan);
// The next notification of the call scripts, whatever the clock; completes
// with delivered false (error ERROR_NO_MORE_ITEMS) when no step is left.
RequestId requestStep();

// A plan with fresh call ids.
CallPlan planCall(CallScript script);

// Pumps the calling thread's messages until the request completed or the
// wait timed out (then completed is false).
Outcome waitFor(RequestId id, DWORD timeoutMs = kDefaultWaitMs);
// Pumps the calling thread's messages until done() holds; false on timeout.
bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs = kDefaultWaitMs);

// Request and wait in one call.
Outcome sendNotification(const std::string& text);
Outcome sendAttach(LONG status);
bool sync();
Outcome decide(bool allow);
Outcome startCall(const CallPlan& plan);
Outcome stepCall();
// Steps until no script step is left; the number of steps taken.
unsigned runCallsToEnd();

// RAII for tests: starts in the constructor, stops in the destructor.
class Running {
  public:
    explicit Running(const Config& config) : started_(start(config)) {}
    ~Running() {
        if (started_)
            stop();
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    bool started() const { return started_; }

  private:
    bool started_;
};

} // namespace standin_skype
