// What the stand-in Skype sends its client in WM_COPYDATA: notifications,
// answers, greetings and the steps of calls, each on a guarded data block,
// and the slow clients it notes (and drops) on the way.
#include "skype_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace standin_skype {
namespace detail {
namespace {

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
    const bool block = nextSendBlocks(settings.blocking);
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

} // namespace

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

} // namespace detail

Notification textNotification(const std::string& text) {
    Notification notification;
    notification.bytes.assign(text.begin(), text.end());
    notification.bytes.push_back(0);
    notification.cbData = static_cast<DWORD>(notification.bytes.size());
    return notification;
}

} // namespace standin_skype
