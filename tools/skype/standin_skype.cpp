#include "standin_skype.h"

#include "message_filter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

namespace standin_skype {
namespace {

constexpr char kOtherWindowClass[] = "TralmoStandInOtherProgram";
// A thread message whose lParam is a Request the Skype thread takes over.
constexpr UINT kRequestMessage = WM_APP + 1;
// Posted to the API window by a Deferred Discover; wParam is the client,
// lParam the status.
constexpr UINT kDeferredAttachMessage = WM_APP + 2;
// Posted to the API window for each answer sent Later.
constexpr UINT kLaterAnswerMessage = WM_APP + 3;
// Longest sleep of a pumping wait between two looks at its condition.
constexpr DWORD kPumpStepMs = 20;
// Outcomes nobody waited for (the program's buttons) are dropped past this.
constexpr size_t kMaxOutcomes = 256;
// The calls a program's window can show; older ones are forgotten.
constexpr size_t kMaxCalls = 64;
constexpr unsigned kFirstCallId = 101;

enum class RequestKind {
    Notify,
    Attach,
    Leave,
    Return,
    Restart,
    LogOut,
    LogIn,
    Announce,
    Decide,
    Forget,
    Sync,
    Hang,
    Call,
    Step,
};

struct Request {
    RequestId id = 0;
    RequestKind kind = RequestKind::Notify;
    Notification notification; // Notify; its sender and target also serve Attach
    LONG status = 0;           // Attach
    DWORD ms = 0;              // Hang
    bool allow = false;        // Decide
    CallPlan plan;             // Call
};

struct RunningScript {
    std::vector<ScriptStep> steps;
    size_t next = 0;
    DWORD start = 0; // GetTickCount, or the stepped clock
};

struct LaterAnswer {
    HWND client;
    std::string text;
};

// A critical section rather than std::mutex: the win32 thread model of the
// toolchain, which keeps winpthreads out of every program, has no std::mutex.
class Mutex {
  public:
    Mutex() { InitializeCriticalSection(&section_); }
    ~Mutex() { DeleteCriticalSection(&section_); }
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void lock() { EnterCriticalSection(&section_); }
    void unlock() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

class Lock {
  public:
    explicit Lock(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~Lock() { mutex_.unlock(); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    Mutex& mutex_;
};

Mutex g_mutex;

// Everything below is guarded by g_mutex. Nothing is sent while it is held:
// the receiving thread may be waiting for it.
Config g_config;
HANDLE g_thread = nullptr;
DWORD g_threadId = 0;
HWND g_apiWindow = nullptr;
HWND g_otherWindow = nullptr;
HWND g_lastClient = nullptr;
UINT g_discoverMessage = 0;
UINT g_attachMessage = 0;
std::vector<CopyDataRecord> g_records;
std::vector<AttachSent> g_attaches;
std::vector<SentMessage> g_sent;
std::vector<SlowClient> g_slow;
std::vector<std::string> g_transcript;
unsigned g_discovers = 0;
RequestId g_lastRequest = 0;
std::map<RequestId, Outcome> g_outcomes;

// Skype's own state.
ApiState g_api;
HWND g_attached = nullptr;
HWND g_pending = nullptr;
Decision g_decision = Decision::Undecided;
bool g_loggedIn = true;
std::vector<CallState> g_calls;
std::vector<RunningScript> g_scripts;
DWORD g_steppedClock = 0;
unsigned g_nextCallId = kFirstCallId;
unsigned g_notificationsSent = 0; // for Blocking::Alternate

// The Skype thread's alone.
std::deque<LaterAnswer> t_laterAnswers;
int t_commandDepth = 0; // commands being handled, nested

// Wakes pumping waits; created once and kept for the life of the process.
HANDLE changeEvent() {
    static HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

Config currentConfig() {
    Lock lock(g_mutex);
    return g_config;
}

HWND apiWindow() {
    Lock lock(g_mutex);
    return g_apiWindow;
}

std::string hwndText(HWND window) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX",
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
    return text;
}

// Every byte, printable ASCII as is and the rest escaped (\0, \xNN).
std::string escapeBytes(const unsigned char* bytes, size_t size) {
    std::string result;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char byte = bytes[i];
        if (byte == 0) {
            result += "\\0";
        } else if (byte == '\\' || byte == '"') {
            result += '\\';
            result += static_cast<char>(byte);
        } else if (byte >= 0x20 && byte < 0x7F) {
            result += static_cast<char>(byte);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            result += hex;
        }
    }
    return result;
}

std::string quotedText(const std::string& text) {
    return "\"" + escapeBytes(reinterpret_cast<const unsigned char*>(text.data()), text.size()) +
           "\"";
}

// Wakes the waits and tells the program's window to show the news.
void changed() {
    HWND observer;
    UINT message;
    {
        Lock lock(g_mutex);
        observer = g_config.observer;
        message = g_config.observerMessage;
    }
    SetEvent(changeEvent());
    if (observer)
        PostMessageA(observer, message, 0, 0);
}

void addLine(const std::string& line) {
    {
        Lock lock(g_mutex);
        g_transcript.push_back(line);
    }
    changed();
}

void complete(RequestId id, const Outcome& outcome) {
    {
        Lock lock(g_mutex);
        if (g_outcomes.size() >= kMaxOutcomes)
            g_outcomes.erase(g_outcomes.begin());
        g_outcomes[id] = outcome;
    }
    SetEvent(changeEvent());
}

Outcome finished(bool delivered, DWORD error = 0) {
    Outcome outcome;
    outcome.completed = true;
    outcome.delivered = delivered;
    outcome.error = error;
    return outcome;
}

// The window a Skype message goes to when the caller named none.
HWND resolveTarget(HWND target) {
    if (target)
        return target;
    Lock lock(g_mutex);
    return g_config.client ? g_config.client : g_lastClient;
}

HWND senderWindow(Sender sender) {
    Lock lock(g_mutex);
    switch (sender) {
    case Sender::Skype:
        return g_apiWindow;
    case Sender::Other:
        return g_otherWindow;
    case Sender::None:
        break;
    }
    return nullptr;
}

// A data block that ends right before an inaccessible page, so a client that
// reads past cbData faults instead of reading neighbouring memory.
class GuardedBlock {
  public:
    GuardedBlock(const unsigned char* bytes, DWORD size) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const SIZE_T page = info.dwPageSize;
        const SIZE_T dataPages = (size + page - 1) / page;
        const SIZE_T total = (dataPages + 1) * page;
        base_ = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, total, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (!base_)
            return;
        DWORD old;
        VirtualProtect(base_ + dataPages * page, page, PAGE_NOACCESS, &old);
        data_ = base_ + dataPages * page - size;
        if (size)
            std::memcpy(data_, bytes, size);
    }
    ~GuardedBlock() {
        if (base_)
            VirtualFree(base_, 0, MEM_RELEASE);
    }
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;
    void* data() const { return data_; }

  private:
    unsigned char* base_ = nullptr;
    unsigned char* data_ = nullptr;
};

// ---- Calls ----

void noteCallNotification(const std::string& text) {
    unsigned id = 0;
    std::string property;
    std::string value;
    if (!parseCallNotification(text, &id, &property, &value))
        return;
    Lock lock(g_mutex);
    auto call = std::find_if(g_calls.begin(), g_calls.end(),
                             [id](const CallState& state) { return state.id == id; });
    if (call == g_calls.end()) {
        if (g_calls.size() >= kMaxCalls)
            g_calls.erase(g_calls.begin());
        g_calls.push_back({id, "", 0});
        call = g_calls.end() - 1;
    }
    if (property == "STATUS")
        call->status = value;
    else if (property == "DURATION")
        call->duration = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
}

// ---- Windows' message filter ----
// Skype runs as a normal user: an elevated client hears only what it let
// through its filter, and the send fails as it does on Windows.

LRESULT sendThroughFilter(HWND target, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                          UINT timeout, DWORD_PTR* result) {
    if (!message_filter::deliverable(target, message)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return SendMessageTimeoutA(target, message, wParam, lParam, flags, timeout, result);
}

BOOL postThroughFilter(HWND target, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!message_filter::deliverable(target, message)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return PostMessageA(target, message, wParam, lParam);
}

BOOL CALLBACK collectTopLevel(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

// A broadcast as Windows delivers it with an elevated process on the desktop:
// window by window, past the filter.
bool broadcastThroughFilter(UINT message, WPARAM wParam, LPARAM lParam, UINT timeout) {
    if (!message_filter::anyProcessElevated()) {
        DWORD_PTR ignored = 0;
        return SendMessageTimeoutA(HWND_BROADCAST, message, wParam, lParam,
                                   SMTO_NORMAL | SMTO_ABORTIFHUNG, timeout, &ignored) != 0;
    }
    std::vector<HWND> windows;
    EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows) {
        DWORD_PTR ignored = 0;
        sendThroughFilter(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, timeout,
                          &ignored);
    }
    return true;
}

// ---- What Skype sends its client ----

bool nextSendBlocks(Blocking blocking) {
    Lock lock(g_mutex);
    const unsigned turn = g_notificationsSent++;
    switch (blocking) {
    case Blocking::Never:
        return false;
    case Blocking::Always:
        return true;
    case Blocking::Alternate:
        return turn % 2 == 1;
    }
    return false;
}

// Records a client that was slow to take `text` and, if so configured,
// detaches it.
void flagSlowClient(HWND client, const std::string& text, bool timedOut) {
    SlowClient slow{client, text, timedOut, false};
    {
        Lock lock(g_mutex);
        if (g_config.dropSlowClients && g_attached == client && client) {
            g_attached = nullptr;
            slow.dropped = true;
        }
        g_slow.push_back(slow);
    }
    addLine("slow client=" + hwndText(client) + (timedOut ? " timed out" : " answered late") +
            (slow.dropped ? ", dropped" : "") + " on " + quotedText(text));
}

const char* kindWord(SentKind kind) {
    switch (kind) {
    case SentKind::Notification:
        return "notification";
    case SentKind::Answer:
        return "answer";
    case SentKind::Greeting:
        return "greeting";
    case SentKind::Call:
        return "call";
    }
    return "";
}

// Every WM_COPYDATA Skype sends a client goes through here.
Outcome sendToClient(HWND target, HWND from, const Notification& notification, SentKind kind) {
    const Config settings = currentConfig();
    const bool block = notification.block ? *notification.block : nextSendBlocks(settings.blocking);
    const DWORD size =
        std::min<DWORD>(notification.cbData, static_cast<DWORD>(notification.bytes.size()));
    GuardedBlock data(notification.bytes.data(), size);
    COPYDATASTRUCT record{notification.dwData, size, notification.nullData ? nullptr : data.data()};
    const std::string text(
        notification.bytes.begin(),
        std::find(notification.bytes.begin(), notification.bytes.begin() + size, 0));

    DWORD_PTR result = 0;
    Outcome outcome;
    outcome.completed = true;
    const DWORD begin = GetTickCount();
    outcome.delivered = sendThroughFilter(target, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                                          reinterpret_cast<LPARAM>(&record),
                                          block ? SMTO_NORMAL | SMTO_BLOCK : SMTO_NORMAL,
                                          settings.sendTimeoutMs, &result) != 0;
    outcome.error = outcome.delivered ? 0 : GetLastError();
    const DWORD elapsed = GetTickCount() - begin;
    outcome.result = static_cast<LRESULT>(result);
    const bool timedOut =
        !outcome.delivered && (outcome.error == ERROR_TIMEOUT || elapsed >= settings.sendTimeoutMs);
    const bool slow = timedOut || elapsed > kSlowClientMs;

    {
        Lock lock(g_mutex);
        g_sent.push_back({kind, target, text, block, t_commandDepth > 0, outcome.delivered,
                          outcome.result, slow});
    }
    if (kind == SentKind::Notification || kind == SentKind::Call)
        noteCallNotification(text);
    char tail[128];
    std::snprintf(tail, sizeof tail, " cbData=%lu delivered=%d result=%ld kind=%s block=%d",
                  static_cast<unsigned long>(size), outcome.delivered ? 1 : 0,
                  static_cast<long>(outcome.result), kindWord(kind), block ? 1 : 0);
    addLine(
        std::string(kind == SentKind::Answer ? "answer" : "notify") + " to=" + hwndText(target) +
        " from=" + hwndText(from) + tail + " \"" +
        (notification.nullData ? "<null lpData>" : escapeBytes(notification.bytes.data(), size)) +
        "\"");
    if (slow)
        flagSlowClient(target, text, timedOut);
    return outcome;
}

Outcome sendTextToClient(HWND target, const std::string& text, SentKind kind) {
    const HWND from = apiWindow();
    if (!from)
        return finished(false, ERROR_INVALID_WINDOW_HANDLE);
    return sendToClient(target, from, textNotification(text), kind);
}

Outcome sendNotificationMessage(const Notification& notification) {
    const HWND target = resolveTarget(notification.target);
    const HWND from = senderWindow(notification.sender);
    if (notification.sender == Sender::Skype && !from)
        return finished(false, ERROR_INVALID_WINDOW_HANDLE); // Skype is away
    return sendToClient(target, from, notification, SentKind::Notification);
}

void greet(HWND client) {
    const Config settings = currentConfig();
    for (const std::string& text :
         {std::string("CONNSTATUS ONLINE"), "CURRENTUSERHANDLE " + settings.userHandle,
          std::string("USERSTATUS ONLINE")}) {
        {
            Lock lock(g_mutex);
            if (g_attached != client)
                return; // dropped meanwhile
        }
        sendTextToClient(client, text, SentKind::Greeting);
    }
}

// ---- Attaching ----

// Skype's bookkeeping for an attach status it is about to send: a client is
// attached before it hears Success, since it may send its first command from
// inside its handler of that message.
void beforeAttach(HWND client, LONG status) {
    {
        Lock lock(g_mutex);
        if (status == kAttachSuccess) {
            g_attached = client;
            g_api.protocol = kInitialProtocol;
        } else if ((status == kAttachRefused || status == kAttachNotAvailable) &&
                   g_attached == client) {
            g_attached = nullptr;
        }
    }
    changed();
}

// ... and once it went out: a client that never heard Success is none.
void afterAttach(HWND client, LONG status, bool delivered) {
    if (status != kAttachSuccess)
        return;
    bool greeting;
    {
        Lock lock(g_mutex);
        if (!delivered && g_attached == client)
            g_attached = nullptr;
        greeting = delivered && g_attached == client && g_config.greetAfterAttach;
    }
    changed();
    if (greeting)
        greet(client);
}

Outcome sendAttachMessage(HWND from, HWND client, LONG status, bool post = false) {
    UINT message;
    UINT timeout;
    {
        Lock lock(g_mutex);
        message = g_attachMessage;
        timeout = g_config.sendTimeoutMs;
    }
    DWORD_PTR result = 0;
    Outcome outcome;
    outcome.completed = true;
    const WPARAM window = reinterpret_cast<WPARAM>(from);
    outcome.delivered = post ? postThroughFilter(client, message, window, status) != 0
                             : sendThroughFilter(client, message, window, status, SMTO_NORMAL,
                                                 timeout, &result) != 0;
    outcome.error = outcome.delivered ? 0 : GetLastError();
    outcome.result = static_cast<LRESULT>(result);
    {
        Lock lock(g_mutex);
        g_attaches.push_back({client, status, outcome.delivered, outcome.result});
    }
    char tail[96];
    std::snprintf(tail, sizeof tail, " status=%ld delivered=%d result=%ld", status,
                  outcome.delivered ? 1 : 0, static_cast<long>(outcome.result));
    addLine((post ? "attach posted to=" : "attach to=") + hwndText(client) +
            " from=" + hwndText(from) + tail);
    return outcome;
}

// Skype's own attach, with its bookkeeping around it.
Outcome attachClient(HWND from, HWND client, LONG status, bool post = false) {
    beforeAttach(client, status);
    const Outcome outcome = sendAttachMessage(from, client, status, post);
    afterAttach(client, status, outcome.delivered);
    return outcome;
}

// ApiAvailable to every top-level window, as Skype announces itself.
Outcome announce() {
    HWND from;
    UINT message;
    {
        Lock lock(g_mutex);
        from = g_apiWindow;
        message = g_attachMessage;
    }
    if (!from)
        return finished(false, ERROR_INVALID_WINDOW_HANDLE);
    Outcome outcome;
    outcome.completed = true;
    outcome.delivered = broadcastThroughFilter(message, reinterpret_cast<WPARAM>(from),
                                               kAttachApiAvailable, kAnnounceTimeoutMs);
    outcome.error = outcome.delivered ? 0 : GetLastError();
    {
        Lock lock(g_mutex);
        g_attaches.push_back({HWND_BROADCAST, kAttachApiAvailable, outcome.delivered, 0});
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, " status=%ld delivered=%d", kAttachApiAvailable,
                  outcome.delivered ? 1 : 0);
    addLine("announce from=" + hwndText(from) + tail);
    return outcome;
}

// The answer to a Discover: the user's decision, asked for if need be.
LONG attachStatusFor(HWND client) {
    Lock lock(g_mutex);
    if (!g_loggedIn)
        return kAttachNotAvailable;
    if (!g_config.askUser)
        return g_config.attachStatus;
    switch (g_decision) {
    case Decision::Allowed:
        return kAttachSuccess;
    case Decision::Refused:
        return kAttachRefused;
    case Decision::Undecided:
        break;
    }
    g_pending = client;
    return kAttachPendingAuthorization;
}

// Whether a window is the client this Skype serves; others are another
// test's or program's.
bool servesClient(const Config& settings, HWND window) {
    if (settings.client)
        return window == settings.client;
    if (settings.clientProcess == 0)
        return true;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == settings.clientProcess;
}

LRESULT onDiscover(HWND window, HWND client) {
    const Config settings = currentConfig();
    if (!servesClient(settings, client))
        return 0; // another test's broadcast
    {
        Lock lock(g_mutex);
        ++g_discovers;
        g_lastClient = client;
    }
    addLine("discover from=" + hwndText(client));
    if (settings.discoverHangMs)
        Sleep(settings.discoverHangMs);
    if (settings.answerMode == AnswerMode::None)
        return 1;
    const LONG status = attachStatusFor(client);
    switch (settings.answerMode) {
    case AnswerMode::Immediate:
        attachClient(window, client, status);
        break;
    case AnswerMode::Deferred:
        PostMessageA(window, kDeferredAttachMessage, reinterpret_cast<WPARAM>(client), status);
        break;
    case AnswerMode::Posted:
        attachClient(window, client, status, true);
        break;
    case AnswerMode::None:
        break;
    }
    return 1;
}

// ---- Commands ----

// Whether Skype carries out a command from `sender`; `refuse` tells whether
// the send is to fail.
bool acceptsCommandFrom(HWND sender, const Config& settings, bool* refuse) {
    *refuse = false;
    if (!servesClient(settings, sender))
        return false; // another test's window: recorded only
    if (!settings.onlyAttachedClients)
        return true;
    Lock lock(g_mutex);
    *refuse = !sender || sender != g_attached;
    return !*refuse;
}

void answer(HWND window, HWND client, const std::string& text, CommandAnswers mode) {
    switch (mode) {
    case CommandAnswers::None:
        return;
    case CommandAnswers::Nested:
        sendTextToClient(client, text, SentKind::Answer);
        return;
    case CommandAnswers::Later:
        t_laterAnswers.push_back({client, text});
        PostMessageA(window, kLaterAnswerMessage, 0, 0);
        return;
    }
}

void sendLaterAnswer() {
    if (t_laterAnswers.empty())
        return;
    const LaterAnswer later = t_laterAnswers.front();
    t_laterAnswers.pop_front();
    sendTextToClient(later.client, later.text, SentKind::Answer);
}

LRESULT onCopyData(HWND window, HWND sender, const COPYDATASTRUCT* data) {
    if (!data) {
        addLine("recv from=" + hwndText(sender) + " without a COPYDATASTRUCT");
        return 0;
    }
    const Config settings = currentConfig();
    bool refuse = false;
    CopyDataRecord record;
    record.sender = sender;
    record.dwData = data->dwData;
    record.cbData = data->cbData;
    record.nullData = data->lpData == nullptr;
    if (data->lpData) {
        const auto* bytes = static_cast<const unsigned char*>(data->lpData);
        record.bytes.assign(bytes, bytes + data->cbData);
    }
    record.carriedOut = !record.nullData && acceptsCommandFrom(sender, settings, &refuse);
    char head[96];
    std::snprintf(head, sizeof head, " dwData=%lu cbData=%lu%s \"",
                  static_cast<unsigned long>(record.dwData),
                  static_cast<unsigned long>(record.cbData), refuse ? " refused" : "");
    const std::string line = "recv from=" + hwndText(sender) + head +
                             (record.nullData ? "<null lpData>" : record.escaped()) + "\"";
    const std::string command = record.text();
    const bool carryOut = record.carriedOut;
    {
        Lock lock(g_mutex);
        g_records.push_back(std::move(record));
    }
    addLine(line);
    if (settings.copyDataHangMs)
        Sleep(settings.copyDataHangMs);
    if (refuse)
        return 0;
    if (!carryOut)
        return settings.copyDataResult;
    CommandResult result;
    {
        Lock lock(g_mutex);
        g_api.highestProtocol = settings.highestProtocol;
        g_api.checkRichMarkup = settings.checkRichMarkup;
        g_api.userHandle = settings.userHandle;
        result = runCommand(command, g_api);
    }
    changed();
    ++t_commandDepth;
    answer(window, sender, result.answer, settings.answers);
    --t_commandDepth;
    return settings.copyDataResult;
}

LRESULT CALLBACK apiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COPYDATA:
        return onCopyData(window, reinterpret_cast<HWND>(wParam),
                          reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case kDeferredAttachMessage:
        attachClient(window, reinterpret_cast<HWND>(wParam), static_cast<LONG>(lParam));
        return 0;
    case kLaterAnswerMessage:
        sendLaterAnswer();
        return 0;
    }
    UINT discover;
    {
        Lock lock(g_mutex);
        discover = g_discoverMessage;
    }
    if (discover && message == discover)
        return onDiscover(window, reinterpret_cast<HWND>(wParam));
    return DefWindowProcA(window, message, wParam, lParam);
}

bool registerClass(const char* name, WNDPROC procedure) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = name;
    return RegisterClassA(&windowClass) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Top-level, so that broadcasts reach it; hidden, as Skype's is.
HWND createApiWindow() {
    return CreateWindowExA(0, kApiWindowClass, "Skype API (stand-in)", WS_OVERLAPPED, 0, 0, 0, 0,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

// ---- Call scripts ----

// Skype forgets its clients, questions and calls (when it exits or the user
// logs out); the user's decision and mood stay.
void forgetSessions() {
    {
        Lock lock(g_mutex);
        g_attached = nullptr;
        g_pending = nullptr;
        g_api.protocol = kInitialProtocol;
        g_scripts.clear();
    }
    t_laterAnswers.clear();
    changed();
}

DWORD clockNow(ScriptClock clock) {
    Lock lock(g_mutex);
    return clock == ScriptClock::Stepped ? g_steppedClock : GetTickCount();
}

// The script whose next step is due first, or none; under g_mutex.
RunningScript* firstDue(DWORD* due) {
    RunningScript* first = nullptr;
    for (RunningScript& script : g_scripts) {
        const DWORD at = script.start + script.steps[script.next].atMs;
        if (!first || static_cast<LONG>(at - *due) < 0) {
            first = &script;
            *due = at;
        }
    }
    return first;
}

// Takes the next step of the scripts (the one due first), or returns false.
bool takeNextStep(ScriptStep* step, DWORD* due) {
    Lock lock(g_mutex);
    RunningScript* script = firstDue(due);
    if (!script)
        return false;
    *step = script->steps[script->next++];
    g_scripts.erase(std::remove_if(g_scripts.begin(), g_scripts.end(),
                                   [](const RunningScript& s) { return s.next >= s.steps.size(); }),
                    g_scripts.end());
    return true;
}

Outcome sendStep(const ScriptStep& step) {
    HWND target;
    int protocol;
    {
        Lock lock(g_mutex);
        target = g_attached;
        protocol = g_api.protocol;
    }
    const std::string text = stepText(step, protocol);
    if (!target) {
        addLine("call step not sent, no client attached: " + quotedText(text));
        noteCallNotification(text);
        return finished(false, ERROR_NOT_CONNECTED);
    }
    return sendTextToClient(target, text, SentKind::Call);
}

Outcome runNextStep() {
    ScriptStep step;
    DWORD due = 0;
    if (!takeNextStep(&step, &due))
        return finished(false, ERROR_NO_MORE_ITEMS);
    {
        Lock lock(g_mutex);
        if (g_config.scriptClock == ScriptClock::Stepped &&
            static_cast<LONG>(due - g_steppedClock) > 0)
            g_steppedClock = due;
    }
    return sendStep(step);
}

// Real time: how long the Skype thread may wait for messages before the next
// step is due.
DWORD untilNextStep() {
    Lock lock(g_mutex);
    if (g_config.scriptClock != ScriptClock::RealTime)
        return INFINITE;
    DWORD due = 0;
    if (!firstDue(&due))
        return INFINITE;
    const LONG left = static_cast<LONG>(due - GetTickCount());
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

void runDueSteps() {
    while (untilNextStep() == 0)
        runNextStep();
}

void startScript(const CallPlan& plan) {
    RunningScript script;
    script.steps = buildScript(plan);
    script.start = clockNow(currentConfig().scriptClock);
    char line[96];
    std::snprintf(line, sizeof line, "call script=%s id=%u", scriptName(plan.script), plan.id);
    std::string text = line;
    if (plan.script == CallScript::TwoCalls)
        text += " other=" + std::to_string(plan.otherId);
    if (!script.steps.empty()) {
        Lock lock(g_mutex);
        g_scripts.push_back(std::move(script));
    }
    addLine(text);
}

// ---- Requests ----

HWND replaceApiWindow(HWND fresh) {
    Lock lock(g_mutex);
    const HWND old = g_apiWindow;
    g_apiWindow = fresh;
    return old;
}

Outcome leave() {
    const HWND window = replaceApiWindow(nullptr);
    if (window)
        DestroyWindow(window);
    forgetSessions();
    addLine("leave window=" + hwndText(window));
    return finished(window != nullptr);
}

Outcome comeBack() {
    HWND window = apiWindow();
    const bool fresh = !window;
    if (fresh) {
        window = createApiWindow();
        replaceApiWindow(window);
        Lock lock(g_mutex);
        g_loggedIn = true;
    }
    addLine("return window=" + hwndText(window));
    if (fresh && window && currentConfig().announceOnReturn)
        announce();
    return finished(window != nullptr, window ? 0 : GetLastError());
}

// The new window is made before the old one goes, so the two never share a
// handle: a client must tell them apart.
Outcome restart() {
    const HWND fresh = createApiWindow();
    const DWORD error = fresh ? 0 : GetLastError();
    const HWND old = replaceApiWindow(fresh);
    if (old)
        DestroyWindow(old);
    forgetSessions();
    {
        Lock lock(g_mutex);
        g_loggedIn = true;
    }
    addLine("restart old=" + hwndText(old) + " new=" + hwndText(fresh));
    if (!fresh)
        return finished(false, error);
    announce();
    return finished(true);
}

Outcome logOut() {
    HWND client;
    {
        Lock lock(g_mutex);
        g_loggedIn = false;
        client = g_attached;
    }
    forgetSessions();
    addLine("logout client=" + hwndText(client));
    const HWND from = apiWindow();
    if (!client || !from)
        return finished(false);
    return sendAttachMessage(from, client, kAttachNotAvailable);
}

Outcome logIn() {
    {
        Lock lock(g_mutex);
        g_loggedIn = true;
    }
    addLine("login");
    return announce();
}

Outcome decideFor(bool allow) {
    HWND client;
    bool loggedIn;
    {
        Lock lock(g_mutex);
        g_decision = allow ? Decision::Allowed : Decision::Refused;
        client = g_pending;
        g_pending = nullptr;
        loggedIn = g_loggedIn;
    }
    addLine(std::string("decision ") + (allow ? "allow" : "refuse") +
            " client=" + hwndText(client));
    const HWND from = apiWindow();
    if (!client || !from || !loggedIn)
        return finished(false);
    return attachClient(from, client, allow ? kAttachSuccess : kAttachRefused);
}

Outcome attachAsked(const Request& request) {
    const HWND from = senderWindow(request.notification.sender);
    if (request.notification.sender == Sender::Skype && !from)
        return finished(false, ERROR_INVALID_WINDOW_HANDLE);
    const HWND client = resolveTarget(request.notification.target);
    // Only Skype's own window attaches a client; another program's only
    // pretends to.
    return request.notification.sender == Sender::Skype
               ? attachClient(from, client, request.status)
               : sendAttachMessage(from, client, request.status);
}

void hangFor(RequestId id, DWORD ms) {
    char line[48];
    std::snprintf(line, sizeof line, "hang ms=%lu", static_cast<unsigned long>(ms));
    addLine(line);
    // Complete first: the caller's next move must meet a hung thread.
    complete(id, finished(true));
    Sleep(ms);
}

void runRequest(const Request& request) {
    Outcome outcome;
    switch (request.kind) {
    case RequestKind::Notify:
        outcome = sendNotificationMessage(request.notification);
        break;
    case RequestKind::Attach:
        outcome = attachAsked(request);
        break;
    case RequestKind::Leave:
        outcome = leave();
        break;
    case RequestKind::Return:
        outcome = comeBack();
        break;
    case RequestKind::Restart:
        outcome = restart();
        break;
    case RequestKind::LogOut:
        outcome = logOut();
        break;
    case RequestKind::LogIn:
        outcome = logIn();
        break;
    case RequestKind::Announce:
        outcome = announce();
        break;
    case RequestKind::Decide:
        outcome = decideFor(request.allow);
        break;
    case RequestKind::Forget: {
        Lock lock(g_mutex);
        g_decision = Decision::Undecided;
        outcome = finished(true);
        break;
    }
    case RequestKind::Sync:
        outcome = finished(true);
        break;
    case RequestKind::Hang:
        hangFor(request.id, request.ms);
        return;
    case RequestKind::Call:
        startScript(request.plan);
        outcome = finished(true);
        break;
    case RequestKind::Step:
        outcome = runNextStep();
        break;
    }
    complete(request.id, outcome);
}

void discardPendingRequests() {
    MSG message;
    while (PeekMessageA(&message, nullptr, kRequestMessage, kRequestMessage, PM_REMOVE))
        delete reinterpret_cast<Request*>(message.lParam);
}

// Handles what is queued; false once WM_QUIT came.
bool pumpSkypeThread() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            return false;
        if (!message.hwnd && message.message == kRequestMessage) {
            const Request* request = reinterpret_cast<const Request*>(message.lParam);
            runRequest(*request);
            delete request;
            continue;
        }
        DispatchMessageA(&message);
    }
    return true;
}

DWORD WINAPI skypeThread(LPVOID startedEvent) {
    const HWND other = CreateWindowExA(0, kOtherWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                       nullptr, GetModuleHandleA(nullptr), nullptr);
    const HWND api = createApiWindow();
    {
        Lock lock(g_mutex);
        g_otherWindow = other;
        g_apiWindow = api;
    }
    SetEvent(static_cast<HANDLE>(startedEvent));
    if (other && api) {
        do {
            MsgWaitForMultipleObjectsEx(0, nullptr, untilNextStep(), QS_ALLINPUT,
                                        MWMO_INPUTAVAILABLE);
            runDueSteps();
        } while (pumpSkypeThread());
    }
    discardPendingRequests();
    t_laterAnswers.clear();
    HWND window;
    {
        Lock lock(g_mutex);
        window = g_apiWindow;
        g_apiWindow = nullptr;
        g_otherWindow = nullptr;
    }
    if (window)
        DestroyWindow(window);
    if (other)
        DestroyWindow(other);
    return 0;
}

RequestId post(Request* request) {
    RequestId id;
    DWORD thread;
    {
        Lock lock(g_mutex);
        id = ++g_lastRequest;
        thread = g_threadId;
    }
    request->id = id;
    if (!thread ||
        !PostThreadMessageA(thread, kRequestMessage, 0, reinterpret_cast<LPARAM>(request))) {
        delete request;
        complete(id, finished(false, thread ? GetLastError() : ERROR_INVALID_THREAD_ID));
    }
    return id;
}

RequestId postSimple(RequestKind kind, DWORD ms = 0) {
    auto* request = new Request;
    request->kind = kind;
    request->ms = ms;
    return post(request);
}

// Fills in the ids a plan left 0; under g_mutex.
void assignCallIds(CallPlan& plan) {
    if (!plan.id)
        plan.id = g_nextCallId++;
    if (plan.script == CallScript::TwoCalls && !plan.otherId)
        plan.otherId = g_nextCallId++;
}

void resetState(const Config& config) {
    g_config = config;
    g_lastClient = nullptr;
    g_api = ApiState{};
    g_attached = nullptr;
    g_pending = nullptr;
    g_decision = Decision::Undecided;
    g_loggedIn = true;
    g_calls.clear();
    g_scripts.clear();
    g_steppedClock = 0;
    g_notificationsSent = 0;
}

template <typename T> std::vector<T> copyFrom(const std::vector<T>& items, size_t first) {
    Lock lock(g_mutex);
    return std::vector<T>(items.begin() + std::min(first, items.size()), items.end());
}

} // namespace

Config busy(Config config) {
    config.copyDataHangMs = kBusyAnswerMs;
    config.discoverHangMs = kBusyAnswerMs;
    return config;
}

Config realistic(HWND client) {
    Config config;
    config.client = client;
    config.answers = CommandAnswers::Later;
    config.checkRichMarkup = true;
    config.greetAfterAttach = true;
    config.blocking = Blocking::Alternate;
    config.dropSlowClients = true;
    config.onlyAttachedClients = true;
    config.announceOnReturn = true;
    config.sendTimeoutMs = kSlowClientMs;
    return config;
}

std::string CopyDataRecord::text() const {
    return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
}

bool CopyDataRecord::terminated() const {
    return std::find(bytes.begin(), bytes.end(), 0) != bytes.end();
}

bool CopyDataRecord::endsWithTwoZeros() const {
    const size_t n = bytes.size();
    return n >= 2 && bytes[n - 1] == 0 && bytes[n - 2] == 0;
}

std::string CopyDataRecord::escaped() const {
    return escapeBytes(bytes.data(), bytes.size());
}

bool moodTextOf(const std::string& command, std::string* mood, bool* rich) {
    static const std::string plain = "SET PROFILE MOOD_TEXT ";
    static const std::string richPrefix = "SET PROFILE RICH_MOOD_TEXT ";
    const bool isRich = command.compare(0, richPrefix.size(), richPrefix) == 0;
    if (!isRich && command.compare(0, plain.size(), plain) != 0)
        return false;
    if (mood)
        *mood = command.substr(isRich ? richPrefix.size() : plain.size());
    if (rich)
        *rich = isRich;
    return true;
}

Notification textNotification(const std::string& text) {
    Notification notification;
    notification.bytes.assign(text.begin(), text.end());
    notification.bytes.push_back(0);
    notification.cbData = static_cast<DWORD>(notification.bytes.size());
    return notification;
}

bool start(const Config& config) {
    if (running())
        return false;
    if (!registerClass(kApiWindowClass, apiWindowProc) ||
        !registerClass(kOtherWindowClass, DefWindowProcA))
        return false;
    clearHistory();
    const HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!started)
        return false;
    {
        Lock lock(g_mutex);
        resetState(config);
        g_discoverMessage = RegisterWindowMessageA(kDiscoverMessageName);
        g_attachMessage = RegisterWindowMessageA(kAttachMessageName);
    }
    DWORD id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, skypeThread, started, 0, &id);
    if (thread)
        WaitForSingleObject(started, INFINITE);
    CloseHandle(started);
    if (!thread)
        return false;
    {
        Lock lock(g_mutex);
        g_thread = thread;
        g_threadId = id;
        if (g_apiWindow && g_otherWindow)
            return true;
    }
    stop(); // the thread has ended or is ending on its own
    return false;
}

void stop() {
    HANDLE thread;
    DWORD id;
    {
        Lock lock(g_mutex);
        thread = g_thread;
        id = g_threadId;
    }
    if (!thread)
        return;
    PostThreadMessageA(id, WM_QUIT, 0, 0);
    // The Skype thread may be in a send to a window of ours: keep pumping.
    // Its sends and hangs are bounded, so this ends.
    pumpUntil([thread] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, INFINITE);
    CloseHandle(thread);
    Lock lock(g_mutex);
    g_thread = nullptr;
    g_threadId = 0;
    g_outcomes.clear();
}

bool running() {
    Lock lock(g_mutex);
    return g_thread != nullptr;
}

Config config() {
    return currentConfig();
}

void updateConfig(const std::function<void(Config&)>& change) {
    {
        Lock lock(g_mutex);
        change(g_config);
    }
    changed();
}

void setClient(HWND client) {
    updateConfig([client](Config& c) { c.client = client; });
}

void setAnswer(AnswerMode mode, LONG status) {
    updateConfig([mode, status](Config& c) {
        c.answerMode = mode;
        c.attachStatus = status;
    });
}

void setCopyDataResult(LRESULT result) {
    updateConfig([result](Config& c) { c.copyDataResult = result; });
}

void setCopyDataHang(DWORD ms) {
    updateConfig([ms](Config& c) { c.copyDataHangMs = ms; });
}

void setDiscoverHang(DWORD ms) {
    updateConfig([ms](Config& c) { c.discoverHangMs = ms; });
}

void setSendTimeout(UINT ms) {
    updateConfig([ms](Config& c) { c.sendTimeoutMs = ms; });
}

HWND skypeWindow() {
    return apiWindow();
}

HWND otherWindow() {
    Lock lock(g_mutex);
    return g_otherWindow;
}

HWND lastClient() {
    Lock lock(g_mutex);
    return g_lastClient;
}

Mood mood() {
    Lock lock(g_mutex);
    return g_api.mood;
}

bool moodSet() {
    Lock lock(g_mutex);
    return g_api.moodSet;
}

int clientProtocol() {
    Lock lock(g_mutex);
    return g_api.protocol;
}

HWND attachedClient() {
    Lock lock(g_mutex);
    return g_attached;
}

HWND pendingClient() {
    Lock lock(g_mutex);
    return g_pending;
}

Decision decision() {
    Lock lock(g_mutex);
    return g_decision;
}

bool loggedIn() {
    Lock lock(g_mutex);
    return g_loggedIn;
}

std::vector<CallState> calls() {
    return copyFrom(g_calls, 0);
}

std::size_t scriptStepsLeft() {
    Lock lock(g_mutex);
    std::size_t left = 0;
    for (const RunningScript& script : g_scripts)
        left += script.steps.size() - script.next;
    return left;
}

std::vector<CopyDataRecord> records(size_t first) {
    return copyFrom(g_records, first);
}

size_t recordCount() {
    Lock lock(g_mutex);
    return g_records.size();
}

std::vector<AttachSent> attachesSent() {
    return copyFrom(g_attaches, 0);
}

unsigned discoversSeen() {
    Lock lock(g_mutex);
    return g_discovers;
}

std::vector<SentMessage> sentMessages(size_t first) {
    return copyFrom(g_sent, first);
}

size_t sentCount() {
    Lock lock(g_mutex);
    return g_sent.size();
}

std::vector<std::string> answersSent() {
    std::vector<std::string> texts;
    for (const SentMessage& sent : sentMessages())
        if (sent.kind == SentKind::Answer)
            texts.push_back(sent.text);
    return texts;
}

std::vector<SlowClient> slowClients() {
    return copyFrom(g_slow, 0);
}

std::vector<std::string> transcript(size_t first) {
    return copyFrom(g_transcript, first);
}

void clearHistory() {
    Lock lock(g_mutex);
    g_records.clear();
    g_attaches.clear();
    g_sent.clear();
    g_slow.clear();
    g_transcript.clear();
    g_discovers = 0;
}

RequestId requestNotification(const Notification& notification) {
    auto* request = new Request;
    request->kind = RequestKind::Notify;
    request->notification = notification;
    return post(request);
}

RequestId requestAttach(LONG status, Sender sender, HWND target) {
    auto* request = new Request;
    request->kind = RequestKind::Attach;
    request->status = status;
    request->notification.sender = sender;
    request->notification.target = target;
    return post(request);
}

RequestId requestLeave() {
    return postSimple(RequestKind::Leave);
}
RequestId requestReturn() {
    return postSimple(RequestKind::Return);
}
RequestId requestRestart() {
    return postSimple(RequestKind::Restart);
}
RequestId requestLogOut() {
    return postSimple(RequestKind::LogOut);
}
RequestId requestLogIn() {
    return postSimple(RequestKind::LogIn);
}
RequestId requestAnnounce() {
    return postSimple(RequestKind::Announce);
}
RequestId requestForgetDecision() {
    return postSimple(RequestKind::Forget);
}
RequestId requestSync() {
    return postSimple(RequestKind::Sync);
}
RequestId requestHang(DWORD ms) {
    return postSimple(RequestKind::Hang, ms);
}
RequestId requestStep() {
    return postSimple(RequestKind::Step);
}

RequestId requestDecision(bool allow) {
    auto* request = new Request;
    request->kind = RequestKind::Decide;
    request->allow = allow;
    return post(request);
}

RequestId requestCall(const CallPlan& plan) {
    auto* request = new Request;
    request->kind = RequestKind::Call;
    request->plan = plan;
    {
        Lock lock(g_mutex);
        assignCallIds(request->plan);
    }
    return post(request);
}

CallPlan planCall(CallScript script) {
    CallPlan plan;
    plan.script = script;
    Lock lock(g_mutex);
    assignCallIds(plan);
    return plan;
}

bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD begin = GetTickCount();
    const HANDLE event = changeEvent();
    for (;;) {
        if (done())
            return true;
        const DWORD elapsed = GetTickCount() - begin;
        if (timeoutMs != INFINITE && elapsed >= timeoutMs)
            return false;
        DWORD step = kPumpStepMs;
        if (timeoutMs != INFINITE && timeoutMs - elapsed < step)
            step = timeoutMs - elapsed;
        MsgWaitForMultipleObjects(event ? 1 : 0, &event, FALSE, step, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam)); // leave it to the caller
                return done();
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

Outcome waitFor(RequestId id, DWORD timeoutMs) {
    const auto finished = [id] {
        Lock lock(g_mutex);
        return g_outcomes.count(id) != 0;
    };
    if (!pumpUntil(finished, timeoutMs))
        return Outcome{};
    Lock lock(g_mutex);
    const Outcome outcome = g_outcomes[id];
    g_outcomes.erase(id);
    return outcome;
}

Outcome sendNotification(const std::string& text) {
    return waitFor(requestNotification(textNotification(text)));
}

Outcome sendAttach(LONG status) {
    return waitFor(requestAttach(status));
}

bool hang(DWORD ms) {
    return waitFor(requestHang(ms)).completed;
}

bool sync() {
    return waitFor(requestSync()).completed;
}

Outcome decide(bool allow) {
    return waitFor(requestDecision(allow));
}

Outcome startCall(const CallPlan& plan) {
    return waitFor(requestCall(plan));
}

Outcome stepCall() {
    return waitFor(requestStep());
}

unsigned runCallsToEnd() {
    unsigned steps = 0;
    while (scriptStepsLeft() > 0 && stepCall().completed)
        ++steps;
    return steps;
}

} // namespace standin_skype
