// A stand-in for the Skype desktop client: Skype's side of the Desktop API
// (Discover/Attach window messages, text commands and notifications in
// WM_COPYDATA), run on a thread of its own. Integration tests link it and
// drive it from the test thread, which owns the client window; the program
// standin_skype.exe wraps it in a visible window for the demo.
//
// One stand-in per process. Every function may be called from any thread.
// Functions that wait pump the calling thread's messages meanwhile, so a
// client window living on that thread keeps receiving what Skype sends it.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace standin_skype {

inline constexpr char kDiscoverMessageName[] = "SkypeControlAPIDiscover";
inline constexpr char kAttachMessageName[] = "SkypeControlAPIAttach";
inline constexpr char kApiWindowClass[] = "TralmoStandInSkypeApi";
// The program's visible window, and the dwData ('TRLM') of the control
// commands it takes in WM_COPYDATA from a demo or a person's script.
inline constexpr wchar_t kAppWindowClass[] = L"TralmoStandInSkype";
inline constexpr ULONG_PTR kControlTag = 0x54524C4D;

// Attach statuses Skype puts in the Attach message's lParam.
inline constexpr LONG kAttachSuccess = 0;
inline constexpr LONG kAttachPendingAuthorization = 1;
inline constexpr LONG kAttachRefused = 2;
inline constexpr LONG kAttachNotAvailable = 3;
inline constexpr LONG kAttachApiAvailable = 0x8001;

// Safety bounds only: nothing here measures time.
inline constexpr UINT kDefaultSendTimeoutMs = 10000;
inline constexpr DWORD kDefaultWaitMs = 15000;

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

struct Config {
    HWND client = nullptr; // answer only this window's Discover; null: any window
    AnswerMode answerMode = AnswerMode::Immediate;
    LONG attachStatus = kAttachSuccess;
    LRESULT copyDataResult = 1;
    DWORD copyDataHangMs = 0; // Sleep without pumping inside WM_COPYDATA
    DWORD discoverHangMs = 0; // ... and inside the Discover handler
    UINT sendTimeoutMs = kDefaultSendTimeoutMs;
    // Posted (wParam 0, lParam 0) whenever a transcript line is added.
    HWND observer = nullptr;
    UINT observerMessage = 0;
};

// One WM_COPYDATA that Skype's API window received.
struct CopyDataRecord {
    HWND sender = nullptr; // wParam
    ULONG_PTR dwData = 0;
    DWORD cbData = 0;
    bool nullData = false;            // lpData was null (bytes then empty)
    std::vector<unsigned char> bytes; // exactly cbData bytes of lpData

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

struct AttachSent {
    HWND client = nullptr;
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

using RequestId = unsigned;

struct Outcome {
    bool completed = false; // the Skype thread finished the request
    bool delivered = false; // the send returned nonzero (false when timed out or no window)
    LRESULT result = 0;
    DWORD error = 0; // GetLastError after a failed send
};

// Lifecycle. start() returns once the API window exists; false on failure
// or when a stand-in is already running.
bool start(const Config& config);
void stop();
bool running();

// Live settings; they apply from the next message handled.
Config config();
void setClient(HWND client);
void setAnswer(AnswerMode mode, LONG status = kAttachSuccess);
void setCopyDataResult(LRESULT result);
void setCopyDataHang(DWORD ms);
void setDiscoverHang(DWORD ms);
void setSendTimeout(UINT ms);

// Skype's API window (null while Skype is away), the window standing for
// another program, and the client whose Discover came last.
HWND skypeWindow();
HWND otherWindow();
HWND lastClient();

// What happened so far: copies, safe while the Skype thread adds to them.
// `first` skips what the caller has seen already.
std::vector<CopyDataRecord> records(size_t first = 0);
size_t recordCount();
std::vector<AttachSent> attachesSent();
unsigned discoversSeen(); // from the configured client (any window when none)
std::vector<std::string> transcript(size_t first = 0);
void clearHistory();

// Requests carried out by the Skype thread; the caller may wait for them.
RequestId requestNotification(const Notification& notification);
RequestId requestAttach(LONG status, Sender sender = Sender::Skype, HWND target = nullptr);
RequestId requestLeave();  // Skype exits: its API window is destroyed
RequestId requestReturn(); // Skype starts again with a new API window
// Holds the Skype thread busy without pumping; the request completes when
// the hang has begun, so anything sent afterwards meets a hung Skype.
RequestId requestHang(DWORD ms);

// Pumps the calling thread's messages until the request completed or the
// wait timed out (then completed is false).
Outcome waitFor(RequestId id, DWORD timeoutMs = kDefaultWaitMs);
// Pumps the calling thread's messages until done() holds; false on timeout.
bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs = kDefaultWaitMs);

// Request and wait in one call.
Outcome sendNotification(const std::string& text);
Outcome sendAttach(LONG status);
bool hang(DWORD ms);

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
