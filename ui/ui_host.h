// The host window and module instance the user interface works with, the gate
// that keeps tray actions away while a modal dialog is open, and what quit
// must know of the dialogs and modal loops that are still running.
#pragma once
#include <windows.h>

// Also starts the user interface afresh, as at the first init.
void bindUiHost(HWND host, HINSTANCE module);
HWND uiHostWindow();
HINSTANCE uiModule();

int noModalDialogOpen();
void setNoModalDialogOpen(int value);

// Counts a modal loop of ours (a dialog, a message box, the popup menu) for
// as long as it runs: quit may come from inside one, with our code still on
// the stack.
class ModalLoop {
  public:
    ModalLoop();
    ~ModalLoop();
    ModalLoop(const ModalLoop&) = delete;
    ModalLoop& operator=(const ModalLoop&) = delete;
};

// Every dialog of ours between its WM_INITDIALOG and its WM_DESTROY.
void dialogOpened(HWND dialog);
void dialogClosed(HWND dialog);

// Quit has run: whatever is still open must not write settings or add icons.
bool uiShutDown();
// Marks the user interface shut down and ends every dialog that is still
// open. Returns whether a modal loop of ours is still on the stack.
bool shutDownUi();
