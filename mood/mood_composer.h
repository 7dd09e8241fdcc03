// Keeps the Skype mood text in step with the song and its play state.
#pragma once
#include <windows.h>

#include "mood/mood_text.h"

// Asks the host for its play state and composes when it changed.
void pollPlayState(HWND host);

// Builds the mood for `state` from the user's template and sends it.
void MoodComposer(HWND host, PlayState state);

PlayState lastPlayState();
