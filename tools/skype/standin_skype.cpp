#include "standin_skype.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace standin_skype {
namespace {

constexpr char kOtherWindowClass[] = "TralmoStandInOtherProgram";
// A thread message whose lParam is a Request the Skype thread takes over.
constexpr UINT kRequestMessage = WM_APP + 1;
// Posted to the API window by a Deferred Discover; wParam is the client.
constexpr UINT kDeferredAttachMessage = WM_APP + 2;
// Longest sleep of a pumping wait between two looks at its condition.
constexpr DWORD kPumpStepMs = 20;
// Outcomes nobody waited for (the program's buttons) are dropped past this.
constexpr size_t kMaxOutcomes = 256;

enum class RequestKind { Notify, Attach, Leave, Return, Hang };

struct Request {
    RequestId id = 0;
    RequestKind kind = RequestKind::Notify;
    Notification notification; // Notify; its sender and target also serve Attach
    LONG status = 0;           // Attach
    DWORD ms = 0;              // Hang
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

// Everything below is guarded by g_mutex.
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
std::vector<std::string> g_transcript;
unsigned g_discovers = 0;
RequestId g_lastRequest = 0;
std::map<RequestId, Outcome> g_outcomes;

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

void addLine(const std::string& line) {
    HWND observer;
    UINT message;
    {
        Lock lock(g_mutex);
        g_transcript.push_back(line);
        observer = g_config.observer;
        message = g_config.observerMessage;
    }
    SetEvent(changeEvent());
    if (observer)
        PostMessageA(observer, message, 0, 0);
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
    outcome.delivered = post ? PostMessageA(client, message, window, status) != 0
                             : SendMessageTimeoutA(client, message, window, status, SMTO_NORMAL,
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

Outcome sendNotificationMessage(const Notification& notification) {
    const HWND target = resolveTarget(notification.target);
    const HWND from = senderWindow(notification.sender);
    if (notification.sender == Sender::Skype && !from)
        return finished(false, ERROR_INVALID_WINDOW_HANDLE); // Skype is away
    const DWORD size =
        std::min<DWORD>(notification.cbData, static_cast<DWORD>(notification.bytes.size()));
    GuardedBlock block(notification.bytes.data(), size);
    COPYDATASTRUCT record{notification.dwData, size,
                          notification.nullData ? nullptr : block.data()};

    DWORD_PTR result = 0;
    Outcome outcome;
    outcome.completed = true;
    outcome.delivered = SendMessageTimeoutA(target, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                                            reinterpret_cast<LPARAM>(&record), SMTO_NORMAL,
                                            currentConfig().sendTimeoutMs, &result) != 0;
    outcome.error = outcome.delivered ? 0 : GetLastError();
    outcome.result = static_cast<LRESULT>(result);
    char tail[96];
    std::snprintf(tail, sizeof tail, " cbData=%lu delivered=%d result=%ld",
                  static_cast<unsigned long>(size), outcome.delivered ? 1 : 0,
                  static_cast<long>(outcome.result));
    addLine(
        "notify to=" + hwndText(target) + " from=" + hwndText(from) + tail + " \"" +
        (notification.nullData ? "<null lpData>" : escapeBytes(notification.bytes.data(), size)) +
        "\"");
    return outcome;
}

LRESULT onDiscover(HWND window, HWND client) {
    const Config settings = currentConfig();
    if (settings.client && client != settings.client)
        return 0; // another test's broadcast
    {
        Lock lock(g_mutex);
        ++g_discovers;
        g_lastClient = client;
    }
    addLine("discover from=" + hwndText(client));
    if (settings.discoverHangMs)
        Sleep(settings.discoverHangMs);
    switch (settings.answerMode) {
    case AnswerMode::Immediate:
        sendAttachMessage(window, client, settings.attachStatus);
        break;
    case AnswerMode::Deferred:
        PostMessageA(window, kDeferredAttachMessage, reinterpret_cast<WPARAM>(client), 0);
        break;
    case AnswerMode::Posted:
        sendAttachMessage(window, client, settings.attachStatus, true);
        break;
    case AnswerMode::None:
        break;
    }
    return 1;
}

LRESULT onCopyData(HWND sender, const COPYDATASTRUCT* data) {
    if (!data) {
        addLine("recv from=" + hwndText(sender) + " without a COPYDATASTRUCT");
        return 0;
    }
    CopyDataRecord record;
    record.sender = sender;
    record.dwData = data->dwData;
    record.cbData = data->cbData;
    record.nullData = data->lpData == nullptr;
    if (data->lpData) {
        const auto* bytes = static_cast<const unsigned char*>(data->lpData);
        record.bytes.assign(bytes, bytes + data->cbData);
    }
    char head[96];
    std::snprintf(head, sizeof head, " dwData=%lu cbData=%lu \"",
                  static_cast<unsigned long>(record.dwData),
                  static_cast<unsigned long>(record.cbData));
    const std::string line = "recv from=" + hwndText(sender) + head +
                             (record.nullData ? "<null lpData>" : record.escaped()) + "\"";
    {
        Lock lock(g_mutex);
        g_records.push_back(std::move(record));
    }
    addLine(line);
    const Config settings = currentConfig();
    if (settings.copyDataHangMs)
        Sleep(settings.copyDataHangMs);
    return settings.copyDataResult;
}

LRESULT CALLBACK apiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA)
        return onCopyData(reinterpret_cast<HWND>(wParam),
                          reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    if (message == kDeferredAttachMessage) {
        sendAttachMessage(window, reinterpret_cast<HWND>(wParam), currentConfig().attachStatus);
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

void runRequest(const Request& request) {
    switch (request.kind) {
    case RequestKind::Notify:
        complete(request.id, sendNotificationMessage(request.notification));
        return;
    case RequestKind::Attach: {
        const HWND from = senderWindow(request.notification.sender);
        if (request.notification.sender == Sender::Skype && !from) {
            complete(request.id, finished(false, ERROR_INVALID_WINDOW_HANDLE));
            return;
        }
        complete(request.id, sendAttachMessage(from, resolveTarget(request.notification.target),
                                               request.status));
        return;
    }
    case RequestKind::Leave: {
        HWND window;
        {
            Lock lock(g_mutex);
            window = g_apiWindow;
            g_apiWindow = nullptr;
        }
        if (window)
            DestroyWindow(window);
        addLine("leave window=" + hwndText(window));
        complete(request.id, finished(window != nullptr));
        return;
    }
    case RequestKind::Return: {
        HWND window = apiWindow();
        if (!window) {
            window = createApiWindow();
            Lock lock(g_mutex);
            g_apiWindow = window;
        }
        addLine("return window=" + hwndText(window));
        complete(request.id, finished(window != nullptr, window ? 0 : GetLastError()));
        return;
    }
    case RequestKind::Hang: {
        char line[48];
        std::snprintf(line, sizeof line, "hang ms=%lu", static_cast<unsigned long>(request.ms));
        addLine(line);
        // Complete first: the caller's next move must meet a hung thread.
        complete(request.id, finished(true));
        Sleep(request.ms);
        return;
    }
    }
}

void discardPendingRequests() {
    MSG message;
    while (PeekMessageA(&message, nullptr, kRequestMessage, kRequestMessage, PM_REMOVE))
        delete reinterpret_cast<Request*>(message.lParam);
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
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (!message.hwnd && message.message == kRequestMessage) {
                const Request* request = reinterpret_cast<const Request*>(message.lParam);
                runRequest(*request);
                delete request;
                continue;
            }
            DispatchMessageA(&message);
        }
    }
    discardPendingRequests();
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

} // namespace

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
        g_config = config;
        g_lastClient = nullptr;
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

void setClient(HWND client) {
    Lock lock(g_mutex);
    g_config.client = client;
}

void setAnswer(AnswerMode mode, LONG status) {
    Lock lock(g_mutex);
    g_config.answerMode = mode;
    g_config.attachStatus = status;
}

void setCopyDataResult(LRESULT result) {
    Lock lock(g_mutex);
    g_config.copyDataResult = result;
}

void setCopyDataHang(DWORD ms) {
    Lock lock(g_mutex);
    g_config.copyDataHangMs = ms;
}

void setDiscoverHang(DWORD ms) {
    Lock lock(g_mutex);
    g_config.discoverHangMs = ms;
}

void setSendTimeout(UINT ms) {
    Lock lock(g_mutex);
    g_config.sendTimeoutMs = ms;
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

std::vector<CopyDataRecord> records(size_t first) {
    Lock lock(g_mutex);
    return std::vector<CopyDataRecord>(g_records.begin() + std::min(first, g_records.size()),
                                       g_records.end());
}

size_t recordCount() {
    Lock lock(g_mutex);
    return g_records.size();
}

std::vector<AttachSent> attachesSent() {
    Lock lock(g_mutex);
    return g_attaches;
}

unsigned discoversSeen() {
    Lock lock(g_mutex);
    return g_discovers;
}

std::vector<std::string> transcript(size_t first) {
    Lock lock(g_mutex);
    return std::vector<std::string>(g_transcript.begin() + std::min(first, g_transcript.size()),
                                    g_transcript.end());
}

void clearHistory() {
    Lock lock(g_mutex);
    g_records.clear();
    g_attaches.clear();
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
RequestId requestHang(DWORD ms) {
    return postSimple(RequestKind::Hang, ms);
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

} // namespace standin_skype
