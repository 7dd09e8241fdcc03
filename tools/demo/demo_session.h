// The demo's scripted session, run by `standin_player.exe --script demo`: the
// real plug-in in the stand-in player, the stand-in Skype client beside it as
// a process of its own that behaves as the documented Skype does, and a session
// through both (songs with Cyrillic and Japanese titles, calls, a Skype
// restart, the options dialog, a stream's new title, quitting) with a check of
// what Skype received and sent after every step. The player expects the ANSI
// code page 1251 (LC_ALL=ru_RU.CP1251 under Wine).
//
// It prints a transcript in UTF-8. With a snapshots folder it prints
// "@@snapshot NAME" at the key moments and waits, still pumping, until
// FOLDER\NAME.ack exists, so that whoever reads the output can take a picture
// of the screen first.
#pragma once
#include <windows.h>

#include <string>

struct DemoOptions {
    std::string plugin;
    std::string ini;       // empty: a temporary file
    std::string skype;     // the stand-in Skype program; empty: the one beside this program
    std::string skypeLog;  // its transcript file; empty: skype.log in the current folder
    std::string snapshots; // where the acknowledgements appear; empty: no snapshots
    DWORD paceMs = 0;      // lingering after each step, for a person watching
};

// Returns the exit code: 0 when every step ran and every check passed.
int runDemoSession(const DemoOptions& options);
