// The stand-in Skype's session events: Skype exits, comes back or restarts
// with a new API window, the user logs out or in, and the user decides
// whether a program may use Skype.
#include "skype_state.h"

namespace standin_skype {
namespace detail {
namespace {

// Skype forgets its clients and questions and ends its calls (when it exits
// or the user logs out), telling no one; the user's decision and mood stay.
void forgetSessions() {
    {
        Lock lock(g_mutex);
        g_attached = nullptr;
        g_pending = nullptr;
        g_api.protocol = kInitialProtocol;
        g_scripts.clear();
        for (CallState& call : g_calls)
            if (isActiveCallStatus(call.status))
                call.status = "FINISHED";
    }
    t_laterAnswers.clear();
    changed();
}

HWND replaceApiWindow(HWND fresh) {
    Lock lock(g_mutex);
    const HWND old = g_apiWindow;
    g_apiWindow = fresh;
    return old;
}

} // namespace

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

} // namespace detail
} // namespace standin_skype
