// The stand-in Skype client as a process of its own beside the player: started
// as the documented client (--real), driven by its control commands, and read
// back through the transcript file it writes.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "standin_skype.h"

namespace demo {

// The kinds of line the stand-in Skype writes, by their first words.
enum class SkypeEvent {
    Discover, // discover from=CLIENT
    Attach,   // attach [posted] to=CLIENT from=SKYPE status=N delivered=D result=R
    Announce, // announce from=SKYPE status=N delivered=D
    Received, // recv from=CLIENT dwData=N cbData=N [refused] "BYTES"
    Sent, // answer|notify to=CLIENT from=SKYPE cbData=N delivered=D result=R kind=K block=B "BYTES"
    SlowClient,      // slow client=CLIENT timed out|answered late[, dropped] on "TEXT"
    Restart,         // restart old=SKYPE new=SKYPE
    Leave,           // leave window=SKYPE
    Return,          // return window=SKYPE
    LogOut,          // logout client=CLIENT
    LogIn,           // login
    Decision,        // decision allow|refuse client=CLIENT
    Hang,            // hang ms=N
    CallScript,      // call script=NAME id=N [other=N]
    CallStepNotSent, // call step not sent, no client attached: "TEXT"
    Control,         // control "COMMAND" [refused]
    Other,
};

// One transcript line taken apart. Fields a line lacks stay zero.
struct SkypeLine {
    SkypeEvent event = SkypeEvent::Other;
    std::string line;  // as Skype wrote it
    std::string bytes; // its quoted part, unescaped: every byte
    standin_skype::SentKind sentKind = standin_skype::SentKind::Notification;
    HWND client = nullptr; // the client's window: to=, or from= of what a client sent, client=
    HWND skype = nullptr;  // Skype's API window: from= of what Skype sent, window=, new=
    HWND oldSkype = nullptr;
    unsigned long status = 0;
    unsigned long cbData = 0;
    unsigned long dwData = 0;
    unsigned long ms = 0;
    unsigned long callId = 0;
    long result = 0;
    bool delivered = false;
    bool blocking = false; // sent with SMTO_BLOCK
    bool refused = false;  // a command not carried out, or a refused decision
    bool posted = false;
    bool timedOut = false;
    bool dropped = false;
    std::string word; // a call script's name

    // The bytes up to the first zero.
    std::string text() const;
};

struct SkypeLaunch {
    std::string program;
    std::string logPath;       // Skype appends; it is deleted first
    DWORD clientProcess = 0;   // Skype serves only windows of this process
    HWND controller = nullptr; // the window the demo's control commands come from
    POINT at{};
};

// Ends stand-in Skypes left running by an interrupted run, which would answer
// our Discover too. Returns how many there were.
int closeLeftoverSkypes();
// Starts Skype and waits for its window; false with `error` when it fails.
bool startSkype(const SkypeLaunch& launch, std::string* error);
// Tells Skype to exit; false when it had to be ended by force.
bool stopSkype();
bool controlSkype(const std::string& command);
HWND skypeAppWindow();
DWORD skypeProcessId();
// What Skype wrote since the last call, after making it write out all so far.
std::vector<SkypeLine> newSkypeLines();

} // namespace demo
