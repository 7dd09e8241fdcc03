// The host window and module instance the user interface works with, and the
// gate that keeps tray actions away while a modal dialog is open.
#pragma once
#include <windows.h>

void bindUiHost(HWND host, HINSTANCE module);
HWND uiHostWindow();
HINSTANCE uiModule();

int noModalDialogOpen();
void setNoModalDialogOpen(int value);
