// The stand-in Skype's thread and the requests it carries out for its
// callers, its life cycle and its live settings, and the waits that pump the
// caller's messages meanwhile. Its other parts: skype_transcript.cpp,
// skype_api_window.cpp, skype_sending.cpp, skype_session.cpp and
// skype_calls.cpp, which share skype_state.h.
#include "skype_state.h"

#include <cstdio>
#include <map>

namespace standin_skype {
namespace detail {

constexpr unsigned kFirstCallId = 101;

win32::Mutex g_mutex;
Config g_config;
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

ApiState g_api;
HWND g_attached = nullptr;
HWND g_pending = nullptr;
Decision g_decision = Decision::Undecided;
bool g_loggedIn = true;
std::vector<CallState> g_calls;
std::vector<RunningScript> g_scripts;
DWORD g_steppedClock = 0;
unsigned g_nextCallId = kFirstCallId;
unsigned g_notificationsSent = 0;

std::deque<LaterAnswer> t_laterAnswers;
int t_commandDepth = 0;

namespace {

constexpr char kOtherWindowClass[] = "TralmoStandInOtherProgram";
// A thread message whose lParam is a Request the Skype thread takes over.
constexpr UINT kRequestMessage = WM_APP + 1;
// Longest sleep of a pumping wait between two looks at its condition.
constexpr DWORD kPumpStepMs = 20;
// Outcomes nobody waited for (the program's buttons) are dropped past this.
constexpr size_t kMaxOutcomes = 256;

enum class RequestKind {
    Notify,
    Attach,
    Leave,
    Return,
    Restart,
    LogOut,
    LogIn,
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

// Guarded by g_mutex too.
HANDLE g_thread = nullptr;
DWORD g_threadId = 0;
RequestId g_lastRequest = 0;
std::map<RequestId, Outcome> g_outcomes;

void complete(RequestId id, const Outcome& outcome) {
    {
        Lock lock(g_mutex);
        if (g_outcomes.size() >= kMaxOutcomes)
            g_outcomes.erase(g_outcomes.begin());
        g_outcomes[id] = outcome;
    }
    SetEvent(changeEvent());
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

bool running() {
    Lock lock(g_mutex);
    return g_thread != nullptr;
}

} // namespace

Config currentConfig() {
    Lock lock(g_mutex);
    return g_config;
}

Outcome finished(bool delivered, DWORD error) {
    Outcome outcome;
    outcome.completed = true;
    outcome.delivered = delivered;
    outcome.error = error;
    return outcome;
}

} // namespace detail

using namespace detail;

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

bool start(const Config& config) {
    if (running())
        return false;
    if (!registerClass(kApiWindowClass, apiWindowProc) ||
        !registerClass(kOtherWindowClass, DefWindowProcA))
        return false;
    clearHistory();
    holdCopyData(false);
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
    holdCopyData(false);
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

void updateConfig(const std::function<void(Config&)>& change) {
    {
        Lock lock(g_mutex);
        change(g_config);
    }
    changed();
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

void holdCopyData(bool hold) {
    if (hold)
        ResetEvent(copyDataReleased());
    else
        SetEvent(copyDataReleased());
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
    while (snapshot().scriptStepsLeft > 0 && stepCall().completed)
        ++steps;
    return steps;
}

} // namespace standin_skype
