#include "link_watch.h"

#include "api_recorder.h"
#include "stats.h"

#include "skype/link_threads.h"
#include "win32_mutex.h"

#include <algorithm>

namespace bench {
namespace {

using SendFn = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR);
using PostFn = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);

win32::Mutex gLock;
LinkSends gSends;
// Set whenever a send returns: a waiting player's thread wakes at once.
const HANDLE gReturned = CreateEventA(nullptr, FALSE, FALSE, nullptr);

LRESULT countedSend(SendFn system, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                    UINT flags, UINT timeout, PDWORD_PTR answer) {
    {
        win32::Lock locked(gLock);
        ++gSends.inFlight;
    }
    DWORD_PTR result = 0;
    const double start = now();
    const LRESULT sent = system(window, message, wParam, lParam, flags, timeout, &result);
    const double seconds = now() - start;
    if (answer != nullptr)
        *answer = result;
    {
        win32::Lock locked(gLock);
        --gSends.inFlight;
        ++gSends.finished;
        gSends.seconds += seconds;
        gSends.lastReturned = start + seconds;
        if (window == HWND_BROADCAST) {
            ++gSends.broadcasts;
            gSends.noticesDue += sent != 0 ? 1 : 0;
        } else if (sent == 0 || result == 0) {
            ++gSends.failed;
            ++gSends.noticesDue;
        }
    }
    SetEvent(gReturned);
    return sent;
}

bool isNotice(UINT message) {
    return message == kLinkNotice;
}

// The plug-in's other posts (to the host window) are no notices. A notice to
// a link window already gone (quit left a broadcast on its way) counts too.
BOOL countedPost(PostFn system, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const BOOL posted = system(window, message, wParam, lParam);
    if (isNotice(message)) {
        {
            win32::Lock locked(gLock);
            ++gSends.noticesPosted;
        }
        SetEvent(gReturned);
    }
    return posted;
}

// PeekMessage also handles the messages other threads send this one.
void dispatchPending() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

constexpr char kPreviousProcedure[] = "TralmoBenchLinkProcedure";
double gLinkWindowSeconds = 0; // on the player's thread alone

LRESULT CALLBACK timedLinkProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto previous = reinterpret_cast<WNDPROC>(GetPropA(window, kPreviousProcedure));
    const double start = now();
    const LRESULT result = CallWindowProcA(previous, window, message, wParam, lParam);
    gLinkWindowSeconds += now() - start;
    if (message == WM_NCDESTROY)
        RemovePropA(window, kPreviousProcedure);
    return result;
}

} // namespace

bool watchLink(HMODULE plugin) {
    if (!hookImport(plugin, reinterpret_cast<const void*>(&SendMessageTimeoutA)) ||
        !hookImport(plugin, reinterpret_cast<const void*>(&PostMessageA)))
        return false;
    overrideApi(&SendMessageTimeoutA, countedSend);
    overrideApi(&PostMessageA, countedPost);
    return true;
}

LinkSends linkSends() {
    win32::Lock locked(gLock);
    return gSends;
}

bool pumpUntilLink(const std::function<bool()>& done, DWORD boundMs, DWORD lookEveryMs) {
    const double end = now() + boundMs / 1000.0;
    for (;;) {
        dispatchPending();
        if (done())
            return true;
        const double left = end - now();
        if (left <= 0)
            return false;
        const DWORD wait = std::min<DWORD>(static_cast<DWORD>(left * 1000) + 1, lookEveryMs);
        MsgWaitForMultipleObjects(1, &gReturned, FALSE, wait, QS_ALLINPUT);
    }
}

void pumpForLink(DWORD ms) {
    pumpUntilLink([] { return false; }, ms);
}

bool settleLink(DWORD quietMs, DWORD boundMs) {
    const double quiet = quietMs / 1000.0;
    long started = -1;
    double since = now();
    return pumpUntilLink(
        [&] {
            const LinkSends sends = linkSends();
            const long nowStarted = sends.finished + sends.inFlight;
            if (nowStarted != started || sends.inFlight != 0 ||
                sends.noticesPosted < sends.noticesDue) {
                started = nowStarted;
                since = now();
            }
            return now() - since >= quiet;
        },
        boundMs, std::max<DWORD>(quietMs / 4, 1));
}

bool timeLinkWindow(HWND link) {
    const auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(link, GWLP_WNDPROC));
    if (previous == nullptr ||
        !SetPropA(link, kPreviousProcedure, reinterpret_cast<HANDLE>(previous)))
        return false;
    SetWindowLongPtrA(link, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&timedLinkProcedure));
    return true;
}

double linkWindowSeconds() {
    return gLinkWindowSeconds;
}

bool waitForLinkSends(const LinkSends& before, long count, DWORD boundMs) {
    const bool done = pumpUntilLink(
        [&] {
            const LinkSends sends = linkSends();
            return sends.finished >= before.finished + count && sends.inFlight == 0 &&
                   sends.noticesPosted >= sends.noticesDue;
        },
        boundMs);
    dispatchPending(); // a notice posted as the condition turned
    return done;
}

} // namespace bench
