// Shared by the start-up, shut-down, dispatch and settings tests: matching the
// plug-in's recorded system calls and finding them in order.
#pragma once
#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace spine {

constexpr UINT kDiscoveryPeriodMs = 5000;
constexpr UINT kMainIconId = 0;
constexpr UINT kFirstButtonIconId = 1; // button i has id 1 + i
constexpr int kButtonCount = 5;
constexpr UINT kFirstButtonToggle = 10102; // command of button i is this + i
inline const DWORD_PTR kBroadcast = reinterpret_cast<DWORD_PTR>(HWND_BROADCAST);

using CallMatch = std::function<bool(const ApiCall&)>;

struct Step {
    std::string what;
    CallMatch matches;
};

inline DWORD_PTR handle(const void* h) {
    return reinterpret_cast<DWORD_PTR>(h);
}

inline std::string describeCall(const ApiCall& call) {
    std::string line = call.function + "(";
    for (std::size_t i = 0; i < call.args.size(); ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%s0x%lx", i ? ", " : "",
                      static_cast<unsigned long>(call.args[i]));
        line += number;
    }
    line += ")";
    if (call.function == "Shell_NotifyIconA") {
        char icon[32];
        std::snprintf(icon, sizeof icon, " id %u", call.icon.uID);
        line += icon;
    }
    if (!call.text.empty())
        line += " \"" + call.text + "\"";
    return line;
}

inline std::string describeCalls(const std::vector<ApiCall>& calls) {
    std::string all;
    for (std::size_t i = 0; i < calls.size(); ++i)
        all += "  " + std::to_string(i) + ": " + describeCall(calls[i]) + "\n";
    return all;
}

inline std::size_t countCalls(const std::vector<ApiCall>& calls, const CallMatch& matches) {
    std::size_t count = 0;
    for (const ApiCall& call : calls)
        count += matches(call) ? 1 : 0;
    return count;
}

// Finds every step after the one before it; fails the test naming the first
// step that is missing or out of place.
inline void expectInOrder(const std::vector<ApiCall>& calls, const std::vector<Step>& steps) {
    std::size_t next = 0;
    for (const Step& step : steps) {
        std::size_t found = next;
        while (found < calls.size() && !step.matches(calls[found]))
            ++found;
        if (found == calls.size()) {
            ADD_FAILURE() << "missing or out of order: " << step.what << "\nrecorded calls:\n"
                          << describeCalls(calls);
            return;
        }
        next = found + 1;
    }
}

// ---- Matchers ------------------------------------------------------------------

inline CallMatch named(const char* function) {
    return [=](const ApiCall& c) { return c.function == function; };
}

inline CallMatch namedAnyOf(const std::vector<std::string>& functions) {
    return [=](const ApiCall& c) {
        return std::find(functions.begin(), functions.end(), c.function) != functions.end();
    };
}

// The window's procedure replaced, through either character set.
inline CallMatch windowProcSet(HWND window) {
    return [=](const ApiCall& c) {
        return (c.function == "SetWindowLongA" || c.function == "SetWindowLongW") &&
               c.args[0] == handle(window) && static_cast<int>(c.args[1]) == GWL_WNDPROC;
    };
}

inline CallMatch timerStarted(HWND window) {
    return [=](const ApiCall& c) {
        return c.function == "SetTimer" && c.args[0] == handle(window) &&
               c.args[1] == kDiscoveryTimer && c.args[2] == kDiscoveryPeriodMs && c.args[3] == 0;
    };
}

inline CallMatch timerKilled(HWND window) {
    return [=](const ApiCall& c) {
        return c.function == "KillTimer" && c.args[0] == handle(window) &&
               c.args[1] == kDiscoveryTimer;
    };
}

inline CallMatch trayIcon(DWORD action, UINT id) {
    return [=](const ApiCall& c) {
        return c.function == "Shell_NotifyIconA" && c.args[0] == action && c.icon.uID == id;
    };
}

inline CallMatch menuCheck(UINT item, UINT mark) {
    return [=](const ApiCall& c) {
        return c.function == "CheckMenuItem" && c.args[1] == item &&
               c.args[2] == (MF_BYCOMMAND | mark);
    };
}

inline CallMatch anyMenuCheck() {
    return named("CheckMenuItem");
}

inline CallMatch hostSend(HWND host, UINT message, WPARAM wParam, LPARAM lParam) {
    return [=](const ApiCall& c) {
        return c.function == "SendMessageA" && c.args[0] == handle(host) && c.args[1] == message &&
               c.args[2] == wParam && c.args[3] == static_cast<DWORD_PTR>(lParam);
    };
}

inline CallMatch registered(const char* name) {
    return
        [=](const ApiCall& c) { return c.function == "RegisterWindowMessageA" && c.text == name; };
}

inline CallMatch discoverBroadcast(HWND client) {
    const UINT discover = registeredMessage("SkypeControlAPIDiscover");
    return [=](const ApiCall& c) {
        return c.function == "SendMessageTimeoutA" && c.args[0] == kBroadcast &&
               c.args[1] == discover && c.args[2] == handle(client);
    };
}

inline CallMatch copyDataSend() {
    return [](const ApiCall& c) {
        return c.function == "SendMessageTimeoutA" && c.args[1] == WM_COPYDATA;
    };
}

// A write of section "Tralmo", key `key`, whatever the value.
inline CallMatch iniWrite(const std::string& key) {
    const std::string prefix = "Tralmo/" + key + "=";
    return
        [=](const ApiCall& c) { return namedAnyOf(kIniWrites)(c) && c.text.rfind(prefix, 0) == 0; };
}

} // namespace spine
