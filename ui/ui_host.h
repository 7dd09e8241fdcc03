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

// What one dialog of ours does with a message; runModalDialog does the rest.
using DialogHandler = void (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows a dialog resource of the module, modal, until it ends. The skeleton
// every dialog of ours shares: its loop counts as ours, quit knows the dialog
// from WM_INITDIALOG to WM_DESTROY and can end it, nothing the handler throws
// reaches the system, and every message is answered 0. The handler sees
// WM_INITDIALOG with its lParam in use.
void runModalDialog(int resource, HWND owner, DialogHandler handler);

// Quit has run: whatever is still open must not write settings or add icons.
bool uiShutDown();
// Marks the user interface shut down and ends every dialog that is still
// open. Returns whether a modal loop of ours is still on the stack.
bool shutDownUi();
