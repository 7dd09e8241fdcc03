// Keeps the Skype mood text in step with the song and its play state.
#pragma once
#include <windows.h>

#include "mood/mood_text.h"

// Asks the host for its play state and composes when it changed.
void pollPlayState(HWND host);

// The host's status callback: a poll, and while the host plays on, a title
// that changed without a new song (a stream's next title) is published too.
void onStatusChanged(HWND host);

// A Skype window that has just attached holds nothing of ours: publish what
// the host plays or pauses now; a stopped host composes only on a change.
void publishAfterAttach(HWND host);

// Builds the mood for `state` from the user's template and sends it.
void MoodComposer(HWND host, PlayState state);

// The mood on exit, once: at quit or when the host's window goes, whichever
// comes first (the host may destroy its window before it calls quit). From
// then on no other mood reaches Skype. Sent only with "Set mood on exit" on.
void publishExitMood(HWND host);

PlayState lastPlayState();
// What the module remembers goes back to how it was when the library loaded.
void resetMoodState();
