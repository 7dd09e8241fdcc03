#include "ui/ui_host.h"

namespace {

HWND gHost = nullptr;
HINSTANCE gModule = nullptr;
int gNoModalDialogOpen = 1;

} // namespace

void bindUiHost(HWND host, HINSTANCE module) {
    gHost = host;
    gModule = module;
}

HWND uiHostWindow() {
    return gHost;
}
HINSTANCE uiModule() {
    return gModule;
}

int noModalDialogOpen() {
    return gNoModalDialogOpen;
}
void setNoModalDialogOpen(int value) {
    gNoModalDialogOpen = value;
}
