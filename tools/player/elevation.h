// The elevated player's side of Windows' message filter: a plug-in that looks
// up the filter functions gets the emulation that the stand-in Skype obeys.
#pragma once
#include <windows.h>

namespace standin {

// Points the plug-in's GetProcAddress at a look-up that answers
// ChangeWindowMessageFilter and ChangeWindowMessageFilterEx of user32 with the
// emulation (message_filter.h) and everything else as the system does.
void answerFilterLookUps(HMODULE plugin);

} // namespace standin
