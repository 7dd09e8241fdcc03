// The stand-in Skype program's command line, and the words its control
// commands share with it.
//
//   standin_skype.exe [--status N|none] [--answer MODE] [--client HEX]
//                     [--client-process PID] [--log FILE]
//                     [--at X,Y] [--real] [--answers none|nested|later] [--protocol N]
//                     [--greet on|off] [--ask] [--block never|always|alternate]
//                     [--drop on|off] [--user NAME]
//   standin_skype.exe --send "COMMAND"
//
// --status   the Attach status answered to a Discover (default 0, Success;
//            decimal or 0x hex); "none" answers nothing.
// --answer   when to answer: "immediate" (inside the Discover handler, while
//            the client's broadcast is in progress; the default), "deferred"
//            (sent once the handler returned) or "posted" (posted, so the
//            client sees it only after its broadcast returned).
// --client   answer only the Discover of this window (hex handle).
// --client-process  answer only windows of this process (decimal id).
// --log      append the transcript to FILE instead of writing it to stdout.
// --at       put the window's top left corner at screen point X,Y.
// --real     behave as Skype does: answer every command (later), greet after
//            attaching, SMTO_BLOCK on every other notification, drop a client
//            slower than 1 s, take commands only from the attached client,
//            announce the API on return. The options after it still apply.
// --answers  how commands are answered: not at all (the default without
//            --real), "nested" (inside the command's send) or "later".
// --protocol Skype's own highest protocol (default 8).
// --greet    CONNSTATUS, CURRENTUSERHANDLE and USERSTATUS after an attach.
// --ask      ask the user before a client may attach (Allow / Refuse).
// --block    which notifications are sent with SMTO_BLOCK.
// --drop     drop a client that takes over 1 s to take a notification.
// --user     the user's handle (CURRENTUSERHANDLE).
// --send     hand COMMAND to the running stand-in and exit (0 when taken).
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

#include "standin_skype.h"

namespace skype_app {

namespace sk = standin_skype;

template <typename T> struct Named {
    const char* name;
    T value;
};

inline constexpr Named<sk::AnswerMode> kAnswerModes[] = {
    {"immediate", sk::AnswerMode::Immediate},
    {"deferred", sk::AnswerMode::Deferred},
    {"posted", sk::AnswerMode::Posted},
};
inline constexpr Named<sk::CommandAnswers> kCommandAnswers[] = {
    {"none", sk::CommandAnswers::None},
    {"nested", sk::CommandAnswers::Nested},
    {"later", sk::CommandAnswers::Later},
};
inline constexpr Named<sk::Blocking> kBlockings[] = {
    {"never", sk::Blocking::Never},
    {"always", sk::Blocking::Always},
    {"alternate", sk::Blocking::Alternate},
};
inline constexpr Named<bool> kSwitches[] = {{"on", true}, {"off", false}};

template <typename T, size_t N>
bool parseNamed(const std::string& text, const Named<T> (&names)[N], T* value) {
    for (const Named<T>& named : names)
        if (text == named.name) {
            *value = named.value;
            return true;
        }
    return false;
}

template <typename T, size_t N> const char* nameOf(T value, const Named<T> (&names)[N]) {
    for (const Named<T>& named : names)
        if (named.value == value)
            return named.name;
    return "none";
}

struct Options {
    sk::Config config;
    std::string logPath;
    std::string sendCommand;
    bool send = false;
    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
    // --answer's mode, which "status" goes back to after "none".
    sk::AnswerMode answerMode = sk::AnswerMode::Immediate;
};

// "none" or a status, decimal or 0x hex.
bool parseStatus(const std::string& text, bool* none, LONG* status);
// From 1 to 0xFFFF, decimal.
bool parseNumber(const std::string& text, int* number);
// The behaviours both the command line and the control commands set.
bool applySetting(const std::string& name, const std::string& value, sk::Config* config);
bool parseOptions(int argc, char** argv, Options* options);

} // namespace skype_app
