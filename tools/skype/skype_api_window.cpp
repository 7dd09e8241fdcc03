// The stand-in Skype's API window: the Discover and Attach messages and the
// commands that come in WM_COPYDATA, and the message filter of an elevated
// client that everything Skype sends must pass.
#include "skype_state.h"

#include "message_filter.h"

#include <cstdio>

namespace standin_skype {
namespace detail {
namespace {

BOOL CALLBACK collectTopLevel(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
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
    if (settings.answerMode == AnswerMode::Deferred)
        PostMessageA(window, kDeferredAttachMessage, reinterpret_cast<WPARAM>(client), status);
    else
        attachClient(window, client, status, settings.answerMode == AnswerMode::Posted);
    if (settings.discoverHangAfterAnswerMs)
        Sleep(settings.discoverHangAfterAnswerMs);
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
    WaitForSingleObject(copyDataReleased(), kDefaultWaitMs);
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
        g_api.activeCalls.clear();
        for (const CallState& call : g_calls)
            if (isActiveCallStatus(call.status))
                g_api.activeCalls.push_back(call.id);
        result = runCommand(command, g_api);
    }
    changed();
    ++t_commandDepth;
    answer(window, sender, result.answer, settings.answers);
    --t_commandDepth;
    return settings.copyDataResult;
}

} // namespace

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

// ---- The window ----

HWND apiWindow() {
    Lock lock(g_mutex);
    return g_apiWindow;
}

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

Outcome sendAttachMessage(HWND from, HWND client, LONG status, bool post) {
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

Outcome attachClient(HWND from, HWND client, LONG status, bool post) {
    beforeAttach(client, status);
    const Outcome outcome = sendAttachMessage(from, client, status, post);
    afterAttach(client, status, outcome.delivered);
    return outcome;
}

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

HANDLE copyDataReleased() {
    static HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    return event;
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

HWND createApiWindow() {
    return CreateWindowExA(0, kApiWindowClass, "Skype API (stand-in)", WS_OVERLAPPED, 0, 0, 0, 0,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

} // namespace detail
} // namespace standin_skype
