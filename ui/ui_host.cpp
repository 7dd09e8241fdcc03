#include "ui/ui_host.h"

#include "ui/guarded.h"

#include <algorithm>
#include <vector>

namespace {

HWND gHost = nullptr;
HINSTANCE gModule = nullptr;
int gNoModalDialogOpen = 1;
int gModalLoopDepth = 0;
bool gShutDown = false;
std::vector<HWND> gOpenDialogs;

} // namespace

void bindUiHost(HWND host, HINSTANCE module) {
    gHost = host;
    gModule = module;
    // A second init after quit starts as the first did.
    gNoModalDialogOpen = 1;
    gShutDown = false;
    gOpenDialogs.clear();
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

ModalLoop::ModalLoop() {
    ++gModalLoopDepth;
}
ModalLoop::~ModalLoop() {
    --gModalLoopDepth;
}

namespace {

void dialogOpened(HWND dialog) {
    gOpenDialogs.push_back(dialog);
}

void dialogClosed(HWND dialog) {
    gOpenDialogs.erase(std::remove(gOpenDialogs.begin(), gOpenDialogs.end(), dialog),
                       gOpenDialogs.end());
}

INT_PTR CALLBACK ourDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    guarded([&] {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
            dialogOpened(dialog);
        }
        const auto handler =
            reinterpret_cast<DialogHandler>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
        if (handler != nullptr)
            handler(dialog, message, wParam, lParam);
        if (message == WM_DESTROY)
            dialogClosed(dialog);
    });
    return 0;
}

} // namespace

void runModalDialog(int resource, HWND owner, DialogHandler handler) {
    const ModalLoop loop;
    DialogBoxParamA(gModule, MAKEINTRESOURCEA(resource), owner, ourDialogProc,
                    reinterpret_cast<LPARAM>(handler));
}

bool uiShutDown() {
    return gShutDown;
}

bool shutDownUi() {
    gShutDown = true;
    // Ending a dialog only asks its loop to return; it leaves when control
    // comes back to it.
    for (HWND dialog : gOpenDialogs)
        EndDialog(dialog, 0);
    return gModalLoopDepth > 0;
}
